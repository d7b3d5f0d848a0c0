#include "platform/qt/QtDesktopStack.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <set>

#include "platform/qt/QtWindow.h"

namespace platform::qt {

namespace {
// EWMH _NET_RESTACK_WINDOW: the request comes from a pager-like tool, which managers obey
// without applying focus-stealing or stacking policies meant for applications.
constexpr std::uint32_t kSourcePager = 2;
constexpr std::uint32_t kStackAbove = 0;

// How long a map request may go unanswered before it is made again, the first time; each
// further wait is twice as long, and after the last one only the manager's answers count.
constexpr std::chrono::milliseconds kFirstUnansweredWait{1000};
constexpr int kUnansweredChecks = 5;

bool lists(const std::optional<std::vector<std::uint32_t>>& items, std::uint32_t item) {
    return items && std::find(items->begin(), items->end(), item) != items->end();
}
}  // namespace

QtDesktopStack::QtDesktopStack(X11Connection& x11, const std::vector<QtWindow*>& windows)
    : x11_(x11),
      windows_(windows),
      restack_([this] { restack(); }),
      remapDropped_([this] { remapUnanswered(lastAnswered_); }),
      dropParked_([this] { dropParked(); }) {
    // Root properties the filter compares against: interned now, not inside the filter.
    clientListStacking_ = x11_.atom("_NET_CLIENT_LIST_STACKING");
    supportingWmCheck_ = x11_.atom("_NET_SUPPORTING_WM_CHECK");
    supported_ = x11_.atom("_NET_SUPPORTED");
    x11_.addRootEvents(XCB_EVENT_MASK_PROPERTY_CHANGE);
    x11_.flush();
    unansweredMaps_.setSingleShot(true);
    QObject::connect(&unansweredMaps_, &QTimer::timeout, &unansweredMaps_,
                     [this] { checkUnansweredMaps(); });
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

void QtDesktopStack::changed() {
    // Under a manager, whatever the program changed shows in the manager's stacking list.
    if (keptByManager_.value_or(false)) {
        stackingListChanged();
    } else {
        restack_.request();
    }
}

void QtDesktopStack::stackingListChanged() {
    listChanged_ = true;
    if (!awaitingManager()) {
        restack_.request();
    }
}

bool QtDesktopStack::awaitingManager() const {
    // openbox 3.6 rewrites its stacking list once or twice for every window it takes on, each
    // in an event of its own and over several passes of the event loop, and maps the window
    // last: a list read before then is read again soon after. Only the first wait for the
    // manager's answer holds the stack back, so that a manager that drops maps delays it by
    // that wait at most.
    if (!unansweredMaps_.isActive() || unansweredChecks_ != 0) {
        return false;
    }
    return std::any_of(bareWindows_.begin(), bareWindows_.end(), [](const auto& entry) {
        return entry.second->isMapped() && !entry.second->isShown();
    });
}

bool QtDesktopStack::everyMappedWindowShown() const {
    return std::all_of(bareWindows_.begin(), bareWindows_.end(), [](const auto& entry) {
        return !entry.second->isMapped() || entry.second->isShown();
    });
}

std::optional<std::uint32_t> QtDesktopStack::backgroundPixel() const {
    if (bareWindows_.empty()) {
        return std::nullopt;
    }
    return bareWindows_.begin()->second->backgroundPixel();
}

bool QtDesktopStack::isOurs(xcb_window_t window) const {
    return bareWindows_.contains(window);
}

void QtDesktopStack::bareWindowCreated(QtBareWindow& window) {
    bareWindows_[window.id()] = &window;
}

void QtDesktopStack::bareWindowDestroyed(QtBareWindow& window) {
    bareWindows_.erase(window.id());
}

void QtDesktopStack::park(std::unique_ptr<QtBareWindow> window) {
    parked_.push_back(std::move(window));
    dropParked_.request();
}

std::unique_ptr<QtBareWindow> QtDesktopStack::takeParked(const QRect& geometry, std::uint32_t pixel,
                                                         const BareWindowHints& hints) {
    const auto found = std::find_if(parked_.begin(), parked_.end(), [&](const auto& window) {
        return window->isMapped() && window->geometry() == geometry &&
               window->backgroundPixel() == pixel && window->hints() == hints;
    });
    if (found == parked_.end()) {
        return nullptr;
    }
    std::unique_ptr<QtBareWindow> taken = std::move(*found);
    parked_.erase(found);
    return taken;
}

void QtDesktopStack::dropParked() {
    parked_.clear();
}

std::uint64_t QtDesktopStack::mapRequested() {
    // openbox 3.6 names its check window before its startup is over and drops the map
    // requests that reach it until then, so a window mapped while the session starts would
    // stay off screen for good. A request is made again once the manager has answered a later
    // one (see mapAnswered), or, from a manager that answers none, after a while.
    if (!unansweredMaps_.isActive() && !remappingUnanswered_) {
        watchedUpTo_ = lastMapRequest_ + 1;
        unansweredChecks_ = 0;
        unansweredMaps_.start(kFirstUnansweredWait);
    }
    return ++lastMapRequest_;
}

void QtDesktopStack::mapAnswered(xcb_window_t window) {
    const auto found = bareWindows_.find(window);
    if (found == bareWindows_.end() || found->second->unansweredMap() == 0) {
        return;
    }
    const std::uint64_t request = found->second->unansweredMap();
    found->second->noteMapped();
    lastAnswered_ = std::max(lastAnswered_, request);
    // A manager takes map requests in the order they reach it: an earlier one still without
    // an answer was dropped.
    if (std::any_of(bareWindows_.begin(), bareWindows_.end(), [request](const auto& entry) {
            const std::uint64_t other = entry.second->unansweredMap();
            return other != 0 && other < request;
        })) {
        remapDropped_.request();
    }
}

void QtDesktopStack::remapUnanswered(std::uint64_t before) {
    for (const auto& [id, window] : bareWindows_) {
        if (window->unansweredMap() != 0 && window->unansweredMap() < before) {
            window->mapAgain();
        }
    }
}

void QtDesktopStack::checkUnansweredMaps() {
    const bool waiting =
        std::any_of(bareWindows_.begin(), bareWindows_.end(),
                    [](const auto& entry) { return entry.second->unansweredMap() != 0; });
    if (!waiting) {
        return;
    }
    const std::uint64_t watched = watchedUpTo_;
    if (++unansweredChecks_ < kUnansweredChecks) {
        unansweredMaps_.start(kFirstUnansweredWait * (1 << unansweredChecks_));
    }
    // The requests made again join this wait rather than begin a new one.
    remappingUnanswered_ = true;
    remapUnanswered(watched + 1);
    remappingUnanswered_ = false;
    watchedUpTo_ = lastMapRequest_;
    if (listChanged_) {
        restack_.request();
    }
}

void QtDesktopStack::noteEvent(const xcb_generic_event_t& event) {
    switch (event.response_type & 0x7F) {
        case XCB_MAP_NOTIFY: {
            const xcb_window_t window =
                reinterpret_cast<const xcb_map_notify_event_t&>(event).window;
            if (const auto found = bareWindows_.find(window); found != bareWindows_.end()) {
                found->second->noteShown(true);
                mapAnswered(window);
                if (listChanged_ && !awaitingManager()) {
                    restack_.request();
                }
            }
            return;
        }
        case XCB_UNMAP_NOTIFY:
            if (const auto found = bareWindows_.find(
                    reinterpret_cast<const xcb_unmap_notify_event_t&>(event).window);
                found != bareWindows_.end()) {
                found->second->noteShown(false);
            }
            return;
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
                stackingListChanged();
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
        case XCB_REPARENT_NOTIFY: {
            const auto& notice = reinterpret_cast<const xcb_reparent_notify_event_t&>(event);
            // A manager that takes a window into a frame of its own has taken its map request.
            if (notice.parent != x11_.root()) {
                mapAnswered(notice.window);
            }
            if (keptByManager_ == false && isOurs(notice.window)) {
                restack_.request();
            }
            return;
        }
        default:
            return;
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
    listChanged_ = false;
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
            return;
        }
    }
    // The windows closed in the pass before this one and not taken over are gone by now.
    dropParked();
    std::set<xcb_window_t> ours;
    for (const auto& [id, window] : bareWindows_) {
        if (window->isMapped()) {
            ours.insert(id);
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
                                                    const std::set<xcb_window_t>& ours) {
    const auto isOwn = [&ours](xcb_window_t id) { return ours.contains(id); };
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

void QtDesktopStack::restackUnderManager(const std::set<xcb_window_t>& ours) {
    const auto stacking = x11_.property32(x11_.root(), clientListStacking_, XCB_ATOM_WINDOW);
    if (!stacking) {
        return;
    }
    for (const RestackRequest& request : restacksAboveDesktop(classify(*stacking, ours))) {
        sendRestack(request.window, request.sibling);
    }
}

void QtDesktopStack::restackAtBottom(const std::set<xcb_window_t>& ours) {
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
