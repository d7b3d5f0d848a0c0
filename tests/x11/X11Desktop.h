#pragma once

// A virtual X11 desktop for end-to-end tests of the vellumor program: Xvfb with RandR
// monitors, a window manager and trayer as the system tray, each a child process stopped by
// its pid when the test ends, passed or failed. The screen and the windows are read through
// xcb; the mouse, the keyboard and the monitors are worked with xdotool and xrandr.

#include <gtest/gtest.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <map>

#include "tests/support/ChildProcess.h"

namespace vellumor::x11test {

using namespace std::chrono_literals;
using testsupport::Process;
using testsupport::waitUntil;

struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
    auto operator<=>(const Geometry&) const = default;
};
using Geometries = std::vector<Geometry>;
using Rgb = std::array<int, 3>;  // red, green, blue

constexpr Geometry kPrimary{0, 0, 1920, 1080};
constexpr Geometry kSecondary{1920, 0, 1280, 1024};
// The stored colour's default: a grey of 0.1, as the screen shows it.
constexpr Rgb kDefaultGrey{26, 26, 26};

// vellumor's windows by their main _NET_WM_WINDOW_TYPE.
inline const std::string kOverlay = "_NET_WM_WINDOW_TYPE_DESKTOP";
inline const std::string kMenu = "_NET_WM_WINDOW_TYPE_POPUP_MENU";
inline const std::string kTrayIcon = "_KDE_NET_WM_WINDOW_TYPE_OVERRIDE";
inline const std::string kDialog = "_NET_WM_WINDOW_TYPE_DIALOG";
inline const std::string kNormal = "_NET_WM_WINDOW_TYPE_NORMAL";

inline std::string fileText(const std::filesystem::path& file) {
    return (std::ostringstream() << std::ifstream(file).rdbuf()).str();
}
inline bool contains(const std::vector<std::uint32_t>& items, std::uint32_t item) {
    return std::ranges::find(items, item) != items.end();
}
// xrandr's monitor geometry: width/mm x height/mm + x + y, at about 96 dpi.
inline std::string xrandrGeometry(const Geometry& g) {
    const auto mm = [](int pixels) {
        return std::to_string(pixels) + "/" + std::to_string(pixels * 254 / 960);
    };
    return mm(g.width) + "x" + mm(g.height) + "+" + std::to_string(g.x) + "+" + std::to_string(g.y);
}

// The reply to one xcb request, freed when it goes; empty if the request failed.
#define X11_REPLY(request, ...)                                                           \
    std::unique_ptr<xcb_##request##_reply_t, decltype(&std::free)>(                       \
        xcb_##request##_reply(c_, xcb_##request(c_ __VA_OPT__(, ) __VA_ARGS__), nullptr), \
        &std::free)

