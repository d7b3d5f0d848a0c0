#include "platform/qt/QtEarlyDesktop.h"

#include <unistd.h>
#include <xcb/randr.h>

#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "platform/qt/QtX11.h"

namespace platform::qt {

namespace {
xcb_intern_atom_cookie_t askAtom(xcb_connection_t* connection, const std::string& name,
                                 bool onlyIfExists) {
    return xcb_intern_atom(connection, onlyIfExists ? 1 : 0,
                           static_cast<std::uint16_t>(name.size()), name.c_str());
}

xcb_atom_t atomOf(xcb_connection_t* connection, xcb_intern_atom_cookie_t cookie) {
    const auto answer = reply<xcb_intern_atom_reply_t>(connection, xcb_intern_atom_reply, cookie);
    return answer ? answer->atom : xcb_atom_t{XCB_ATOM_NONE};
}

struct Frame {
    std::int16_t x = 0;
    std::int16_t y = 0;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
};

// The active RandR monitors, or the whole screen where RandR has none to tell of.
std::vector<Frame> monitorFrames(xcb_connection_t* connection, const xcb_screen_t& screen) {
    std::vector<Frame> frames;
    const xcb_query_extension_reply_t* randr = xcb_get_extension_data(connection, &xcb_randr_id);
    if (randr != nullptr && randr->present != 0) {
        const auto version = xcb_randr_query_version(connection, 1, 5);
        const auto monitors = xcb_randr_get_monitors(connection, screen.root, 1);
        std::free(xcb_randr_query_version_reply(connection, version, nullptr));
        const auto answer = reply<xcb_randr_get_monitors_reply_t>(
            connection, xcb_randr_get_monitors_reply, monitors);
        for (auto it = answer ? xcb_randr_get_monitors_monitors_iterator(answer.get())
                              : xcb_randr_monitor_info_iterator_t{};
             it.rem > 0; xcb_randr_monitor_info_next(&it)) {
            if (it.data->width > 0 && it.data->height > 0) {
                frames.push_back({it.data->x, it.data->y, it.data->width, it.data->height});
            }
        }
    }
    if (frames.empty()) {
        frames.push_back({0, 0, screen.width_in_pixels, screen.height_in_pixels});
    }
    return frames;
}

void setProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
                 xcb_atom_t type, std::uint8_t format, std::uint32_t length, const void* data) {
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, property, type, format, length,
                        data);
}
}  // namespace

std::string desktopLookText(const DesktopLook& look) {
    std::array<char, 64> line{};
    std::snprintf(line.data(), line.size(),
                  "%08" PRIx32 " %08" PRIx32 " %08" PRIx32 " %08" PRIx32 "\n", look.pixel,
                  look.redMask, look.greenMask, look.blueMask);
    return line.data();
}

std::optional<DesktopLook> readDesktopLook(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::array<char, 64> bytes{};
    file.read(bytes.data(), bytes.size() - 1);
    const std::string text(bytes.data(), static_cast<std::size_t>(file.gcount()));
    DesktopLook look;
    if (std::sscanf(text.c_str(), "%8" SCNx32 " %8" SCNx32 " %8" SCNx32 " %8" SCNx32, &look.pixel,
                    &look.redMask, &look.greenMask, &look.blueMask) != 4 ||
        text != desktopLookText(look)) {
        return std::nullopt;
    }
    // A pixel with bits outside the channels, or channels that overlap, is no true colour.
    const std::uint32_t channels = look.redMask | look.greenMask | look.blueMask;
    if (look.redMask == 0 || look.greenMask == 0 || look.blueMask == 0 ||
        (look.redMask & look.greenMask) != 0 || (look.redMask & look.blueMask) != 0 ||
        (look.greenMask & look.blueMask) != 0 || (look.pixel & ~channels) != 0) {
        return std::nullopt;
    }
    return look;
}

