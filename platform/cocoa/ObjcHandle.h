#pragma once

// Objective-C++ only. The backend is built with manual retain/release (-fno-objc-arc), so
// every Objective-C object the C++ side keeps is held through this type.

#import <Foundation/Foundation.h>

#include <utility>

namespace platform::cocoa {

// One strong reference to an Objective-C object: a copy retains, destruction releases.
template <class T>
class ObjcHandle final {
public:
    ObjcHandle() = default;

    // Takes over a reference the caller already owns (from alloc/init, new or copy).
    static ObjcHandle adopt(T* object) {
        ObjcHandle handle;
        handle.object_ = object;
        return handle;
    }
    // Takes a new reference to an object the caller does not own (autoreleased or borrowed).
    static ObjcHandle retain(T* object) {
        [object retain];
        return adopt(object);
    }

    ObjcHandle(const ObjcHandle& other) : object_(other.object_) { [object_ retain]; }
    ObjcHandle(ObjcHandle&& other) noexcept : object_(std::exchange(other.object_, nil)) {}
    ObjcHandle& operator=(const ObjcHandle& other) {
        // Retain before release, so that assigning a handle to itself keeps the object.
        [other.object_ retain];
        [object_ release];
        object_ = other.object_;
        return *this;
    }
    ObjcHandle& operator=(ObjcHandle&& other) noexcept {
        if (this != &other) {
            [object_ release];
            object_ = std::exchange(other.object_, nil);
        }
        return *this;
    }
    ~ObjcHandle() { [object_ release]; }

    T* get() const { return object_; }
    explicit operator bool() const { return object_ != nil; }
    // Drops the reference now.
    void reset() { *this = ObjcHandle(); }

private:
    T* object_ = nil;
};

}  // namespace platform::cocoa