// vellumor on a virtual desktop; the program, the tray, the manager and Xvfb stop in that
// order when the test ends.
class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("which Xvfb openbox i3 trayer xdotool xrandr >/dev/null") != 0) {
            GTEST_SKIP() << "Xvfb, openbox, i3, trayer, xdotool or xrandr is not installed";
        }
    }
    void TearDown() override {
        if (HasFailure()) {
            std::cerr << fileText(dir_ / "vellumor.log");
        }
        vellumor_.reset(), tray_.reset(), manager_.reset(), xvfb_.reset();
        if (c_ != nullptr) {
            xcb_disconnect(c_);
            std::filesystem::remove_all(dir_);
        }
    }

    // Xvfb with two monitors side by side, the left one primary, and with openbox and trayer
    // unless `bare`. Xvfb picks a free display and names it on descriptor 3, so parallel runs
    // never race for one; its screen has room right of the monitors for those the tests add.
    void startDesktop(bool bare = false) {
        std::string dir = std::filesystem::temp_directory_path() / "vellumor-x11-XXXXXX";
        dir_ = ::mkdtemp(dir.data());
        xvfb_.emplace("Xvfb -displayfd 3 -screen 0 4224x1080x24 -nolisten tcp 3>" +
                          (dir_ / "display").string(),
                      dir_ / "xvfb.log");
        waitUntil([&] { return fileText(dir_ / "display").ends_with('\n'); }, 10s);
        display_ = ":" + fileText(dir_ / "display");
        display_.pop_back();
        c_ = xcb_connect(display_.c_str(), nullptr);
        // The primary monitor takes Xvfb's one output, in place of the server's own monitor.
        if (display_.empty() || xcb_connection_has_error(c_) != 0 ||
            !run("xrandr --setmonitor +A " + xrandrGeometry(kPrimary) + " screen --setmonitor B " +
                 xrandrGeometry(kSecondary) + " none") ||
            (!bare && !(startManager("openbox --sm-disable") && startTray()))) {
            throw std::runtime_error("the desktop in " + dir_.string() + " did not start");
        }
    }
    // Starts a window manager (a command line) and waits until it manages windows: it is
    // ready once it manages a probe, mapped again until it does (openbox 3.6 drops the map
    // requests it gets while it starts).
    bool startManager(const std::string& command) {
        manager_.emplace("env " + environment() + " " + command, dir_ / "manager.log");
        const xcb_window_t probe = createWindow({0, 0, 10, 10}, {}, kNormal);
        const bool managing = waitUntil(
            [&] {
                xcb_map_window(c_, probe);
                xcb_flush(c_);
                return contains(property(root(), "_NET_CLIENT_LIST"), probe);
            },
            10s);
        xcb_destroy_window(c_, probe);
        return managing;
    }
    // Starts trayer of one even colour `tint` and waits until it owns the tray selection.
    bool startTray(int tint = 0x303030) {
        tray_.emplace("env " + environment() +
                          " trayer --edge bottom --align right --widthtype request --height 28"
                          " --SetDockType true --transparent true --alpha 0 --tint " +
                          std::to_string(tint),
                      dir_ / "trayer.log");
        return waitUntil([&] {
            return X11_REPLY(get_selection_owner, atom("_NET_SYSTEM_TRAY_S0"))->owner != 0;
        });
    }

    // Runs a command line on this display (xrandr, xdotool...) in the desktop's directory;
    // whether it succeeded.
    bool run(const std::string& command) {
        return std::system(("env " + environment() + " timeout 10 " + command + " >>" +
                            (dir_ / "tools.log").string() + " 2>&1")
                               .c_str()) == 0;
    }
    // The environment of the programs on this desktop, as env(1) operands: the desktop's
    // directory as theirs, its display, and a home and config directory of its own.
    std::string environment() const {
        return "-C " + dir_.string() + " DISPLAY=" + display_ + " HOME=" + dir_.string() +
               " XDG_CONFIG_HOME=" + (dir_ / "config").string();
    }
    // Starts vellumor with no session bus (its tray icon is an XEmbed icon in trayer), no
    // platform theme and no scaling.
    std::unique_ptr<Process> launchVellumor() {
        std::filesystem::create_directories(dir_ / "runtime");
        std::filesystem::permissions(dir_ / "runtime", std::filesystem::perms::owner_all);
        return std::make_unique<Process>(
            "env -u DBUS_SESSION_BUS_ADDRESS -u QT_QPA_PLATFORMTHEME -u QT_SCALE_FACTOR " +
                environment() + " XDG_RUNTIME_DIR=" + (dir_ / "runtime").string() +
                " LSAN_OPTIONS=suppressions=" + VELLUMOR_LSAN_SUPPRESSIONS + " " VELLUMOR_BINARY,
            dir_ / "vellumor.log");
    }
    // Starts vellumor and waits until it covers every monitor.
    bool launch() {
        vellumor_ = launchVellumor();
        return waitUntil([&] { return overlaysMatchMonitors(); }, 10s);
    }

    xcb_window_t root() const { return xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root; }
    xcb_atom_t atom(const std::string& name) {
        return X11_REPLY(intern_atom, 0, std::uint16_t(name.size()), name.c_str())->atom;
    }
    std::string text(xcb_window_t window, const std::string& property) {
        const auto r = X11_REPLY(get_property, 0, window, atom(property), XCB_ATOM_ANY, 0, 4096);
        return r ? std::string(static_cast<const char*>(xcb_get_property_value(r.get())),
                               std::size_t(xcb_get_property_value_length(r.get())))
                 : std::string();
    }
    // A property's 32-bit items: windows, atoms, cardinals.
    std::vector<std::uint32_t> property(xcb_window_t window, const std::string& name) {
        const std::string bytes = text(window, name);
        std::vector<std::uint32_t> items(bytes.size() / 4);
        std::copy_n(bytes.data(), items.size() * 4, reinterpret_cast<char*>(items.data()));
        return items;
    }
    void setProperty(xcb_window_t window, const std::string& name, xcb_atom_t type,
                     const std::vector<std::uint32_t>& items) {
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window, atom(name), type, 32,
                            std::uint32_t(items.size()), items.data());
    }
    // The window's children, bottom to top: the order the server draws them in.
    std::vector<xcb_window_t> children(xcb_window_t window) {
        const auto tree = X11_REPLY(query_tree, window);
        const xcb_window_t* first = tree ? xcb_query_tree_children(tree.get()) : nullptr;
        return {first, first + (tree ? xcb_query_tree_children_length(tree.get()) : 0)};
    }
    // The windows with vellumor's WM_CLASS anywhere in the tree; with a `type`, only those
    // whose main _NET_WM_WINDOW_TYPE it is, and with `shownOnly`, only the mapped ones.
    std::vector<xcb_window_t> vellumorWindows(const std::string& type = "",
                                              bool shownOnly = false) {
        std::vector<xcb_window_t> found, all{root()};
        for (std::size_t i = 0; i < all.size(); ++i) {
            for (const xcb_window_t child : children(all[i])) {
                all.push_back(child);
                const auto types = property(child, "_NET_WM_WINDOW_TYPE");
                if (text(child, "WM_CLASS") == std::string("vellumor\0Vellumor\0", 18) &&
                    (type.empty() || (!types.empty() && types[0] == atom(type))) &&
                    (!shownOnly || viewable(child))) {
                    found.push_back(child);
                }
            }
        }
        return found;
    }
    std::vector<xcb_window_t> shown(const std::string& type) { return vellumorWindows(type, true); }
    // The shown vellumor windows of `type`, once there are some; none after 5 s without.
    std::vector<xcb_window_t> awaitShown(const std::string& type) {
        std::vector<xcb_window_t> found;
        waitUntil([&] { return !(found = shown(type)).empty(); });
        return found;
    }
    // The window's rectangle in root coordinates.
    Geometry geometry(xcb_window_t window) {
        const auto size = X11_REPLY(get_geometry, window);
        const auto at = X11_REPLY(translate_coordinates, window, root(), 0, 0);
        return size && at ? Geometry{at->dst_x, at->dst_y, size->width, size->height} : Geometry{};
    }
    bool viewable(xcb_window_t window) {
        const auto a = X11_REPLY(get_window_attributes, window);
        return a && a->map_state == XCB_MAP_STATE_VIEWABLE;
    }
    // The window's child of the root: its frame, for a window the manager manages.
    xcb_window_t topLevel(xcb_window_t window) {
        const auto tree = X11_REPLY(query_tree, window);
        return tree && tree->parent != root() && tree->parent != 0 ? topLevel(tree->parent)
                                                                   : window;
    }
    // Whether each of `upper`, and there are some, is drawn above each of `lower`.
    bool above(const std::vector<xcb_window_t>& upper, const std::vector<xcb_window_t>& lower) {
        const auto order = children(root());
        const auto at = [&](xcb_window_t w) { return std::ranges::find(order, topLevel(w)); };
        return !upper.empty() && !lower.empty() && std::ranges::all_of(upper, [&](auto u) {
            return at(u) != order.end() &&
                   std::ranges::all_of(lower, [&](auto l) { return at(l) < at(u); });
        });
    }
    xcb_window_t inputFocus() { return X11_REPLY(get_input_focus)->focus; }
    // The screen's pixels in `area`, row by row (none if it cannot be read): Xvfb at depth 24
    // on a little-endian machine gives each as the bytes blue, green, red and a spare one.
    std::vector<Rgb> grab(const Geometry& area) {
        const auto r = X11_REPLY(get_image, XCB_IMAGE_FORMAT_Z_PIXMAP, root(), std::int16_t(area.x),
                                 std::int16_t(area.y), std::uint16_t(area.width),
                                 std::uint16_t(area.height), ~0U);
        std::vector<Rgb> pixels;
        for (int i = 0; r && i < xcb_get_image_data_length(r.get()) / 4; ++i) {
            const std::uint8_t* bytes = xcb_get_image_data(r.get()) + 4 * i;
            pixels.push_back({bytes[2], bytes[1], bytes[0]});
        }
        return pixels;
    }
    Rgb pixel(int x, int y) { return grab({x, y, 1, 1}).at(0); }
    // The monitors the server reports now, left to right.
    Geometries monitors() {
        Geometries result;
        const auto r = X11_REPLY(randr_get_monitors, root(), 1);
        for (auto it = xcb_randr_get_monitors_monitors_iterator(r.get()); r && it.rem > 0;
             xcb_randr_monitor_info_next(&it)) {
            result.push_back({it.data->x, it.data->y, it.data->width, it.data->height});
        }
        std::ranges::sort(result);
        return result;
    }
    // The shown overlays' rectangles, left to right.
    Geometries overlayGeometries() {
        Geometries result;
        for (const xcb_window_t overlay : shown(kOverlay)) {
            result.push_back(geometry(overlay));
        }
        std::ranges::sort(result);
        return result;
    }
    bool overlaysMatchMonitors() {
        return !monitors().empty() && overlayGeometries() == monitors();
    }
    // Whether every monitor shows `colour` on a row every 40 pixels, but for its bottom 40
    // rows, where a tray or dock may sit: no window or menu shows on them.
    bool monitorsShow(const Rgb& colour) {
        const auto screens = monitors();
        return !screens.empty() && std::ranges::all_of(screens, [&](const Geometry& m) {
            for (int y = m.y; y < m.y + m.height - 40; y += 40) {
                const auto row = grab({m.x, y, m.width, 1});
                if (row.empty() || !std::ranges::all_of(row, [&](auto p) { return p == colour; })) {
                    return false;
                }
            }
            return true;
        });
    }

    // A mapped window of the test's own in one colour, with the given _NET_WM_WINDOW_TYPE.
    xcb_window_t createWindow(const Geometry& g, const Rgb& colour, const std::string& type) {
        const xcb_window_t window = xcb_generate_id(c_);
        const std::uint32_t pixel = std::uint32_t(colour[0] << 16 | colour[1] << 8 | colour[2]);
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window, root(), std::int16_t(g.x),
                          std::int16_t(g.y), std::uint16_t(g.width), std::uint16_t(g.height), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL,
                          &pixel);
        setProperty(window, "_NET_WM_WINDOW_TYPE", XCB_ATOM_ATOM, {atom(type)});
        xcb_map_window(c_, window);
        xcb_flush(c_);
        return window;
    }
    // Hears from now on of the events of `mask` about `window` (see received).
    void listen(xcb_window_t window, std::uint32_t mask) {
        xcb_change_window_attributes(c_, window, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(c_);
    }
    // The windows named by the map requests, unmaps or destructions (XCB_MAP_REQUEST...)
    // received so far; a round trip first, so the events sent before now are in.
    std::vector<xcb_window_t>& received(int type) {
        X11_REPLY(get_input_focus);
        while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) {
            // These three events name the window they are about in the same place.
            events_[event->response_type & 0x7F].push_back(
                reinterpret_cast<xcb_map_request_event_t*>(event)->window);
            std::free(event);
        }
        return events_[type];
    }

    std::filesystem::path dir_;
    std::string display_;
    xcb_connection_t* c_ = nullptr;
    std::map<int, std::vector<xcb_window_t>> events_;
    std::optional<Process> xvfb_, manager_, tray_;
    std::unique_ptr<Process> vellumor_;
};

}  // namespace vellumor::x11test
