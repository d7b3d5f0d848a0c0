#include "tests/x11/X11Desktop.h"

#include <xcb/randr.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

extern char** environ;

namespace vellumor::x11test {

namespace {

template <typename Reply>
std::unique_ptr<Reply, decltype(&std::free)> own(Reply* reply, xcb_generic_error_t** error) {
    // By address: the error is read only once the call that fills it has run, whatever order
    // the arguments were evaluated in.
    std::free(*error);
    return {reply, &std::free};
}

std::filesystem::path findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream directories(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string directory; std::getline(directories, directory, ':');) {
        const auto candidate = std::filesystem::path(directory) / name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

std::vector<std::string> environmentWith(const std::map<std::string, std::string>& overrides) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const std::string name = text.substr(0, text.find('='));
        if (!overrides.contains(name)) {
            result.push_back(text);
        }
    }
    for (const auto& [name, value] : overrides) {
        if (!value.empty()) {
            result.push_back(name + "=" + value);
        }
    }
    return result;
}

std::string geometryArgument(const Geometry& g) {
    // xrandr's monitor geometry: width/mm x height/mm + x + y, at about 96 dpi.
    return std::to_string(g.width) + "/" + std::to_string(g.width * 254 / 960) + "x" +
           std::to_string(g.height) + "/" + std::to_string(g.height * 254 / 960) + "+" +
           std::to_string(g.x) + "+" + std::to_string(g.y);
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const Geometry& g) {
    return out << g.width << "x" << g.height << "+" << g.x << "+" << g.y;
}

std::ostream& operator<<(std::ostream& out, const Rgb& rgb) {
    return out << "rgb(" << rgb.red << "," << rgb.green << "," << rgb.blue << ")";
}

// --- ChildProcess ---------------------------------------------------------------------------

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::map<std::string, std::string>& environment,
                           const std::filesystem::path& log, int keepFd) {
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    const auto envStrings = environmentWith(environment);
    std::vector<char*> env;
    for (const std::string& entry : envStrings) {
        env.push_back(const_cast<char*>(entry.c_str()));
    }
    env.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    if (keepFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, keepFd, 3);
    }
    // Its own process group, so that a stop reaches nothing of the test's.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    const int error =
        posix_spawnp(&pid_, args.front(), &actions, &attributes, args.data(), env.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + argv.front() + ": " + std::strerror(error));
    }
}

ChildProcess::~ChildProcess() {
    stop();
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds timeout) {
    if (status_) {
        return status_;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            status_ = status;
            return status_;
        }
        std::this_thread::sleep_for(10ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return std::nullopt;
}

bool ChildProcess::running() {
    return pid_ > 0 && !waitForExit(0ms);
}

void ChildProcess::stop() {
    if (pid_ <= 0 || status_) {
        return;
    }
    ::kill(pid_, SIGTERM);
    if (!waitForExit(3s)) {
        ::kill(pid_, SIGKILL);
        waitForExit(3s);
    }
}

// --- Helpers --------------------------------------------------------------------------------

std::vector<std::string> missingDesktopPrograms() {
    std::vector<std::string> missing;
    for (const char* program : {"Xvfb", "openbox", "trayer", "xdotool", "xrandr"}) {
        if (findProgram(program).empty()) {
            missing.emplace_back(program);
        }
    }
    return missing;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(25ms);
    }
}

// --- X11Desktop -----------------------------------------------------------------------------

