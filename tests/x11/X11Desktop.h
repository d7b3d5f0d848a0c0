#pragma once

// A virtual X11 desktop for end-to-end tests of the vellumor program: Xvfb with RandR
// monitors, openbox as the window manager and trayer as the system tray, each a child process
// stopped by its pid when the test ends, passed or failed. The screen and the windows are read
// through xcb; the mouse, the keyboard and the monitors are worked with xdotool and xrandr.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace vellumor::x11test {

using namespace std::chrono_literals;

struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
    auto operator<=>(const Geometry&) const = default;
};
using Rgb = std::array<int, 3>;  // red, green, blue
inline std::ostream& operator<<(std::ostream& out, const Geometry& g) {
    return out << g.width << "x" << g.height << "+" << g.x << "+" << g.y;
}

constexpr Geometry kPrimary{0, 0, 1920, 1080};
constexpr Geometry kSecondary{1920, 0, 1280, 1024};

// vellumor's windows by their main _NET_WM_WINDOW_TYPE.
inline const std::string kOverlay = "_NET_WM_WINDOW_TYPE_DESKTOP";
inline const std::string kMenu = "_NET_WM_WINDOW_TYPE_POPUP_MENU";
inline const std::string kTrayIcon = "_KDE_NET_WM_WINDOW_TYPE_OVERRIDE";
inline const std::string kDialog = "_NET_WM_WINDOW_TYPE_DIALOG";
inline const std::string kNormal = "_NET_WM_WINDOW_TYPE_NORMAL";

using testsupport::Process;
using testsupport::waitUntil;

// The reply to one xcb request, freed when it goes; empty if the request failed.
#define X11_REPLY(request, ...) \
    own(xcb_##request##_reply(c_, xcb_##request(c_ __VA_OPT__(, ) __VA_ARGS__), nullptr))

// A connection of its own that hears, in the server's order, of the windows made, mapped,
// unmapped and destroyed where it watches, as the server reports them to any client that asks.
class EventLog final {
public:
    struct Heard {
        int kind;
        xcb_window_t window;
    };
    explicit EventLog(const std::string& display) : c_(xcb_connect(display.c_str(), nullptr)) {}
    ~EventLog() { xcb_disconnect(c_); }
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    // Watches `window` with `mask` (STRUCTURE_NOTIFY: the window itself; SUBSTRUCTURE_NOTIFY:
    // its children); once this returns, the server reports to the log.
    bool watch(xcb_window_t window, std::uint32_t mask) {
        xcb_generic_error_t* error = xcb_request_check(
            c_, xcb_change_window_attributes_checked(c_, window, XCB_CW_EVENT_MASK, &mask));
        std::free(error);
        return error == nullptr;
    }
    // Everything heard so far; a round trip first, so the events sent before now are in.
    const std::vector<Heard>& heard() {
        std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
        while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) {
            const int kind = event->response_type & 0x7F;
            // Each of these events names the window it is about in the same place.
            if (kind == XCB_CREATE_NOTIFY || kind == XCB_MAP_NOTIFY || kind == XCB_UNMAP_NOTIFY ||
                kind == XCB_DESTROY_NOTIFY) {
                heard_.push_back({kind, reinterpret_cast<xcb_map_notify_event_t*>(event)->window});
            }
            std::free(event);
        }
        return heard_;
    }
    // How often `window` was heard of as `kind` (XCB_MAP_NOTIFY...).
    int count(int kind, xcb_window_t window) {
        const auto& all = heard();
        return static_cast<int>(std::count_if(all.begin(), all.end(), [&](const Heard& h) {
            return h.kind == kind && h.window == window;
        }));
    }
    // Where `window` was first heard of as `kind`; heard().size() if never.
    std::ptrdiff_t first(int kind, xcb_window_t window) {
        const auto& all = heard();
        return std::find_if(all.begin(), all.end(),
                            [&](const Heard& h) { return h.kind == kind && h.window == window; }) -
               all.begin();
    }

private:
    xcb_connection_t* c_;
    std::vector<Heard> heard_;
};

