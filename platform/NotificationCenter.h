#pragma once

#include <string>
#include <vector>

#include "platform/Object.h"

namespace platform {

// A notification name (NSNotificationName).
using NotificationName = std::string;

// Posted by the platform when displays are attached, detached, resized or rearranged.
inline const NotificationName NSApplicationDidChangeScreenParametersNotification =
    "NSApplicationDidChangeScreenParametersNotification";

// The process's notification centre (NSNotificationCenter).
class NotificationCenter final {
public:
    // The one centre of the process.
    static NotificationCenter& defaultCenter();

    // Every later notification called `name` (from `object`, or from any sender when null) is
    // delivered by sending `selector` to `observer`. The centre does not keep the observer
    // alive; a destroyed observer simply stops receiving, without unregistering.
    void addObserver(Object& observer, const Selector& selector, const NotificationName& name,
                     const Object* object);
    // Delivers to every live observer registered for `name` (and this sender) synchronously,
    // on the calling thread, in registration order, before returning. Observers registered
    // during delivery receive the next post, not this one.
    void postNotificationName(const NotificationName& name, const Object* object);

    NotificationCenter() = default;
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

private:
    struct Registration {
        WeakObjectRef observer;
        Selector selector;
        NotificationName name;
        const Object* object;
    };
    std::vector<Registration> registrations_;
};

}  // namespace platform