X11Desktop::X11Desktop(const Options& options) {
    std::string pattern = (std::filesystem::temp_directory_path() / "vellumor-x11-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary directory");
    }
    directory_ = pattern;

    // Xvfb picks a free display itself and names it on the pipe, so parallel tests never
    // race for a number.
    std::array<int, 2> pipe{};
    if (::pipe2(pipe.data(), O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot make a pipe");
    }
    int right = 0;
    int bottom = 0;
    for (const MonitorSetup& monitor : options.monitors) {
        right = std::max(right, monitor.geometry.x + monitor.geometry.width);
        bottom = std::max(bottom, monitor.geometry.y + monitor.geometry.height);
    }
    // Room to add monitors beyond the first ones.
    const std::string screen = std::to_string(right + 1024) + "x" + std::to_string(bottom) + "x24";
    xvfb_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"Xvfb", "-displayfd", "3", "-screen", "0", screen, "-noreset",
                                 "-nolisten", "tcp"},
        std::map<std::string, std::string>{}, directory_ / "xvfb.log", pipe[1]);
    ::close(pipe[1]);
    std::string number;
    pollfd readable{pipe[0], POLLIN, 0};
    while (::poll(&readable, 1, 10000) > 0) {
        char c = 0;
        if (::read(pipe[0], &c, 1) != 1 || c == '\n') {
            break;
        }
        number.push_back(c);
    }
    ::close(pipe[0]);
    if (number.empty()) {
        throw std::runtime_error("Xvfb did not start");
    }
    display_ = ":" + number;

    connection_ = xcb_connect(display_.c_str(), nullptr);
    if (xcb_connection_has_error(connection_) != 0) {
        throw std::runtime_error("cannot connect to " + display_);
    }
    xcb_screen_t* screenData = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    root_ = screenData->root;
    for (auto depths = xcb_screen_allowed_depths_iterator(screenData); depths.rem > 0;
         xcb_depth_next(&depths)) {
        for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem > 0;
             xcb_visualtype_next(&visuals)) {
            if (visuals.data->visual_id == screenData->root_visual) {
                visual_ = visuals.data;
            }
        }
    }

    // Monitors: the first is given Xvfb's one output and replaces the server's automatic
    // monitor; "+" marks the primary one.
    bool first = true;
    for (const MonitorSetup& monitor : options.monitors) {
        run({"xrandr", "--setmonitor", (monitor.primary ? "+" : "") + monitor.name,
             geometryArgument(monitor.geometry), first ? "screen" : "none"});
        first = false;
    }

    if (options.startWindowManager) {
        openbox_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{"openbox", "--sm-disable"},
            std::map<std::string, std::string>{
                {"DISPLAY", display_},
                {"HOME", directory_.string()},
                {"XDG_CONFIG_HOME", (directory_ / "config").string()}},
            directory_ / "openbox.log");
        // openbox 3.6 names its check window before its startup is over and drops the map
        // requests it gets until then: it is ready once it manages a probe window, which is
        // mapped again until it does.
        const xcb_window_t probe =
            createWindow({0, 0, 10, 10}, {0, 0, 0}, "_NET_WM_WINDOW_TYPE_NORMAL");
        const bool managing = waitUntil(
            [&] {
                const auto clients = property32(root_, "_NET_CLIENT_LIST");
                if (std::find(clients.begin(), clients.end(), probe) != clients.end()) {
                    return true;
                }
                xcb_map_window(connection_, probe);
                xcb_flush(connection_);
                return false;
            },
            10s);
        xcb_destroy_window(connection_, probe);
        xcb_flush(connection_);
        std::erase(ownWindows_, probe);
        if (!managing) {
            throw std::runtime_error("openbox did not start");
        }
    }
    if (options.startTray) {
        startTray();
    }
}

X11Desktop::~X11Desktop() {
    if (connection_ != nullptr) {
        xcb_disconnect(connection_);
    }
    tray_.reset();
    openbox_.reset();
    xvfb_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

void X11Desktop::startTray() {
    tray_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"trayer", "--edge", "bottom", "--align", "right", "--widthtype",
                                 "request", "--height", "28", "--SetDockType", "true",
                                 "--transparent", "false", "--tint", "0x303030"},
        std::map<std::string, std::string>{{"DISPLAY", display_}}, directory_ / "trayer.log");
    const xcb_atom_t selection = atom("_NET_SYSTEM_TRAY_S0");
    const bool owned = waitUntil([&] {
        xcb_generic_error_t* error = nullptr;
        const auto reply =
            own(xcb_get_selection_owner_reply(
                    connection_, xcb_get_selection_owner(connection_, selection), &error),
                &error);
        return reply && reply->owner != XCB_WINDOW_NONE;
    });
    if (!owned) {
        throw std::runtime_error("trayer did not start");
    }
}

