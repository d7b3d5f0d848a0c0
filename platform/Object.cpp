#include "platform/Object.h"

namespace platform {

Object* WeakObjectRef::get() const {
    const auto life = life_.lock();
    return life ? *life : nullptr;
}

Object::Object() : life_(std::make_shared<Object*>(this)) {}

// Clearing the shared cell makes every weak reference read as null from here on, even a
// copy taken while a message to this object is still on the stack.
Object::~Object() {
    *life_ = nullptr;
}

bool Object::respondsToSelector(const Selector& selector) const {
    return methods_.find(selector) != methods_.end();
}

bool Object::performSelector(const Selector& selector, Object* argument) {
    const auto found = methods_.find(selector);
    if (found == methods_.end()) {
        return false;
    }
    // A copy, so that a method that replaces itself (or destroys this object) runs safely.
    const Method method = found->second;
    method(argument);
    return true;
}

void Object::addMethod(const Selector& selector, Method method) {
    methods_[selector] = std::move(method);
}

}  // namespace platform
