#include "platform/qt/QtX11.h"

#include <cmath>

#include "platform/qt/QtConversions.h"

namespace platform::qt {

X11Connection::X11Connection(xcb_connection_t* connection, int screenNumber)
    : connection_(connection), screenNumber_(screenNumber) {
    auto roots = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int index = 0; roots.rem > 0; ++index, xcb_screen_next(&roots)) {
        if (index == screenNumber || screen_ == nullptr) {
            screen_ = roots.data;
            screenNumber_ = index;
        }
        if (index == screenNumber) {
            break;
        }
    }
    rootVisual_ = rootVisualOf(*screen_);
}

bool X11Connection::madeHere(xcb_window_t window) const {
    const xcb_setup_t* setup = xcb_get_setup(connection_);
    return (window & ~setup->resource_id_mask) == setup->resource_id_base;
}

xcb_atom_t X11Connection::atom(const std::string& name) {
    if (const auto found = atoms_.find(name); found != atoms_.end()) {
        return found->second;
    }
    const auto cookie =
        xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(name.size()), name.c_str());
    const auto answer = reply<xcb_intern_atom_reply_t>(connection_, xcb_intern_atom_reply, cookie);
    const xcb_atom_t value = answer ? answer->atom : xcb_atom_t{XCB_ATOM_NONE};
    if (value != XCB_ATOM_NONE) {
        atoms_.emplace(name, value);
    }
    return value;
}

namespace {
// Far more than any list the backend reads (a stacking list of many windows).
constexpr std::uint32_t kMaxPropertyItems = 1U << 16;

std::optional<std::vector<std::uint32_t>> items32(xcb_connection_t* connection,
                                                  xcb_get_property_cookie_t cookie,
                                                  xcb_atom_t type) {
    const auto answer = reply<xcb_get_property_reply_t>(connection, xcb_get_property_reply, cookie);
    if (!answer || answer->format != 32 || answer->type != type) {
        return std::nullopt;
    }
    const auto* items = static_cast<const std::uint32_t*>(xcb_get_property_value(answer.get()));
    const auto count = static_cast<std::size_t>(xcb_get_property_value_length(answer.get())) / 4;
    return std::vector<std::uint32_t>(items, items + count);
}

// Sends one property request per window before any reply is read: one round trip for all.
std::vector<xcb_get_property_cookie_t> askEach(xcb_connection_t* connection,
                                               const std::vector<xcb_window_t>& windows,
                                               xcb_atom_t property, xcb_atom_t type) {
    std::vector<xcb_get_property_cookie_t> cookies;
    cookies.reserve(windows.size());
    for (const xcb_window_t window : windows) {
        cookies.push_back(
            xcb_get_property(connection, 0, window, property, type, 0, kMaxPropertyItems));
    }
    return cookies;
}
}  // namespace

std::optional<std::vector<std::uint32_t>> X11Connection::property32(xcb_window_t window,
                                                                    xcb_atom_t property,
                                                                    xcb_atom_t type) {
    return items32(connection_,
                   xcb_get_property(connection_, 0, window, property, type, 0, kMaxPropertyItems),
                   type);
}

std::vector<std::optional<std::vector<std::uint32_t>>> X11Connection::property32OfEach(
    const std::vector<xcb_window_t>& windows, xcb_atom_t property, xcb_atom_t type) {
    const auto cookies = askEach(connection_, windows, property, type);
    std::vector<std::optional<std::vector<std::uint32_t>>> result;
    result.reserve(cookies.size());
    for (const auto cookie : cookies) {
        result.push_back(items32(connection_, cookie, type));
    }
    return result;
}

std::vector<std::optional<std::string>> X11Connection::property8OfEach(
    const std::vector<xcb_window_t>& windows, xcb_atom_t property, xcb_atom_t type) {
    const auto cookies = askEach(connection_, windows, property, type);
    std::vector<std::optional<std::string>> result;
    result.reserve(cookies.size());
    for (const auto cookie : cookies) {
        const auto answer =
            reply<xcb_get_property_reply_t>(connection_, xcb_get_property_reply, cookie);
        if (!answer || answer->format != 8 || answer->type != type) {
            result.emplace_back();
            continue;
        }
        result.emplace_back(std::in_place,
                            static_cast<const char*>(xcb_get_property_value(answer.get())),
                            static_cast<std::size_t>(xcb_get_property_value_length(answer.get())));
    }
    return result;
}

void X11Connection::setProperty32(xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                                  const std::vector<std::uint32_t>& items) {
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, property, type, 32,
                        static_cast<std::uint32_t>(items.size()), items.data());
}

void X11Connection::setProperty8(xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                                 const std::string& bytes) {
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, property, type, 8,
                        static_cast<std::uint32_t>(bytes.size()), bytes.data());
}

std::optional<std::vector<std::uint32_t>> X11Connection::children(xcb_window_t window) {
    const auto tree = reply<xcb_query_tree_reply_t>(connection_, xcb_query_tree_reply,
                                                    xcb_query_tree(connection_, window));
    if (!tree) {
        return std::nullopt;
    }
    const xcb_window_t* first = xcb_query_tree_children(tree.get());
    return std::vector<std::uint32_t>(first, first + xcb_query_tree_children_length(tree.get()));
}

bool X11Connection::hasCompositor() {
    const auto selection = atom("_NET_WM_CM_S" + std::to_string(screenNumber_));
    const auto answer =
        reply<xcb_get_selection_owner_reply_t>(connection_, xcb_get_selection_owner_reply,
                                               xcb_get_selection_owner(connection_, selection));
    return answer && answer->owner != XCB_WINDOW_NONE;
}

std::uint32_t X11Connection::pixelFor(const Color& color) {
    if (hasColourChannels(rootVisual_)) {
        return pixelForColor(color, rootVisual_->red_mask, rootVisual_->green_mask,
                             rootVisual_->blue_mask);
    }
    // A colour-mapped visual has no channel masks: the server picks the closest cell.
    const auto channel = [](double value) {
        return static_cast<std::uint16_t>(std::lround(value * 65535.0));
    };
    const auto answer = reply<xcb_alloc_color_reply_t>(
        connection_, xcb_alloc_color_reply,
        xcb_alloc_color(connection_, screen_->default_colormap, channel(color.displayRed()),
                        channel(color.displayGreen()), channel(color.displayBlue())));
    return answer ? answer->pixel : screen_->black_pixel;
}

void X11Connection::addRootEvents(std::uint32_t mask) {
    const auto answer =
        reply<xcb_get_window_attributes_reply_t>(connection_, xcb_get_window_attributes_reply,
                                                 xcb_get_window_attributes(connection_, root()));
    const std::uint32_t current = answer ? answer->your_event_mask : 0;
    if ((current & mask) == mask) {
        return;
    }
    const std::uint32_t value = current | mask;
    xcb_change_window_attributes(connection_, root(), XCB_CW_EVENT_MASK, &value);
}

}  // namespace platform::qt