bool X11Desktop::run(const std::vector<std::string>& argv) {
    ChildProcess tool(argv, {{"DISPLAY", display_}}, directory_ / "tools.log");
    const auto status = tool.waitForExit(10s);
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

std::unique_ptr<ChildProcess> X11Desktop::launchVellumor() {
    const auto config = directory_ / "vellumor-config";
    const auto runtime = directory_ / "runtime";
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    // For a sanitizer build: D-Bus and fontconfig keep caches for the life of the process,
    // which LeakSanitizer reports at exit; leaks of the program's own are still reported.
    const auto suppressions = directory_ / "lsan.supp";
    std::ofstream(suppressions) << "leak:libdbus-1.so\nleak:libfontconfig.so\n";
    return std::make_unique<ChildProcess>(
        std::vector<std::string>{VELLUMOR_BINARY},
        std::map<std::string, std::string>{
            {"DISPLAY", display_},
            {"XDG_CONFIG_HOME", config.string()},
            {"XDG_RUNTIME_DIR", runtime.string()},
            {"HOME", directory_.string()},
            // No session bus: the tray icon is an XEmbed icon in trayer.
            {"DBUS_SESSION_BUS_ADDRESS", ""},
            {"QT_QPA_PLATFORMTHEME", ""},
            {"QT_SCALE_FACTOR", ""},
            {"LSAN_OPTIONS", "suppressions=" + suppressions.string()},
        },
        directory_ / "vellumor.log");
}

std::string X11Desktop::vellumorLog() const {
    std::ifstream in(directory_ / "vellumor.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

xcb_atom_t X11Desktop::atom(const std::string& name) {
    if (const auto found = atoms_.find(name); found != atoms_.end()) {
        return found->second;
    }
    xcb_generic_error_t* error = nullptr;
    const auto reply = own(
        xcb_intern_atom_reply(
            connection_,
            xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(name.size()), name.c_str()),
            &error),
        &error);
    const xcb_atom_t value = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    atoms_[name] = value;
    return value;
}

std::vector<std::uint32_t> X11Desktop::property32(xcb_window_t window,
                                                  const std::string& property) {
    xcb_generic_error_t* error = nullptr;
    const auto reply =
        own(xcb_get_property_reply(connection_,
                                   xcb_get_property(connection_, 0, window, atom(property),
                                                    XCB_GET_PROPERTY_TYPE_ANY, 0, 4096),
                                   &error),
            &error);
    if (!reply || reply->format != 32) {
        return {};
    }
    const auto* items = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    return {items, items + xcb_get_property_value_length(reply.get()) / 4};
}

std::string X11Desktop::propertyText(xcb_window_t window, const std::string& property) {
    xcb_generic_error_t* error = nullptr;
    const auto reply =
        own(xcb_get_property_reply(connection_,
                                   xcb_get_property(connection_, 0, window, atom(property),
                                                    XCB_GET_PROPERTY_TYPE_ANY, 0, 4096),
                                   &error),
            &error);
    if (!reply || reply->format != 8) {
        return {};
    }
    const auto* bytes = static_cast<const char*>(xcb_get_property_value(reply.get()));
    return {bytes, static_cast<std::size_t>(xcb_get_property_value_length(reply.get()))};
}

std::vector<std::string> X11Desktop::atomNames(xcb_window_t window, const std::string& property) {
    std::vector<std::string> names;
    for (const std::uint32_t value : property32(window, property)) {
        xcb_generic_error_t* error = nullptr;
        const auto reply =
            own(xcb_get_atom_name_reply(connection_, xcb_get_atom_name(connection_, value), &error),
                &error);
        if (reply) {
            names.emplace_back(
                xcb_get_atom_name_name(reply.get()),
                static_cast<std::size_t>(xcb_get_atom_name_name_length(reply.get())));
        }
    }
    return names;
}

std::vector<xcb_window_t> X11Desktop::managedWindows() {
    return property32(root_, "_NET_CLIENT_LIST_STACKING");
}

std::vector<xcb_window_t> X11Desktop::vellumorWindows() {
    std::vector<xcb_window_t> found;
    std::vector<xcb_window_t> pending{root_};
    while (!pending.empty()) {
        const xcb_window_t window = pending.back();
        pending.pop_back();
        xcb_generic_error_t* error = nullptr;
        const auto tree = own(
            xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), &error), &error);
        if (!tree) {
            continue;
        }
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
            pending.push_back(children[i]);
            if (propertyText(children[i], "WM_CLASS") == std::string("vellumor\0Vellumor\0", 18)) {
                found.push_back(children[i]);
            }
        }
    }
    return found;
}

