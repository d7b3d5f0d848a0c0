#pragma once

#include <xcb/xcb.h>

#include <QRect>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Color.h"
#include "platform/qt/QtX11.h"

namespace platform::qt {

// The WM_CLASS of the program's windows: instance and class name, each ending in a NUL, as
// Qt writes it on the program's other windows.
inline const std::string kVellumorWindowClass("vellumor\0Vellumor\0", 18);

// What a window manager is told about a bare window before it is mapped.
struct BareWindowHints {
    // _NET_WM_STATE atoms by name.
    std::vector<std::string> states;
    // On every virtual desktop (_NET_WM_DESKTOP 0xFFFFFFFF).
    bool allDesktops = false;
    // Whether the window accepts keyboard focus (WM_HINTS input).
    bool acceptsFocus = false;
    // Whether it takes the pointer's clicks.
    bool takesClicks = true;
    // Whether the window manager takes it on; if not, the window is override-redirect: no
    // manager places, frames or stacks it, and the program keeps its place in the stack.
    bool managed = true;
    friend bool operator==(const BareWindowHints&, const BareWindowHints&) = default;
};

class QtDesktopStack;

// An X window that nothing draws into: the server fills it with its background pixel. Used
// for windows below the normal level, which hold one colour edge to edge: a client-side
// buffer would cost width x height x 4 bytes per display (32 MiB at 3840x2160) for nothing.
// It is made directly in X11 pixels rather than through QWindow, whose geometry is in
// Qt's scaled units and whose show() writes its own window type.
class QtBareWindow final {
public:
    // An unmapped window at `geometry` (X11 root coordinates), known to `stack` while it
    // lives, which hands it the server's news of it (see noteMapped).
    QtBareWindow(X11Connection& x11, QtDesktopStack& stack, const QRect& geometry);
    ~QtBareWindow();
    QtBareWindow(const QtBareWindow&) = delete;
    QtBareWindow& operator=(const QtBareWindow&) = delete;

    xcb_window_t id() const { return window_; }
    // Whether the window was asked to be on screen (and not taken off since).
    bool isMapped() const { return mapped_; }
    // What the window looks like to the server and the window manager: its rectangle, the
    // pixel it is filled with, and the hints last written.
    const QRect& geometry() const { return geometry_; }
    std::uint32_t backgroundPixel() const { return pixel_; }
    const BareWindowHints& hints() const { return hints_; }

    // Moves and resizes the window.
    void setGeometry(const QRect& geometry);
    // Fills the window with `color` now and whenever the server redraws it.
    void setBackground(const Color& color);
    // Writes the window's type, states, desktop and focus hints. A window manager reads them
    // when the window is mapped and drops some of them when it is unmapped, so they are
    // written before every map.
    void setHints(const BareWindowHints& hints);
    // Puts the window on screen: the window manager stacks a managed one in the desktop layer;
    // an override-redirect one goes in at the very bottom of the stack.
    void map();
    // Takes the window off screen (withdrawn, as ICCCM asks).
    void unmap();

    // The number the stack gave the window's last map request that the window manager has not
    // answered yet (by mapping the window or taking it into a frame); 0 when there is none.
    std::uint64_t unansweredMap() const { return unansweredMap_; }
    // The window manager answered the map request: the server mapped the window, or the
    // manager gave it a parent of its own.
    void noteMapped() { unansweredMap_ = 0; }
    // Asks again to map a window whose request the window manager dropped; the hints written
    // for the first request stand.
    void mapAgain();
    // Whether the server has mapped the window since it was last asked to (MapNotify): a
    // manager maps a window once it has taken it on and placed it in its stacking list.
    bool isShown() const { return shown_; }
    void noteShown(bool shown) { shown_ = shown && mapped_; }

private:
    void writeSizeHints();
    void requestMap();

    X11Connection& x11_;
    QtDesktopStack& stack_;
    xcb_window_t window_;
    QRect geometry_;
    std::uint32_t pixel_ = 0;
    BareWindowHints hints_;
    bool mapped_ = false;
    bool shown_ = false;
    bool overrideRedirect_ = false;
    std::uint64_t unansweredMap_ = 0;
};

}  // namespace platform::qt