class X11Desktop final {
public:
    // Xvfb with two monitors side by side, the left one primary, and with openbox and trayer
    // unless `bare`.
    explicit X11Desktop(bool bare = false) {
        std::string dir = (std::filesystem::temp_directory_path() / "vellumor-x11-XXXXXX").string();
        std::array<int, 2> pipe{};
        if (::mkdtemp(dir.data()) == nullptr || ::pipe(pipe.data()) != 0) {
            throw std::runtime_error("cannot make a directory or pipe");
        }
        dir_ = dir;
        // Xvfb picks a free display and names it on the pipe, so parallel runs never race for
        // one. Its screen has room right of the monitors for those the tests add.
        xvfb_.emplace(
            "Xvfb -displayfd " + std::to_string(pipe[1]) + " -screen 0 4224x1080x24 -nolisten tcp",
            dir_ / "xvfb.log");
        ::close(pipe[1]);
        pollfd readable{pipe[0], POLLIN, 0};
        for (char c = 0;
             ::poll(&readable, 1, 10000) > 0 && ::read(pipe[0], &c, 1) == 1 && c != '\n';) {
            display_ += c;
        }
        ::close(pipe[0]);
        display_ = ":" + display_;
        c_ = xcb_connect(display_.c_str(), nullptr);
        if (display_ == ":" || xcb_connection_has_error(c_) != 0) {
            throw std::runtime_error("Xvfb did not start");
        }
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
        // The primary monitor takes Xvfb's one output, in place of the server's own monitor.
        if (!run("xrandr --setmonitor +A " + xrandrGeometry(kPrimary) + " screen --setmonitor B " +
                 xrandrGeometry(kSecondary) + " none")) {
            throw std::runtime_error("xrandr could not set the monitors");
        }
        if (bare) {
            return;
        }
        openbox_.emplace("env " + environment() + " openbox --sm-disable", dir_ / "openbox.log");
        // openbox names its check window before its startup is over and drops the map requests
        // it gets until then: it is ready once it manages a probe, mapped again until it does.
        const xcb_window_t probe = createWindow({0, 0, 10, 10}, {}, kNormal);
        const bool managing = waitUntil(
            [&] {
                xcb_map_window(c_, probe);
                return contains(property(root_, "_NET_CLIENT_LIST"), probe);
            },
            10s);
        xcb_destroy_window(c_, probe);
        tray_.emplace("env " + environment() +
                          " trayer --edge bottom --align right --widthtype request --height 28"
                          " --SetDockType true --transparent false --tint 0x303030",
                      dir_ / "trayer.log");
        if (!managing || !waitUntil([&] {
                const auto owner = X11_REPLY(get_selection_owner, atom("_NET_SYSTEM_TRAY_S0"));
                return owner && owner->owner != XCB_WINDOW_NONE;
            })) {
            throw std::runtime_error("openbox or trayer did not start");
        }
    }
    ~X11Desktop() {
        xcb_disconnect(c_);
        tray_.reset();
        openbox_.reset();
        xvfb_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    const std::filesystem::path& directory() const { return dir_; }
    // The display's name, for connections of the test's own (":N").
    const std::string& display() const { return display_; }
    xcb_window_t root() const { return root_; }
    // The test's own connection to the display, for requests no helper here makes.
    xcb_connection_t* connection() const { return c_; }
    // Ends the X server, as when it crashes or the session ends under its clients: every
    // connection to it breaks. Nothing here can be asked of the display afterwards.
    void endServer() { xvfb_.reset(); }

    // Runs a command line on this display (xrandr, xdotool...); whether it succeeded.
    bool run(const std::string& command) {
        const std::string line = "env " + environment() + " timeout 10 " + command + " >>" +
                                 (dir_ / "tools.log").string() + " 2>&1";
        return std::system(line.c_str()) == 0;
    }
    // Moves the pointer, then runs the xdotool commands in `then` (" click 1"...).
    bool pointer(int x, int y, const std::string& then = "") {
        return run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + then);
    }
    // xrandr's monitor geometry: width/mm x height/mm + x + y, at about 96 dpi.
    static std::string xrandrGeometry(const Geometry& g) {
        return std::to_string(g.width) + "/" + std::to_string(g.width * 254 / 960) + "x" +
               std::to_string(g.height) + "/" + std::to_string(g.height * 254 / 960) + "+" +
               std::to_string(g.x) + "+" + std::to_string(g.y);
    }