std::vector<xcb_window_t> X11Desktop::shownOverlays() {
    std::vector<xcb_window_t> overlays;
    for (const xcb_window_t window : vellumorWindows()) {
        const auto types = atomNames(window, "_NET_WM_WINDOW_TYPE");
        if (isViewable(window) &&
            std::find(types.begin(), types.end(), "_NET_WM_WINDOW_TYPE_DESKTOP") != types.end()) {
            overlays.push_back(window);
        }
    }
    return overlays;
}

Geometry X11Desktop::geometry(xcb_window_t window) {
    xcb_generic_error_t* error = nullptr;
    const auto size = own(
        xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), &error), &error);
    error = nullptr;
    const auto origin =
        own(xcb_translate_coordinates_reply(
                connection_, xcb_translate_coordinates(connection_, window, root_, 0, 0), &error),
            &error);
    if (!size || !origin) {
        return {};
    }
    return {origin->dst_x, origin->dst_y, size->width, size->height};
}

bool X11Desktop::isViewable(xcb_window_t window) {
    xcb_generic_error_t* error = nullptr;
    const auto attributes =
        own(xcb_get_window_attributes_reply(connection_,
                                            xcb_get_window_attributes(connection_, window), &error),
            &error);
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
}

std::uint32_t X11Desktop::selectedEvents(xcb_window_t window) {
    xcb_generic_error_t* error = nullptr;
    const auto attributes =
        own(xcb_get_window_attributes_reply(connection_,
                                            xcb_get_window_attributes(connection_, window), &error),
            &error);
    return attributes ? attributes->all_event_masks : 0U;
}

xcb_window_t X11Desktop::topLevelOf(xcb_window_t window) {
    while (true) {
        xcb_generic_error_t* error = nullptr;
        const auto tree = own(
            xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), &error), &error);
        if (!tree || tree->parent == root_ || tree->parent == XCB_WINDOW_NONE) {
            return window;
        }
        window = tree->parent;
    }
}

std::vector<xcb_window_t> X11Desktop::stackingOrder() {
    xcb_generic_error_t* error = nullptr;
    const auto tree =
        own(xcb_query_tree_reply(connection_, xcb_query_tree(connection_, root_), &error), &error);
    if (!tree) {
        return {};
    }
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    return {children, children + xcb_query_tree_children_length(tree.get())};
}

bool X11Desktop::isAbove(xcb_window_t upper, xcb_window_t lower) {
    const auto order = stackingOrder();
    const auto upperAt = std::find(order.begin(), order.end(), topLevelOf(upper));
    const auto lowerAt = std::find(order.begin(), order.end(), topLevelOf(lower));
    return upperAt != order.end() && lowerAt != order.end() && upperAt > lowerAt;
}

std::uint32_t X11Desktop::pixelValue(int x, int y) {
    xcb_generic_error_t* error = nullptr;
    const auto image =
        own(xcb_get_image_reply(connection_,
                                xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_,
                                              static_cast<std::int16_t>(x),
                                              static_cast<std::int16_t>(y), 1, 1, ~0U),
                                &error),
            &error);
    if (!image || xcb_get_image_data_length(image.get()) < 4) {
        return 0;
    }
    std::uint32_t value = 0;
    std::memcpy(&value, xcb_get_image_data(image.get()), sizeof value);
    return value;
}