std::string instanceSelectionName(int screenNumber) {
    // Named after ICCCM's manager selections (WM_S0, _NET_SYSTEM_TRAY_S0), and per user, since
    // each user has a colour of their own.
    return "_VELLUMOR_S" + std::to_string(screenNumber) + "_U" + std::to_string(::getuid());
}

xcb_connection_t* showEarlyDesktop(const std::filesystem::path& lookPath) {
    const std::optional<DesktopLook> look = readDesktopLook(lookPath);
    if (!look) {
        return nullptr;
    }
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    const xcb_screen_t* screen = nullptr;
    if (xcb_connection_has_error(connection) == 0) {
        auto it = xcb_setup_roots_iterator(xcb_get_setup(connection));
        for (int i = 0; i < screenNumber && it.rem > 0; ++i) {
            xcb_screen_next(&it);
        }
        screen = it.rem > 0 ? it.data : nullptr;
    }
    const xcb_visualtype_t* visual = screen != nullptr ? rootVisualOf(*screen) : nullptr;
    if (!hasColourChannels(visual) || visual->red_mask != look->redMask ||
        visual->green_mask != look->greenMask || visual->blue_mask != look->blueMask) {
        xcb_disconnect(connection);
        return nullptr;
    }

    // Every question goes out before the first answer is awaited.
    xcb_prefetch_extension_data(connection, &xcb_randr_id);
    const auto selection = askAtom(connection, instanceSelectionName(screenNumber), true);
    const auto typeAtom = askAtom(connection, "_NET_WM_WINDOW_TYPE", false);
    const auto desktopAtom = askAtom(connection, "_NET_WM_WINDOW_TYPE_DESKTOP", false);
    const auto pidAtom = askAtom(connection, "_NET_WM_PID", false);
    const xcb_atom_t selectionAtom = atomOf(connection, selection);
    if (selectionAtom != XCB_ATOM_NONE) {
        const auto owner = reply<xcb_get_selection_owner_reply_t>(
            connection, xcb_get_selection_owner_reply,
            xcb_get_selection_owner(connection, selectionAtom));
        // The running Vellumor's overlays are there already; this start ends in a moment.
        if (!owner || owner->owner != XCB_WINDOW_NONE) {
            xcb_disconnect(connection);
            return nullptr;
        }
    }
    const xcb_atom_t type = atomOf(connection, typeAtom);
    const xcb_atom_t desktop = atomOf(connection, desktopAtom);
    const xcb_atom_t pid = atomOf(connection, pidAtom);
    const std::uint32_t processId = static_cast<std::uint32_t>(::getpid());
    const std::string windowClass = std::string(kEarlyDesktopInstance) + '\0' + "Vellumor" + '\0';

    for (const Frame& frame : monitorFrames(connection, *screen)) {
        const xcb_window_t window = xcb_generate_id(connection);
        // No window manager takes these on: they only stand in until the program's overlays,
        // which the manager does take on, are shown. Selecting the button events keeps the
        // clicks that land on them from the root window's menus.
        const std::array<std::uint32_t, 3> values{
            look->pixel, 1, XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE};
        xcb_create_window(
            connection, XCB_COPY_FROM_PARENT, window, screen->root, frame.x, frame.y, frame.width,
            frame.height, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
            XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values.data());
        setProperty(connection, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                    static_cast<std::uint32_t>(windowClass.size()), windowClass.data());
        if (type != XCB_ATOM_NONE && desktop != XCB_ATOM_NONE) {
            setProperty(connection, window, type, XCB_ATOM_ATOM, 32, 1, &desktop);
        }
        if (pid != XCB_ATOM_NONE) {
            setProperty(connection, window, pid, XCB_ATOM_CARDINAL, 32, 1, &processId);
        }
        // A new window goes in at the top of the stack; these belong at the bottom, below
        // every window of the desktop.
        const std::uint32_t below = XCB_STACK_MODE_BELOW;
        xcb_configure_window(connection, window, XCB_CONFIG_WINDOW_STACK_MODE, &below);
        xcb_map_window(connection, window);
    }
    xcb_flush(connection);
    return connection;
}

}  // namespace platform::qt