    // The environment of the programs on this desktop: its display, and a home and config
    // directory of its own.
    std::string environment() const {
        return "DISPLAY=" + display_ + " HOME=" + dir_.string() +
               " XDG_CONFIG_HOME=" + (dir_ / "config").string();
    }
    // Starts vellumor, with no session bus (its tray icon is an XEmbed icon in trayer), no
    // platform theme and no scaling.
    std::unique_ptr<Process> launchVellumor() {
        std::filesystem::create_directories(dir_ / "runtime");
        std::filesystem::permissions(dir_ / "runtime", std::filesystem::perms::owner_all);
        return std::make_unique<Process>(
            "env -u DBUS_SESSION_BUS_ADDRESS -u QT_QPA_PLATFORMTHEME -u QT_SCALE_FACTOR " +
                environment() + " XDG_RUNTIME_DIR=" + (dir_ / "runtime").string() +
                " LSAN_OPTIONS=suppressions=" + VELLUMOR_LSAN_SUPPRESSIONS + " " + VELLUMOR_BINARY,
            dir_ / "vellumor.log");
    }

    xcb_atom_t atom(const std::string& name) {
        const auto r = X11_REPLY(intern_atom, 0, std::uint16_t(name.size()), name.c_str());
        return r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
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
        if (!items.empty()) {
            std::memcpy(items.data(), bytes.data(), items.size() * 4);
        }
        return items;
    }
    static bool contains(const std::vector<std::uint32_t>& items, std::uint32_t item) {
        return std::find(items.begin(), items.end(), item) != items.end();
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
        std::vector<xcb_window_t> found;
        std::vector<xcb_window_t> all{root_};
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
    // The window's rectangle in root coordinates.
    Geometry geometry(xcb_window_t window) {
        const auto size = X11_REPLY(get_geometry, window);
        const auto at = X11_REPLY(translate_coordinates, window, root_, 0, 0);
        return size && at ? Geometry{at->dst_x, at->dst_y, size->width, size->height} : Geometry{};
    }
    auto attributes(xcb_window_t window) { return X11_REPLY(get_window_attributes, window); }
    bool viewable(xcb_window_t window) {
        const auto a = attributes(window);
        return a && a->map_state == XCB_MAP_STATE_VIEWABLE;
    }
    // The window's child of the root: its frame, for a window the manager manages.
    xcb_window_t topLevel(xcb_window_t window) {
        for (auto tree = X11_REPLY(query_tree, window);
             tree && tree->parent != root_ && tree->parent != XCB_WINDOW_NONE;
             tree = X11_REPLY(query_tree, window)) {
            window = tree->parent;
        }
        return window;
    }
    bool isAbove(xcb_window_t upper, xcb_window_t lower) {
        const auto order = children(root_);
        const auto up = std::find(order.begin(), order.end(), topLevel(upper));
        return up != order.end() && std::find(order.begin(), up, topLevel(lower)) != up;
    }
    xcb_window_t activeWindow() {
        const auto active = property(root_, "_NET_ACTIVE_WINDOW");
        return active.empty() ? xcb_window_t{XCB_WINDOW_NONE} : active[0];
    }
    xcb_window_t inputFocus() {
        const auto r = X11_REPLY(get_input_focus);
        return r ? r->focus : xcb_window_t{XCB_WINDOW_NONE};
    }
    // The colour on screen at one root pixel: Xvfb at depth 24 on a little-endian machine
    // gives it as the bytes blue, green, red and a spare one.
    Rgb pixel(int x, int y) {
        const auto r = X11_REPLY(get_image, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, std::int16_t(x),
                                 std::int16_t(y), 1, 1, ~0U);
        if (!r || xcb_get_image_data_length(r.get()) < 4) {
            ADD_FAILURE() << "cannot read the pixel at " << x << "," << y;
            return {-1, -1, -1};
        }
        const std::uint8_t* bytes = xcb_get_image_data(r.get());
        return {bytes[2], bytes[1], bytes[0]};
    }
    // The monitors the server reports now.
    std::vector<Geometry> monitors() {
        std::vector<Geometry> result;
        if (const auto r = X11_REPLY(randr_get_monitors, root_, 1)) {
            for (auto it = xcb_randr_get_monitors_monitors_iterator(r.get()); it.rem > 0;
                 xcb_randr_monitor_info_next(&it)) {
                result.push_back({it.data->x, it.data->y, it.data->width, it.data->height});
            }
        }
        return result;
    }

    // A window of the test's own in one colour, with the given _NET_WM_WINDOW_TYPE, placed
    // where asked; `clicks` has it take button presses.
    xcb_window_t createWindow(const Geometry& g, const Rgb& colour, const std::string& type,
                              bool clicks = false) {
        const xcb_window_t window = xcb_generate_id(c_);
        const std::array<std::uint32_t, 2> values{
            std::uint32_t(colour[0] << 16 | colour[1] << 8 | colour[2]),
            clicks ? std::uint32_t{XCB_EVENT_MASK_BUTTON_PRESS} : 0U};
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window, root_, std::int16_t(g.x),
                          std::int16_t(g.y), std::uint16_t(g.width), std::uint16_t(g.height), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                          XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values.data());
        const xcb_atom_t typeAtom = atom(type);
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window, atom("_NET_WM_WINDOW_TYPE"),
                            XCB_ATOM_ATOM, 32, 1, &typeAtom);
        // A position and size the user gave: the manager keeps them.
        const std::array<std::uint32_t, 18> hints{3, std::uint32_t(g.x), std::uint32_t(g.y),
                                                  std::uint32_t(g.width), std::uint32_t(g.height)};
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NORMAL_HINTS,
                            XCB_ATOM_WM_SIZE_HINTS, 32, 18, hints.data());
        xcb_map_window(c_, window);
        xcb_flush(c_);
        return window;
    }
    // Plays a window manager in the middle of its startup: it has named its check window and
    // what it supports (desktop windows, as openbox does) but takes every map request and
    // does nothing with it, until called with false.
    void swallowMapRequests(bool swallow) {
        const std::uint32_t mask =
            swallow ? std::uint32_t{XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT} : 0U;
        xcb_change_window_attributes(c_, root_, XCB_CW_EVENT_MASK, &mask);
        if (swallow) {
            const xcb_window_t check = createWindow({-20, -20, 10, 10}, {}, kNormal);
            xcb_change_property(c_, XCB_PROP_MODE_REPLACE, root_, atom("_NET_SUPPORTING_WM_CHECK"),
                                XCB_ATOM_WINDOW, 32, 1, &check);
            xcb_change_property(c_, XCB_PROP_MODE_REPLACE, check, atom("_NET_SUPPORTING_WM_CHECK"),
                                XCB_ATOM_WINDOW, 32, 1, &check);
            const std::array<xcb_atom_t, 2> supported{atom(kOverlay), atom("_NET_WM_STATE_BELOW")};
            xcb_change_property(c_, XCB_PROP_MODE_REPLACE, root_, atom("_NET_SUPPORTED"),
                                XCB_ATOM_ATOM, 32, supported.size(), supported.data());
        }
        xcb_flush(c_);
    }
    // The windows named by the button presses or map requests received so far.
    std::vector<xcb_window_t>& received(int type) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) {
            const int kind = event->response_type & 0x7F;
            if (kind == XCB_BUTTON_PRESS) {
                events_[kind].push_back(reinterpret_cast<xcb_button_press_event_t*>(event)->event);
            } else if (kind == XCB_MAP_REQUEST) {
                events_[kind].push_back(reinterpret_cast<xcb_map_request_event_t*>(event)->window);
            }
            std::free(event);
        }
        return events_[type];
    }