Rgb X11Desktop::toRgb(std::uint32_t value) const {
    const auto channel = [value](std::uint32_t mask) {
        const std::uint32_t bits = (value & mask) >> std::countr_zero(mask);
        const std::uint32_t maximum = mask >> std::countr_zero(mask);
        return static_cast<int>((bits * 255 + maximum / 2) / maximum);
    };
    return {channel(visual_->red_mask), channel(visual_->green_mask), channel(visual_->blue_mask)};
}

Rgb X11Desktop::pixel(int x, int y) {
    return toRgb(pixelValue(x, y));
}

std::vector<Rgb> X11Desktop::column(int x, int y, int height) {
    xcb_generic_error_t* error = nullptr;
    const auto image =
        own(xcb_get_image_reply(
                connection_,
                xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_,
                              static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), 1,
                              static_cast<std::uint16_t>(height), ~0U),
                &error),
            &error);
    std::vector<Rgb> colours;
    if (!image) {
        return colours;
    }
    // One 32-bit pixel per row at depth 24.
    const int rows = xcb_get_image_data_length(image.get()) / 4;
    const std::uint8_t* data = xcb_get_image_data(image.get());
    for (int row = 0; row < rows; ++row) {
        std::uint32_t value = 0;
        std::memcpy(&value, data + row * 4, sizeof value);
        colours.push_back(toRgb(value));
    }
    return colours;
}

void X11Desktop::warpPointer(int x, int y) {
    xcb_warp_pointer(connection_, XCB_WINDOW_NONE, root_, 0, 0, 0, 0, static_cast<std::int16_t>(x),
                     static_cast<std::int16_t>(y));
    xcb_flush(connection_);
}

void X11Desktop::swallowMapRequests() {
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT;
    xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
    const xcb_window_t check = xcb_generate_id(connection_);
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, check, root_, -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, root_, atom("_NET_SUPPORTING_WM_CHECK"),
                        XCB_ATOM_WINDOW, 32, 1, &check);
    xcb_flush(connection_);
}

void X11Desktop::stopSwallowingMapRequests() {
    const std::uint32_t none = 0;
    xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &none);
    xcb_flush(connection_);
}

std::vector<xcb_window_t> X11Desktop::takeMapRequests() {
    pumpEvents();
    return std::exchange(mapRequests_, {});
}

void X11Desktop::watchWindowCreation() {
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection_);
    pumpEvents();
    created_.clear();
}

std::vector<xcb_window_t> X11Desktop::takeWindowsCreatedByOwnerOf(xcb_window_t sample) {
    pumpEvents();
    // Resource ids carry their client's base in the bits outside the server's id mask.
    const std::uint32_t mask = xcb_get_setup(connection_)->resource_id_mask;
    std::vector<xcb_window_t> result;
    for (const xcb_window_t window : created_) {
        if ((window & ~mask) == (sample & ~mask)) {
            result.push_back(window);
        }
    }
    created_.clear();
    return result;
}

void X11Desktop::pumpEvents() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        const auto type = event->response_type & 0x7F;
        if (type == XCB_BUTTON_PRESS) {
            buttonPresses_.push_back(reinterpret_cast<xcb_button_press_event_t*>(event)->event);
        } else if (type == XCB_MAP_REQUEST) {
            mapRequests_.push_back(reinterpret_cast<xcb_map_request_event_t*>(event)->window);
        } else if (type == XCB_CREATE_NOTIFY) {
            created_.push_back(reinterpret_cast<xcb_create_notify_event_t*>(event)->window);
        }
        std::free(event);
    }
}

