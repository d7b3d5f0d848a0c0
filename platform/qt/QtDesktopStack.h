#pragma once

#include <xcb/xcb.h>

#include <QTimer>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "platform/qt/QtBareWindow.h"
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
    // Asks for a check that the stack lies directly above the desktop windows: on the next
    // pass of the event loop where the program keeps the stack, once the manager's stacking
    // list has settled where the manager keeps it.
    void changed();
    // Follows a bare window from its making to its end: the server's news of it reaches it
    // through noteEvent.
    void bareWindowCreated(QtBareWindow& window);
    void bareWindowDestroyed(QtBareWindow& window);
    // A managed bare window asked to be mapped: the number of that request, in the order the
    // requests were made, for the window to wait for the manager's answer with.
    std::uint64_t mapRequested();
    // Keeps a closed window that is on screen until the end of this pass of the event loop,
    // so that a window made in the same pass with the same looks takes it over (see
    // takeParked) without it ever leaving the screen; destroys it then if none did.
    void park(std::unique_ptr<QtBareWindow> window);
    // Destroys the parked windows now, once the windows of a pass are known to be made.
    void dropParked();
    // A parked window with this rectangle (X11 root coordinates), background pixel and hints,
    // on screen; null when there is none.
    std::unique_ptr<QtBareWindow> takeParked(const QRect& geometry, std::uint32_t pixel,
                                             const BareWindowHints& hints);
    // Whether the server shows every bare window that was asked to be on screen.
    bool everyMappedWindowShown() const;
    // The background pixel of the bare windows (all of one colour), or nothing without any.
    std::optional<std::uint32_t> backgroundPixel() const;
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
    // The manager answered the map request of `window`, if it is one of ours that waited.
    void mapAnswered(xcb_window_t window);
    // Maps again the windows whose request came before `before` and has had no answer.
    void remapUnanswered(std::uint64_t before);
    void checkUnansweredMaps();
    // The manager's stacking list changed: the stack is checked on the next pass of the event
    // loop once the manager has mapped the windows it was asked to (see awaitingManager).
    void stackingListChanged();
    // Whether a window of ours is still to be mapped by the manager within the first wait for
    // its answer, so that the stacking list is still to change.
    bool awaitingManager() const;
    void restack();
    // The windows of `bottomToTop` by kind; reads the kinds of those not seen on the last pass.
    std::vector<StackedWindow> classify(const std::vector<std::uint32_t>& bottomToTop,
                                        const std::set<xcb_window_t>& ours);
    void restackUnderManager(const std::set<xcb_window_t>& ours);
    void restackAtBottom(const std::set<xcb_window_t>& ours);
    void sendRestack(xcb_window_t window, xcb_window_t sibling);

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
    // Every bare window there is, by id; the parked ones among them too, which go first.
    std::map<xcb_window_t, QtBareWindow*> bareWindows_;
    std::vector<std::unique_ptr<QtBareWindow>> parked_;
    // Map requests are numbered in the order they were made; the latest answered one tells
    // which earlier ones the manager dropped.
    std::uint64_t lastMapRequest_ = 0;
    std::uint64_t lastAnswered_ = 0;
    // The requests up to this one are made again if still unanswered when the timer ends.
    std::uint64_t watchedUpTo_ = 0;
    QTimer unansweredMaps_;
    int unansweredChecks_ = 0;
    bool remappingUnanswered_ = false;
    CoalescedCall restack_;
    // Whether the stacking list changed since the last pass looked at it.
    bool listChanged_ = false;
    CoalescedCall remapDropped_;
    CoalescedCall dropParked_;
};

}  // namespace platform::qt
