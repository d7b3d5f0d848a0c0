#pragma once

#include <memory>

#include "platform/Image.h"
#include "platform/Object.h"

namespace platform {

class Window;

// What kind of presence the program has on the desktop (NSApplicationActivationPolicy).
enum class NSApplicationActivationPolicy : std::int64_t {
    NSApplicationActivationPolicyRegular = 0,
    // No Dock icon or taskbar entry and no menu bar of its own.
    NSApplicationActivationPolicyAccessory = 1,
    NSApplicationActivationPolicyProhibited = 2,
};

// The messages the application object sends its delegate (NSApplicationDelegate). A
// delegate answers those it implements by selector, like any other object.
class ApplicationDelegate : public Object {};

// The process's application object (NSApplication): the event loop, the delegate and the
// end of the first-responder chain.
class Application final : public Object {
public:
    // The one application object of the process.
    static Application& sharedApplication();

    // Links the delegate without owning it; the link reads as none once it is destroyed.
    void setDelegate(ApplicationDelegate* delegate);
    // The delegate, or null.
    ApplicationDelegate* delegate() const;
    // Runs the main event loop. Once launching is done it sends
    // "applicationDidFinishLaunching:" to the delegate, from inside the loop, exactly once.
    void run();
    // Changes the program's presence on the desktop; whether the change was made.
    bool setActivationPolicy(NSApplicationActivationPolicy policy);
    // Brings the program to the front, so that what it shows next takes the user's input.
    void activateIgnoringOtherApps(bool ignoreOtherApps);
    // Ends the program: the process ends without returning to the caller.
    void terminate(Object* sender);
    // The program's icon, or null when it has none.
    std::shared_ptr<const Image> applicationIconImage() const;

    // The object that answers `action`: `target` when given and it answers, otherwise the
    // first of the key window, this object and the delegate that answers; null if none does.
    Object* targetForAction(const Selector& action, Object* target) const;
    // Sends `action` to targetForAction(action, target) with `sender` as argument; whether
    // some object answered it.
    bool sendAction(const Selector& action, Object* target, Object* sender);

    // Called by the backend from inside its event loop once launching is done.
    void finishLaunching();

    Application() = default;

private:
    WeakObjectRef delegate_;
    bool launched_ = false;
};

}  // namespace platform
