#include "platform/qt/QtScreens.h"

#include <xcb/randr.h>

namespace platform::qt {

QtScreens::QtScreens(X11Connection& x11) : x11_(x11), notice_([this] { return monitors(); }) {
    xcb_connection_t* connection = x11_.connection();
    const xcb_query_extension_reply_t* randr = xcb_get_extension_data(connection, &xcb_randr_id);
    if (randr != nullptr && randr->present != 0) {
        const auto version = reply<xcb_randr_query_version_reply_t>(
            connection, xcb_randr_query_version_reply, xcb_randr_query_version(connection, 1, 5));
        // Monitors came with RandR 1.5.
        hasMonitors_ = version && (version->major_version > 1 ||
                                   (version->major_version == 1 && version->minor_version >= 5));
        randrFirstEvent_ = randr->first_event;
        // The same selection Qt makes for itself, so that neither undoes the other's.
        xcb_randr_select_input(
            connection, x11_.root(),
            XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE |
                XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE | XCB_RANDR_NOTIFY_MASK_OUTPUT_PROPERTY);
    }
    // A resized root window comes as a ConfigureNotify of the root.
    x11_.addRootEvents(XCB_EVENT_MASK_STRUCTURE_NOTIFY);
    x11_.flush();
    notice_.settle();
}

std::vector<Monitor> QtScreens::monitors() {
    if (stale_) {
        read();
    }
    return current_;
}

void QtScreens::read() {
    // Cleared before asking: an event handled from here on marks the answer stale again.
    stale_ = false;
    std::vector<Monitor> result;
    xcb_connection_t* connection = x11_.connection();
    if (hasMonitors_) {
        const auto answer = reply<xcb_randr_get_monitors_reply_t>(
            connection, xcb_randr_get_monitors_reply,
            xcb_randr_get_monitors(connection, x11_.root(), 1));
        if (answer) {
            for (auto it = xcb_randr_get_monitors_monitors_iterator(answer.get()); it.rem > 0;
                 xcb_randr_monitor_info_next(&it)) {
                const xcb_randr_monitor_info_t& info = *it.data;
                result.push_back(
                    {QRect(info.x, info.y, info.width, info.height), info.primary != 0});
            }
        }
    } else {
        const xcb_screen_t& screen = x11_.screen();
        result.push_back({QRect(0, 0, screen.width_in_pixels, screen.height_in_pixels), true});
    }
    current_ = primaryFirst(std::move(result));
}

std::vector<Rect> QtScreens::frames() {
    const auto current = monitors();
    std::vector<Rect> result;
    result.reserve(current.size());
    const QRect origin = referenceOf(current);
    for (const Monitor& monitor : current) {
        result.push_back(toPlatformRect(monitor.geometry, origin));
    }
    return result;
}

QRect QtScreens::reference() {
    return referenceOf(monitors());
}

QRect QtScreens::referenceOf(const std::vector<Monitor>& current) const {
    if (current.empty()) {
        // With every monitor gone, the root window stands in for the primary one.
        const xcb_screen_t& screen = x11_.screen();
        return {0, 0, screen.width_in_pixels, screen.height_in_pixels};
    }
    return current.front().geometry;
}

bool QtScreens::noteEvent(const xcb_generic_event_t& event) {
    const auto type = static_cast<std::uint8_t>(event.response_type & 0x7F);
    bool relevant = false;
    if (type == XCB_CONFIGURE_NOTIFY) {
        const auto& configure = reinterpret_cast<const xcb_configure_notify_event_t&>(event);
        relevant = configure.window == x11_.root();
    } else if (randrFirstEvent_ != 0) {
        relevant = type == randrFirstEvent_ + XCB_RANDR_SCREEN_CHANGE_NOTIFY ||
                   type == randrFirstEvent_ + XCB_RANDR_NOTIFY;
    }
    if (!relevant) {
        return false;
    }
    stale_ = true;
    return notice_.requestAtOnce();
}

}  // namespace platform::qt
