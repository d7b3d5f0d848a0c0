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
    // Only the receivers of this post are taken first: observers may register, or be
    // destroyed, while it is delivered.
    std::vector<std::pair<WeakObjectRef, Selector>> receivers;
    for (const Registration& entry : registrations_) {
        if (entry.name == name && (entry.object == nullptr || entry.object == object)) {
            receivers.emplace_back(entry.observer, entry.selector);
        }
    }
    for (const auto& [observer, selector] : receivers) {
        if (Object* live = observer.get()) {
            live->performSelector(selector, nullptr);
        }
    }
}

}  // namespace platform
