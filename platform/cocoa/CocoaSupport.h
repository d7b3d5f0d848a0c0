#pragma once

// Objective-C++ only: what the cocoa backend's files share. The backend is built with manual
// retain/release; functions returning an Objective-C object give an autoreleased one unless
// they return an ObjcHandle.

#import <AppKit/AppKit.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "platform/PlatformIntegration.h"
#include "platform/cocoa/ObjcHandle.h"

namespace platform {
class Menu;
class View;
}  // namespace platform

// The Objective-C face of one C++ object: it answers respondsToSelector: exactly as the C++
// object does and delivers those messages to it, so that AppKit's target/action and
// responder chain reach C++ objects unchanged. Once the C++ object is gone it answers nothing.
@interface VLMObjectForwarder : NSObject {
@private
    // Heap-held: the instance variables stay plain data, so that no Objective-C runtime has
    // to construct or destroy C++ members of an Objective-C object.
    platform::WeakObjectRef* _object;
}
- (id)initForwardingTo:(platform::Object*)object;
// The C++ object that messages go to now, or null.
- (platform::Object*)forwardedObject;
@end

// The native window behind one platform::Window. What AppKit asks the window about itself
// (whether it can become key or main, where it may be placed) is asked of the owner, and it
// answers the owner's selectors in the responder chain.
@interface VLMWindow : NSWindow {
@private
    platform::Window* _owner;
}
- (id)initWithOwner:(platform::Window*)owner
        contentRect:(NSRect)contentRect
          styleMask:(NSWindowStyleMask)styleMask;
- (platform::Window*)owner;
// Cuts the link to the owner: from now on the window answers AppKit on its own.
- (void)detachOwner;
// NSWindow's own constrainFrameRect:toScreen:, whatever the owner answers.
- (NSRect)appKitConstrainFrameRect:(NSRect)frameRect toScreen:(NSScreen*)screen;
@end

// The NSMenu shown for one platform::Menu. Its entries are rebuilt from the C++ menu each
// time AppKit is about to show it, so the C++ menu stays the one description. Entries keep
// the program's selectors and, without a target of their own, go up AppKit's responder
// chain, which decides whether they are enabled.
@interface VLMMenuBridge : NSObject <NSMenuDelegate> {
@private
    platform::WeakObjectRef* _source;
    NSMenu* _menu;
    NSMutableArray* _targets;
}
- (id)initWithMenu:(platform::Menu*)menu;
- (NSMenu*)nativeMenu;
// Rebuilds the entries from the C++ menu.
- (void)refresh;
@end

namespace platform::cocoa {

// --- Strings, geometry and property-list values.
NSString* toNSString(const std::string& text);
std::string toStdString(NSString* text);
NSRect toNSRect(Rect rect);
Rect fromNSRect(NSRect rect);
// The Foundation object for `value` (NSString, NSNumber, NSData or NSDate), or nil when the
// text is not valid UTF-8.
id propertyObject(const PropertyValue& value);
// The value of a property-list scalar; nothing for containers and other objects.
std::optional<PropertyValue> propertyValue(id object);

// --- Native objects carried by C++ values.
// A handle that keeps `object` retained until the last copy is dropped.
std::shared_ptr<const void> retainedHandle(id object);
// The object behind such a handle, or nil.
id objectFromHandle(const std::shared_ptr<const void>& handle);

// --- Colours and images.
// The NSColor for `color`: the one it came from when it has one, else one built from its
// space and components.
NSColor* nativeColor(const Color& color);
// A colour that carries `color` itself, described as closely as its space allows.
Color colorFromNative(NSColor* color);
// The NSImage for `image`, or nil when the system has no such image.
NSImage* nativeImage(const Image& image);

// --- Message forwarding shared by VLMObjectForwarder and VLMWindow.
// Whether `object` answers `selector`.
bool answers(const Object* object, SEL selector);
// The method signature for a message `object` answers (void return, an object per
// argument), or nil.
NSMethodSignature* forwardingSignature(const Object* object, SEL selector);
// Delivers the message in `invocation` to `object`, with the sender translated to its C++
// object; whether it was answered.
bool deliver(Object* object, NSInvocation* invocation);
// The C++ object an Objective-C sender stands for (menu entries, windows, forwarders), or
// null.
Object* objectForSender(id sender);
// The C++ object that `object` forwards to if it is a VLMObjectForwarder, or null.
Object* forwardedObjectOf(id object);

// --- The backend's pieces, one file each.
std::unique_ptr<PlatformWindow> makeWindow(Window& owner, Rect contentRect);
std::unique_ptr<PlatformStatusItem> makeStatusItem(double length);
std::unique_ptr<PlatformColorPanel> makeColorPanel(ColorPanel& panel);
// Makes the native view tree of `root` the content of `window` and activates the tree's
// constraints, batch by batch as the program activated them; null empties the window.
void installContentView(NSWindow* window, View* root);

}  // namespace platform::cocoa
