#include "platform/NotificationCenter.h"

#include <algorithm>

#include "platform/Runtime.h"

namespace platform {

NotificationCenter& NotificationCenter::defaultCenter() {
    return runtime().notificationCenter;
}

void NotificationCenter::addObserver(Object& observer, const Selector& selector,
                                     const NotificationName& name, const Object* object) {
    // Registrations of observers that are gone are dropped here rather than on destruction,
    // so the list stays as long as the live observers need and no more.
    std::erase_if(registrations_,
                  [](const Registration& entry) { return entry.observer.get() == nullptr; });
    registrations_.push_back({observer.weakRef(), selector, name, object});
    platformIntegration().trace("addObserver " + selector + " " + name);
}

void NotificationCenter::postNotificationName(const NotificationName& name, const Object* object) {
    platformIntegration().trace("post " + name);
    // A snapshot: observers may register, or be destroyed, while the post is delivered.
    const std::vector<Registration> snapshot = registrations_;
    for (const Registration& entry : snapshot) {
        if (entry.name != name) {
            continue;
        }
        if (entry.object != nullptr && entry.object != object) {
            continue;
        }
        if (Object* observer = entry.observer.get()) {
            observer->performSelector(entry.selector, nullptr);
        }
    }
}

}  // namespace platform
