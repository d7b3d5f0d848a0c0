#pragma once

#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/Color.h"

namespace platform::qt {

// Frees an xcb reply on every path out of a scope.
template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

// The reply to `cookie`, fetched by `fetch` (an xcb_..._reply function). Error replies are
// freed here, so that failed requests end up neither leaked nor in Qt's event queue.
template <typename Reply, typename Fetch, typename Cookie>
ReplyPtr<Reply> reply(xcb_connection_t* connection, Fetch fetch, Cookie cookie) {
    xcb_generic_error_t* error = nullptr;
    ReplyPtr<Reply> result(fetch(connection, cookie, &error), &std::free);
    std::free(error);
    return result;
}

// The visual of `screen`'s root window, or null when the server lists none such.
inline const xcb_visualtype_t* rootVisualOf(const xcb_screen_t& screen) {
    for (auto depths = xcb_screen_allowed_depths_iterator(&screen); depths.rem > 0;
         xcb_depth_next(&depths)) {
        for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem > 0;
             xcb_visualtype_next(&visuals)) {
            if (visuals.data->visual_id == screen.root_visual) {
                return visuals.data;
            }
        }
    }
    return nullptr;
}

// Whether `visual` (null: none) gives a pixel its colour by channel masks, true or direct
// colour, so that the pixel means one colour in every run; in a colour-mapped visual it is a
// cell of this run's colour map.
inline bool hasColourChannels(const xcb_visualtype_t* visual) {
    return visual != nullptr && (visual->_class == XCB_VISUAL_CLASS_TRUE_COLOR ||
                                 visual->_class == XCB_VISUAL_CLASS_DIRECT_COLOR);
}

// Qt's connection to the X server, with the few requests the backend makes itself where Qt
// has no API: atoms, window properties, the window manager's and compositor's presence.
class X11Connection final {
public:
    // Wraps `connection` (owned by Qt) on the screen the display name selects.
    X11Connection(xcb_connection_t* connection, int screenNumber);
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    xcb_connection_t* connection() const { return connection_; }
    // The screen the program runs on, and its root window.
    const xcb_screen_t& screen() const { return *screen_; }
    xcb_window_t root() const { return screen_->root; }
    // The screen's root visual, or null when the server lists none such.
    const xcb_visualtype_t* rootVisual() const { return rootVisual_; }
    // The number of that screen on its display.
    int screenNumber() const { return screenNumber_; }

    // Whether this connection made `window`, so that it belongs to this process: the server
    // gives each client a base of its own for the ids it makes.
    bool madeHere(xcb_window_t window) const;

    // The atom called `name`, interned on first use.
    xcb_atom_t atom(const std::string& name);

    // The 32-bit items of a property of format 32 (CARDINAL, ATOM, WINDOW...), or nothing
    // when the window or the property is missing or of another type.
    std::optional<std::vector<std::uint32_t>> property32(xcb_window_t window, xcb_atom_t property,
                                                         xcb_atom_t type);
    // The same property of several windows, in their order, for one round trip: every
    // request is sent before the first answer is awaited.
    std::vector<std::optional<std::vector<std::uint32_t>>> property32OfEach(
        const std::vector<xcb_window_t>& windows, xcb_atom_t property, xcb_atom_t type);
    // The bytes of a property of format 8 (text) of several windows, in their order, for one
    // round trip; nothing for a window without it.
    std::vector<std::optional<std::string>> property8OfEach(
        const std::vector<xcb_window_t>& windows, xcb_atom_t property, xcb_atom_t type);
    // Replaces a property of format 32.
    void setProperty32(xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                       const std::vector<std::uint32_t>& items);
    // Replaces a property of format 8 (text).
    void setProperty8(xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                      const std::string& bytes);

    // The children of `window` from bottom to top, or nothing when it is missing.
    std::optional<std::vector<std::uint32_t>> children(xcb_window_t window);
    // Whether a compositing manager owns the screen's selection, so that windows may be
    // translucent.
    bool hasCompositor();

    // The pixel value that shows `color` on the root visual; alpha is not drawn.
    std::uint32_t pixelFor(const Color& color);

    // Adds `mask` to the events this client takes from the root window, keeping those that
    // Qt selected.
    void addRootEvents(std::uint32_t mask);

    // Sends `event` to the root window for the window manager (EWMH and ICCCM requests made
    // as client messages or synthetic events); queued until the next flush.
    template <typename Event>
    void sendToRoot(const Event& event) {
        static_assert(sizeof(Event) <= 32 && std::is_trivially_copyable_v<Event>);
        // The server takes 32 bytes whatever the event's own size.
        std::array<char, 32> bytes{};
        std::memcpy(bytes.data(), &event, sizeof event);
        xcb_send_event(connection_, 0, root(),
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       bytes.data());
    }

    // Sends everything queued to the server.
    void flush() { xcb_flush(connection_); }

private:
    xcb_connection_t* connection_;
    xcb_screen_t* screen_ = nullptr;
    int screenNumber_;
    const xcb_visualtype_t* rootVisual_ = nullptr;
    std::map<std::string, xcb_atom_t> atoms_;
};

}  // namespace platform::qt