private:
    template <typename Reply>
    static std::unique_ptr<Reply, decltype(&std::free)> own(Reply* reply) {
        return {reply, &std::free};
    }

    std::filesystem::path dir_;
    std::string display_;
    std::optional<Process> xvfb_, openbox_, tray_;
    xcb_connection_t* c_ = nullptr;
    xcb_window_t root_ = 0;
    std::map<int, std::vector<xcb_window_t>> events_;
};

#undef X11_REPLY

// The stored colour's default: a grey of 0.1, as the screen shows it.
constexpr Rgb kDefaultGrey{26, 26, 26};

inline std::vector<Geometry> sorted(std::vector<Geometry> geometries) {
    std::sort(geometries.begin(), geometries.end());
    return geometries;
}

// vellumor on a desktop of two monitors side by side, the program stopped before the desktop.
class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("which Xvfb openbox trayer xdotool xrandr >/dev/null") != 0) {
            GTEST_SKIP() << "Xvfb, openbox, trayer, xdotool or xrandr is not installed";
        }
    }
    void TearDown() override {
        if (HasFailure() && desktop_) {
            std::cerr << "--- vellumor output ---\n"
                      << std::ifstream(desktop_->directory() / "vellumor.log").rdbuf();
        }
        vellumor_.reset();
        desktop_.reset();
    }

    X11Desktop& startDesktop(bool bare = false) {
        desktop_ = std::make_unique<X11Desktop>(bare);
        return *desktop_;
    }
    // Starts vellumor and waits until it covers every monitor.
    ::testing::AssertionResult launch() {
        vellumor_ = desktop_->launchVellumor();
        if (waitUntil([&] { return overlaysMatchMonitors(); }, 10s)) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << "overlays " << ::testing::PrintToString(overlayGeometries()) << " for monitors "
               << ::testing::PrintToString(desktop_->monitors())
               << (vellumor_->waitForExit(0ms) ? "; vellumor has ended" : "");
    }
    std::vector<Geometry> overlayGeometries() {
        std::vector<Geometry> result;
        for (const xcb_window_t overlay : desktop_->shown(kOverlay)) {
            result.push_back(desktop_->geometry(overlay));
        }
        return sorted(result);
    }
    bool overlaysMatchMonitors() {
        const auto monitors = desktop_->monitors();
        return !monitors.empty() && overlayGeometries() == sorted(monitors);
    }
    // Whether each of `upper`, and there are some, is drawn above each of `lower`.
    bool above(const std::vector<xcb_window_t>& upper, const std::vector<xcb_window_t>& lower) {
        return !upper.empty() && !lower.empty() &&
               std::all_of(upper.begin(), upper.end(), [&](auto u) {
                   return std::all_of(lower.begin(), lower.end(),
                                      [&](auto l) { return desktop_->isAbove(u, l); });
               });
    }

    // Whether points spread over every monitor show `colour`: corners (but the bottom-right
    // one, where the tray may sit), edges' middles and the centre.
    bool monitorsShow(const Rgb& colour) {
        const auto monitors = desktop_->monitors();
        for (const Geometry& m : monitors) {
            const int r = m.x + m.width - 1, b = m.y + m.height - 1;
            const int cx = m.x + m.width / 2, cy = m.y + m.height / 2;
            for (const auto& [x, y] : std::initializer_list<std::pair<int, int>>{
                     {m.x, m.y}, {r, m.y}, {m.x, b}, {cx, cy}, {m.x, cy}, {r, cy}, {cx, b - 40}}) {
                if (desktop_->pixel(x, y) != colour) {
                    return false;
                }
            }
        }
        return !monitors.empty();
    }

    // The shown vellumor windows of `type`, once there are some; none after 5 s without.
    std::vector<xcb_window_t> awaitShown(const std::string& type) {
        std::vector<xcb_window_t> found;
        waitUntil([&] { return !(found = desktop_->shown(type)).empty(); });
        return found;
    }

    // Picks an entry of the tray icon's menu: opens it with a click on the icon and goes down
    // to the entry with the keyboard.
    enum Entry : int { kAbout = 1, kPickColor, kToggle, kQuit };
    ::testing::AssertionResult choose(Entry entry) {
        const auto icon = awaitShown(kTrayIcon);
        if (icon.empty()) {
            return ::testing::AssertionFailure() << "no tray icon";
        }
        const Geometry at = desktop_->geometry(icon[0]);
        // A press within Qt's double-click interval (400 ms) of the last one is a double click,
        // which opens no menu.
        std::this_thread::sleep_until(lastClick_ + 500ms);
        lastClick_ = std::chrono::steady_clock::now();
        desktop_->pointer(at.x + at.width / 2, at.y + at.height / 2, " click 1");
        if (awaitShown(kMenu).empty()) {
            return ::testing::AssertionFailure() << "the tray icon opened no menu";
        }
        std::string keys = " key";
        for (int i = 0; i < entry; ++i) {
            keys += " Down";
        }
        // The pointer leaves the menu before the keys, lest it light an entry they start from.
        desktop_->pointer(kPrimary.width / 2, kPrimary.height / 2, keys + " Return");
        if (waitUntil([&] { return desktop_->shown(kMenu).empty(); })) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure() << "the menu stays open";
    }
    std::unique_ptr<X11Desktop> desktop_;
    std::unique_ptr<Process> vellumor_;
    std::chrono::steady_clock::time_point lastClick_;
};

}  // namespace vellumor::x11test