std::vector<Geometry> X11Desktop::monitors() {
    xcb_generic_error_t* error = nullptr;
    const auto reply = own(xcb_randr_get_monitors_reply(
                               connection_, xcb_randr_get_monitors(connection_, root_, 1), &error),
                           &error);
    std::vector<Geometry> result;
    if (reply) {
        for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
             xcb_randr_monitor_info_next(&it)) {
            result.push_back({it.data->x, it.data->y, it.data->width, it.data->height});
        }
    }
    return result;
}

xcb_window_t X11Desktop::inputFocus() {
    xcb_generic_error_t* error = nullptr;
    const auto reply = own(
        xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), &error), &error);
    return reply ? reply->focus : xcb_window_t{XCB_WINDOW_NONE};
}

xcb_window_t X11Desktop::activeWindow() {
    const auto active = property32(root_, "_NET_ACTIVE_WINDOW");
    return active.empty() ? xcb_window_t{XCB_WINDOW_NONE} : active.front();
}

xcb_window_t X11Desktop::createWindow(const Geometry& g, const Rgb& color, const std::string& type,
                                      bool takesClicks) {
    const xcb_window_t window = xcb_generate_id(connection_);
    const auto scale = [](int value, std::uint32_t mask) {
        const std::uint32_t maximum = mask >> std::countr_zero(mask);
        return ((static_cast<std::uint32_t>(value) * maximum + 127) / 255)
               << std::countr_zero(mask);
    };
    const std::array<std::uint32_t, 2> values{
        scale(color.red, visual_->red_mask) | scale(color.green, visual_->green_mask) |
            scale(color.blue, visual_->blue_mask),
        takesClicks ? std::uint32_t{XCB_EVENT_MASK_BUTTON_PRESS} : 0U};
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, root_,
                      static_cast<std::int16_t>(g.x), static_cast<std::int16_t>(g.y),
                      static_cast<std::uint16_t>(g.width), static_cast<std::uint16_t>(g.height), 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                      XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values.data());
    const xcb_atom_t typeAtom = atom(type);
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, atom("_NET_WM_WINDOW_TYPE"),
                        XCB_ATOM_ATOM, 32, 1, &typeAtom);
    const std::string wmClass("x11test\0X11test\0", 16);
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS,
                        XCB_ATOM_STRING, 8, static_cast<std::uint32_t>(wmClass.size()),
                        wmClass.data());
    // A position the user gave: the manager keeps it.
    const std::array<std::uint32_t, 18> hints{
        1U | 2U, static_cast<std::uint32_t>(g.x), static_cast<std::uint32_t>(g.y),
        static_cast<std::uint32_t>(g.width), static_cast<std::uint32_t>(g.height)};
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NORMAL_HINTS,
                        XCB_ATOM_WM_SIZE_HINTS, 32, 18, hints.data());
    xcb_map_window(connection_, window);
    xcb_flush(connection_);
    ownWindows_.push_back(window);
    return window;
}

std::vector<xcb_window_t> X11Desktop::takeButtonPresses() {
    pumpEvents();
    return std::exchange(buttonPresses_, {});
}

void X11Desktop::click(int x, int y, int button) {
    run({"xdotool", "mousemove", std::to_string(x), std::to_string(y), "click",
         std::to_string(button)});
}

void X11Desktop::moveMouse(int x, int y) {
    run({"xdotool", "mousemove", std::to_string(x), std::to_string(y)});
}

void X11Desktop::drag(int fromX, int fromY, int toX, int toY) {
    run({"xdotool", "mousemove", std::to_string(fromX), std::to_string(fromY), "mousedown", "1"});
    constexpr int kSteps = 10;
    for (int step = 1; step <= kSteps; ++step) {
        std::this_thread::sleep_for(20ms);
        moveMouse(fromX + (toX - fromX) * step / kSteps, fromY + (toY - fromY) * step / kSteps);
    }
    run({"xdotool", "mouseup", "1"});
}

void X11Desktop::typeText(const std::string& text) {
    run({"xdotool", "type", "--delay", "20", text});
}

void X11Desktop::key(const std::string& keys) {
    run({"xdotool", "key", keys});
}

}  // namespace vellumor::x11test
