#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/Color.h"
#include "platform/Geometry.h"
#include "platform/Object.h"
#include "platform/WindowLevel.h"

namespace platform {

class PlatformWindow;
class Screen;
class View;

// Window style flags (NSWindowStyleMask).
enum NSWindowStyleMask : std::uint64_t {
    NSWindowStyleMaskBorderless = 0,
    NSWindowStyleMaskTitled = 1 << 0,
    NSWindowStyleMaskClosable = 1 << 1,
    NSWindowStyleMaskMiniaturizable = 1 << 2,
    NSWindowStyleMaskResizable = 1 << 3,
    NSWindowStyleMaskFullSizeContentView = 1 << 15,
};

// How a window's content is kept (NSBackingStoreType).
enum class NSBackingStoreType : std::uint64_t {
    NSBackingStoreRetained = 0,
    NSBackingStoreNonretained = 1,
    NSBackingStoreBuffered = 2,
};

// How a window takes part in Spaces, Mission Control and window cycling
// (NSWindowCollectionBehavior).
enum NSWindowCollectionBehavior : std::uint64_t {
    NSWindowCollectionBehaviorDefault = 0,
    NSWindowCollectionBehaviorCanJoinAllSpaces = 1 << 0,
    NSWindowCollectionBehaviorMoveToActiveSpace = 1 << 1,
    NSWindowCollectionBehaviorManaged = 1 << 2,
    NSWindowCollectionBehaviorTransient = 1 << 3,
    NSWindowCollectionBehaviorStationary = 1 << 4,
    NSWindowCollectionBehaviorParticipatesInCycle = 1 << 5,
    NSWindowCollectionBehaviorIgnoresCycle = 1 << 6,
};

// A window on screen (NSWindow). Subclasses change how the window system treats it by
// overriding canBecomeKey, canBecomeMain and constrainFrameRect, which the backend asks.
class Window : public Object {
public:
    // A window whose content area is `contentRect` (global desktop coordinates), with the
    // given style, backing and defer flag; not yet shown.
    Window(Rect contentRect, std::uint64_t styleMask, NSBackingStoreType backing, bool defer);
    ~Window() override;

    // Whether the window may take keyboard focus; asked before focusing it. By default, a
    // titled window may and a borderless one may not.
    virtual bool canBecomeKey() const;
    // Whether the window may become the main window; asked before making it main. By
    // default, as canBecomeKey.
    virtual bool canBecomeMain() const;
    // The frame the window will take when it is placed at `frameRect`, asked before every
    // placement. By default, the window system's own rule (which keeps a titled window's
    // title bar on `screen`).
    virtual Rect constrainFrameRect(Rect frameRect, const Screen* screen) const;

    // The window's frame as the window system has it now, in global desktop coordinates.
    Rect frame() const;
    // The style flags the window was made with.
    std::uint64_t styleMask() const { return styleMask_; }

    // Fills the content area with `color` and redraws it.
    void setBackgroundColor(const Color& color);
    // The colour the content area is filled with.
    const Color& backgroundColor() const { return backgroundColor_; }
    // Moves the window to stacking level `level`.
    void setLevel(WindowLevel level);
    WindowLevel level() const { return level_; }
    // Sets how the window takes part in Spaces, Mission Control and window cycling.
    void setCollectionBehavior(std::uint64_t behavior);
    std::uint64_t collectionBehavior() const { return collectionBehavior_; }
    // Whether mouse events pass through the window (true) or are taken by it (false).
    void setIgnoresMouseEvents(bool ignores);
    bool ignoresMouseEvents() const { return ignoresMouseEvents_; }

    // Shows the window in front of the others of its level without making it key.
    void orderFront(Object* sender);
    // Hides the window; it keeps all its settings and can be shown again.
    void orderOut(Object* sender);
    // Shows the window in front and gives it keyboard focus if it can become key.
    void makeKeyAndOrderFront(Object* sender);
    // Whether the window is on screen now.
    bool isVisible() const;
    // Takes the window off screen for good; the object stays valid until its owner drops it.
    void close();

    // Makes the title bar draw no background of its own, so that the content shows through.
    void setTitlebarAppearsTransparent(bool transparent);
    bool titlebarAppearsTransparent() const { return titlebarAppearsTransparent_; }
    // Sets the title text shown in the title bar.
    void setTitle(const std::string& title);
    const std::string& title() const { return title_; }
    // Lets a drag anywhere on the window's background move the window.
    void setMovableByWindowBackground(bool movable);
    bool isMovableByWindowBackground() const { return movableByWindowBackground_; }
    // Accepted for AppKit's shape; the window's C++ owner decides when it goes.
    void setReleasedWhenClosed(bool /*released*/) {}
    // Places the window centred on the screen.
    void center();
    // Makes `view` the content view, sized to the content area; the window owns it.
    void setContentView(std::unique_ptr<View> view);
    // The content view, or null when none was set.
    View* contentView() const { return contentView_.get(); }

    // The backend's window behind this one.
    PlatformWindow& platformWindow() const { return *platformWindow_; }

private:
    std::uint64_t styleMask_;
    Color backgroundColor_;
    WindowLevel level_ = NSNormalWindowLevel;
    std::uint64_t collectionBehavior_ = NSWindowCollectionBehaviorDefault;
    bool ignoresMouseEvents_ = false;
    bool titlebarAppearsTransparent_ = false;
    std::string title_;
    bool movableByWindowBackground_ = false;
    std::unique_ptr<View> contentView_;
    std::unique_ptr<PlatformWindow> platformWindow_;
};

}  // namespace platform
