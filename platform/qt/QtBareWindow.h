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
};

// An X window that nothing draws into: the server fills it with its background pixel. Used
// for windows below the normal level, which hold one colour edge to edge: a client-side
// buffer would cost width x height x 4 bytes per display (32 MiB at 3840x2160) for nothing.
// It is made directly in X11 pixels rather than through QWindow, whose geometry is in
// Qt's scaled units and whose show() writes its own window type.
class QtBareWindow final {
public:
    // An unmapped window at `geometry` (X11 root coordinates).
    QtBareWindow(X11Connection& x11, const QRect& geometry);
    ~QtBareWindow();
    QtBareWindow(const QtBareWindow&) = delete;
    QtBareWindow& operator=(const QtBareWindow&) = delete;

    xcb_window_t id() const { return window_; }
    bool isMapped() const { return mapped_; }

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
    // Whether the server has the window unmapped although it was asked to map it: a window
    // manager took the request and did nothing with it.
    bool mapWasDropped();

private:
    void writeSizeHints();

    X11Connection& x11_;
    xcb_window_t window_;
    QRect geometry_;
    bool mapped_ = false;
    bool overrideRedirect_ = false;
};

}  // namespace platform::qt
