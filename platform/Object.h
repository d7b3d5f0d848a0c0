#pragma once

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

namespace platform {

// A message name as the platform's target/action and notification mechanisms carry it, for
// example "openAbout" or "colorPanelAction:" (SEL).
using Selector = std::string;

class Object;

// A reference that does not keep its object alive and reads as null once the object is gone
// (a zeroing weak reference).
class WeakObjectRef final {
public:
    WeakObjectRef() = default;
    // The object, or null when it has been destroyed or none was set.
    Object* get() const;

private:
    friend class Object;
    explicit WeakObjectRef(std::weak_ptr<Object*> life) : life_(std::move(life)) {}
    std::weak_ptr<Object*> life_;
};

// The root of everything that can receive messages by selector (NSObject). Subclasses make
// their operations reachable by name with addMethod, the way a class lists its methods.
class Object {
public:
    Object();
    virtual ~Object();
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    // Whether a message with this selector would be answered.
    bool respondsToSelector(const Selector& selector) const;
    // Sends the message with its one argument (null for none); false when it is not answered.
    bool performSelector(const Selector& selector, Object* argument = nullptr);
    // A weak reference to this object.
    WeakObjectRef weakRef() const { return WeakObjectRef(life_); }

protected:
    using Method = std::function<void(Object* argument)>;
    // Makes `method` answer `selector`; a later method for the same selector replaces it.
    void addMethod(const Selector& selector, Method method);

private:
    std::unordered_map<Selector, Method> methods_;
    std::shared_ptr<Object*> life_;
};

// A weak reference to `object`, or an empty one when `object` is null.
inline WeakObjectRef weakRefTo(const Object* object) {
    return object != nullptr ? object->weakRef() : WeakObjectRef();
}

}  // namespace platform
