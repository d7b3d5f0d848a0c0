#include "platform/qt/QtDesktopStack.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>

#include "platform/qt/QtBareWindow.h"
#include "platform/qt/QtWindow.h"

namespace platform::qt {

namespace {
// EWMH _NET_RESTACK_WINDOW: the request comes from a pager-like tool, which managers obey
// without applying focus-stealing or stacking policies meant for applications.
constexpr std::uint32_t kSourcePager = 2;
constexpr std::uint32_t kStackAbove = 0;

// How often, and for how long, a map request is checked on (see windowMapped).
constexpr std::chrono::milliseconds kMapCheckInterval{250};
constexpr int kMapChecks = 60;

bool lists(const std::optional<std::vector<std::uint32_t>>& items, std::uint32_t item) {
    return items && std::find(items->begin(), items->end(), item) != items->end();
}
}  // namespace

QtDesktopStack::QtDesktopStack(X11Connection& x11, const std::vector<QtWindow*>& windows)
    : x11_(x11), windows_(windows), restack_([this] { restack(); }) {
    // Root properties the filter compares against: interned now, not inside the filter.
    clientListStacking_ = x11_.atom("_NET_CLIENT_LIST_STACKING");
    supportingWmCheck_ = x11_.atom("_NET_SUPPORTING_WM_CHECK");
    supported_ = x11_.atom("_NET_SUPPORTED");
    x11_.addRootEvents(XCB_EVENT_MASK_PROPERTY_CHANGE);
    x11_.flush();
    mapCheck_.setSingleShot(true);
    mapCheck_.setInterval(kMapCheckInterval);
    QObject::connect(&mapCheck_, &QTimer::timeout, &mapCheck_, [this] { checkWindowsMapped(); });
}

bool QtDesktopStack::keptByWindowManager() {
    if (!keptByManager_) {
        keptByManager_ = readKeeper();
        keeperStale_ = false;
    }
    return *keptByManager_;
}

bool QtDesktopStack::readKeeper() {
    managerCheck_ = XCB_WINDOW_NONE;
    const auto check = x11_.property32(x11_.root(), supportingWmCheck_, XCB_ATOM_WINDOW);
    if (!check || check->empty() || check->front() == XCB_WINDOW_NONE) {
        return false;
    }
    const xcb_window_t window = check->front();
    // A manager that ends leaves the root's property behind; the end of its check window
    // tells of it. Watched before the window is read, so that an end in between is seen.
    const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_connection_t* connection = x11_.connection();
    std::free(xcb_request_check(connection, xcb_change_window_attributes_checked(
                                                connection, window, XCB_CW_EVENT_MASK, &mask)));
    // EWMH: the check window names itself; a stale root property names a window that is gone.
    if (!lists(x11_.property32(window, supportingWmCheck_, XCB_ATOM_WINDOW), window)) {
        return false;
    }
    managerCheck_ = window;
    return lists(x11_.property32(x11_.root(), supported_, XCB_ATOM_ATOM),
                 x11_.atom("_NET_WM_WINDOW_TYPE_DESKTOP"));
}

bool QtDesktopStack::isOurs(xcb_window_t window) const {
    return std::any_of(windows_.begin(), windows_.end(), [window](const QtWindow* ours) {
        return ours->desktopStackWindow() == window;
    });
}

void QtDesktopStack::noteEvent(const xcb_generic_event_t& event) {
    switch (event.response_type & 0x7F) {
        case XCB_PROPERTY_NOTIFY: {
            const auto& notice = reinterpret_cast<const xcb_property_notify_event_t&>(event);
            if (notice.window != x11_.root()) {
                return;
            }
            if (notice.atom == supportingWmCheck_ || notice.atom == supported_) {
                // A manager started or was replaced.
                keeperStale_ = true;
                restack_.request();
            } else if (notice.atom == clientListStacking_) {
                restack_.request();
            }
            return;
        }
        case XCB_DESTROY_NOTIFY:
            if (reinterpret_cast<const xcb_destroy_notify_event_t&>(event).window ==
                    managerCheck_ &&
                managerCheck_ != XCB_WINDOW_NONE) {
                // The manager ended.
                keeperStale_ = true;
                restack_.request();
            }
            return;
        // Where the program keeps the stack, a window of ours that someone else moved (a manager
        // giving it back to the root when it ends) is put back in its place.
        case XCB_CONFIGURE_NOTIFY:
            if (keptByManager_ == false &&
                isOurs(reinterpret_cast<const xcb_configure_notify_event_t&>(event).window)) {
                restack_.request();
            }
            return;
        case XCB_REPARENT_NOTIFY:
            if (keptByManager_ == false &&
                isOurs(reinterpret_cast<const xcb_reparent_notify_event_t&>(event).window)) {
                restack_.request();
            }
            return;
        default:
            return;
    }
}

void QtDesktopStack::windowMapped() {
    // openbox 3.6 names its check window before its startup is over and drops the map
    // requests that reach it until then, so a window mapped while the session starts would
    // stay off screen for good. The map is checked a few times and made again if dropped.
    mapChecksLeft_ = kMapChecks;
    mapCheck_.start();
}

void QtDesktopStack::checkWindowsMapped() {
    bool remapped = false;
    for (QtWindow* window : windows_) {
        remapped = window->remapIfDropped() || remapped;
    }
    // Checked until every window was seen mapped once or the time is up.
    if (remapped && --mapChecksLeft_ > 0) {
        mapCheck_.start();
    }
}

void QtDesktopStack::raise(xcb_window_t window) {
    // Where the program keeps the stack, a pass keeps the order; overlays do not overlap.
    if (keptByWindowManager()) {
        sendRestack(window, XCB_WINDOW_NONE);
        x11_.flush();
    }
}

void QtDesktopStack::sendRestack(xcb_window_t window, xcb_window_t sibling) {
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = x11_.atom("_NET_RESTACK_WINDOW");
    message.data.data32[0] = kSourcePager;
    message.data.data32[1] = sibling;
    message.data.data32[2] = kStackAbove;
    x11_.sendToRoot(message);
}

void QtDesktopStack::restack() {
    if (keeperStale_ && keptByManager_) {
        keeperStale_ = false;
        const bool kept = readKeeper();
        if (kept != *keptByManager_) {
            keptByManager_ = kept;
            // Made anew for the new keeper: managed windows or override-redirect ones. Each
            // asks for another pass, which places them.
            for (QtWindow* window : windows_) {
                window->desktopKeeperChanged();
            }
            windowMapped();
            return;
        }
    }
    std::vector<xcb_window_t> ours;
    for (QtWindow* window : windows_) {
        if (const xcb_window_t id = window->desktopStackWindow(); id != XCB_WINDOW_NONE) {
            ours.push_back(id);
        }
    }
    if (ours.empty()) {
        return;
    }
    if (keptByWindowManager()) {
        restackUnderManager(ours);
    } else {
        restackAtBottom(ours);
    }
    x11_.flush();
}

std::vector<StackedWindow> QtDesktopStack::classify(const std::vector<std::uint32_t>& bottomToTop,
                                                    const std::vector<xcb_window_t>& ours) {
    const auto isOwn = [&ours](xcb_window_t id) {
        return std::find(ours.begin(), ours.end(), id) != ours.end();
    };
    // The list changes with every raise; a window's kind is read once while it is listed,
    // and the kinds of the windows listed anew (the last overlays, just destroyed, after a
    // rebuild) in one round trip.
    std::map<xcb_window_t, StackedWindow::Kind> listedKinds;
    std::vector<xcb_window_t> unknown;
    for (const std::uint32_t id : bottomToTop) {
        if (isOwn(id)) {
            continue;
        }
        if (const auto known = foreignKinds_.find(id); known != foreignKinds_.end()) {
            listedKinds.emplace(id, known->second);
        } else if (!listedKinds.contains(id)) {
            unknown.push_back(id);
            listedKinds.emplace(id, StackedWindow::Kind::Other);
        }
    }
    const auto types =
        x11_.property32OfEach(unknown, x11_.atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM);
    const auto classes = x11_.property8OfEach(unknown, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING);
    const xcb_atom_t desktopType = x11_.atom("_NET_WM_WINDOW_TYPE_DESKTOP");
    for (std::size_t index = 0; index < unknown.size(); ++index) {
        // The program's other windows (the About window, the colour panel) carry the same
        // class and are ordinary windows.
        if (classes[index] == kVellumorWindowClass && !x11_.madeHere(unknown[index])) {
            listedKinds[unknown[index]] = StackedWindow::Kind::OtherVellumor;
        } else if (lists(types[index], desktopType)) {
            listedKinds[unknown[index]] = StackedWindow::Kind::ForeignDesktop;
        }
    }
    std::vector<StackedWindow> entries;
    entries.reserve(bottomToTop.size());
    for (const std::uint32_t id : bottomToTop) {
        entries.push_back({id, isOwn(id) ? StackedWindow::Kind::Own : listedKinds[id]});
    }
    foreignKinds_ = std::move(listedKinds);
    return entries;
}

void QtDesktopStack::restackUnderManager(const std::vector<xcb_window_t>& ours) {
    const auto stacking = x11_.property32(x11_.root(), clientListStacking_, XCB_ATOM_WINDOW);
    if (!stacking) {
        return;
    }
    for (const RestackRequest& request : restacksAboveDesktop(classify(*stacking, ours))) {
        sendRestack(request.window, request.sibling);
    }
}

void QtDesktopStack::restackAtBottom(const std::vector<xcb_window_t>& ours) {
    const auto children = x11_.children(x11_.root());
    if (!children) {
        return;
    }
    for (const RestackRequest& request : restacksAtBottom(classify(*children, ours))) {
        if (request.sibling == XCB_WINDOW_NONE) {
            const std::uint32_t bottom = XCB_STACK_MODE_BELOW;
            xcb_configure_window(x11_.connection(), request.window, XCB_CONFIG_WINDOW_STACK_MODE,
                                 &bottom);
        } else {
            const std::array<std::uint32_t, 2> aboveSibling{request.sibling, XCB_STACK_MODE_ABOVE};
            xcb_configure_window(x11_.connection(), request.window,
                                 XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE,
                                 aboveSibling.data());
        }
    }
}

}  // namespace platform::qt
