#pragma once

#include <xcb/xcb.h>

#include <QTimer>

#include <map>
#include <optional>
#include <vector>

#include "platform/qt/QtCoalescedCall.h"
#include "platform/qt/QtStacking.h"
#include "platform/qt/QtX11.h"

namespace platform::qt {

class QtWindow;

// The desktop stack: the program's bare windows (the overlays), kept directly above the
// desktop windows and below every other window, on every monitor and virtual desktop. Where
// the window manager keeps a desktop layer (it lists the desktop window type as supported),
// they are its desktop windows, and the program only lifts them over foreign desktop windows
// of that layer. Where none does (i3 4.22 knows no desktop windows; or no manager runs),
// they are override-redirect windows, which no manager takes on, and the program keeps them
// at the bottom of the root's stack itself. Whoever keeps the stack is followed as managers
// start, end and are replaced.
class QtDesktopStack final {
public:
    // Watches the root window; `windows` is the platform's list of windows, read at each pass.
    QtDesktopStack(X11Connection& x11, const std::vector<QtWindow*>& windows);
    QtDesktopStack(const QtDesktopStack&) = delete;
    QtDesktopStack& operator=(const QtDesktopStack&) = delete;

    // Whether the window manager keeps the desktop layer (see above); asked of the server on
    // first use and again after the manager changed.
    bool keptByWindowManager();
    // Asks for a check, on the next pass of the event loop, that the stack lies directly
    // above the desktop windows.
    void changed() { restack_.request(); }
    // A desktop-stack window was asked to map: checks for a while that the window manager did
    // map it (see checkWindowsMapped).
    void windowMapped();
    // Puts a desktop-stack window in front of the others of the stack.
    void raise(xcb_window_t window);
    // Notes what may call for a pass: the manager's properties on the root, the end of its
    // check window, and a desktop-stack window moved by someone else. Safe to call from a
    // native event filter: the work is done on the next pass of the event loop.
    void noteEvent(const xcb_generic_event_t& event);

private:
    // Asks the server whether a manager that keeps a desktop layer runs, and watches the check
    // window of the one that runs for its end.
    bool readKeeper();
    bool isOurs(xcb_window_t window) const;
    void restack();
    // The windows of `bottomToTop` by kind; reads the kinds of those not seen on the last pass.
    std::vector<StackedWindow> classify(const std::vector<std::uint32_t>& bottomToTop,
                                        const std::vector<xcb_window_t>& ours);
    void restackUnderManager(const std::vector<xcb_window_t>& ours);
    void restackAtBottom(const std::vector<xcb_window_t>& ours);
    void sendRestack(xcb_window_t window, xcb_window_t sibling);
    void checkWindowsMapped();

    X11Connection& x11_;
    const std::vector<QtWindow*>& windows_;
    xcb_atom_t clientListStacking_ = XCB_ATOM_NONE;
    xcb_atom_t supportingWmCheck_ = XCB_ATOM_NONE;
    xcb_atom_t supported_ = XCB_ATOM_NONE;
    std::optional<bool> keptByManager_;
    // Whether the manager may have changed since keptByManager_ was read.
    bool keeperStale_ = false;
    xcb_window_t managerCheck_ = XCB_WINDOW_NONE;
    // What each window of the last stacking list read is, but for ours.
    std::map<xcb_window_t, StackedWindow::Kind> foreignKinds_;
    QTimer mapCheck_;
    int mapChecksLeft_ = 0;
    CoalescedCall restack_;
};

}  // namespace platform::qt
