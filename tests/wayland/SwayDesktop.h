#pragma once

// A Wayland desktop for end-to-end tests of the vellumor program: a headless sway (pixman
// renderer, no input devices) with a session bus of its own, in a private runtime directory,
// each a child process stopped by its pid when the test ends, passed or failed. Outputs are
// added and arranged with swaymsg, the screen is read with grim and the layout with sway's
// IPC (get_outputs, get_tree); the pointer is worked through sway's seat commands and the
// keyboard through wtype (a virtual keyboard).
//
// sway will not run as root: when the tests do, every program of the session (sway, the
// bus, vellumor, foot, grim, swaymsg, wtype) runs as the unprivileged account kAccount, which
// .ci/run creates; otherwise they run as the current user.
//
// Headless outputs of sway 1.7 cannot be taken away again (wlroots 0.15 refuses to disable
// them), so a desktop made with removable outputs is a sway nested in the headless one: its
// outputs are windows of the outer sway, and closing one unplugs that output.

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace vellumor::waylandtest {

using namespace std::chrono_literals;
using testsupport::Process;

// The account that runs the session when the tests run as root.
inline constexpr char kAccount[] = "vellumortest";

struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
    auto operator<=>(const Geometry&) const = default;
    bool contains(int px, int py) const {
        return px >= x && py >= y && px < x + width && py < y + height;
    }
};
inline std::ostream& operator<<(std::ostream& out, const Geometry& g) {
    return out << g.width << "x" << g.height << "+" << g.x << "+" << g.y;
}
using Rgb = std::array<int, 3>;  // red, green, blue

// The stored colour's default: a grey of 0.1, as the screen shows it.
constexpr Rgb kDefaultGrey{26, 26, 26};

struct Output {
    std::string name;
    Geometry rect;  // in the layout, in logical pixels
    auto operator<=>(const Output&) const = default;
};
inline std::ostream& operator<<(std::ostream& out, const Output& o) {
    return out << o.name << " " << o.rect;
}

// The Qt event loop the test's D-Bus objects are served from; made on first use.
inline void pumpEvents() {
    static int argc = 1;
    static char name[] = "wayland_tests";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) {
        new QCoreApplication(argc, argv);  // lives as long as the test process
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Polls `condition`, serving the test's D-Bus objects in between, until it holds or `timeout`
// passes; whether it held.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds timeout = 10s) {
    return testsupport::waitUntil(
        [&] {
            pumpEvents();
            return condition();
        },
        timeout);
}

// Who runs the session's programs: the current user, or kAccount when that is root.
class SessionUser final {
public:
    static const SessionUser& get() {
        static const SessionUser user;
        return user;
    }
    // Why the session cannot run here; empty if it can.
    const std::string& unavailable() const { return why_; }
    // What goes before a command line to run it as the session's user.
    const std::string& prefix() const { return prefix_; }
    // The session user's uid.
    uid_t uid() const { return switching_ ? uid_ : ::geteuid(); }
    // Makes `path` and all below it the session user's, so that its programs can use them.
    void own(const std::filesystem::path& path) const {
        if (!switching_) {
            return;
        }
        const auto give = [&](const std::filesystem::path& p) {
            if (::lchown(p.c_str(), uid_, gid_) != 0) {
                ADD_FAILURE() << "cannot give " << p << " to " << kAccount;
            }
        };
        give(path);
        if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
                give(entry.path());
            }
        }
    }
    // The program, where the session's user can run it: the build tree may lie in a directory
    // only root can enter, so root's tests run a copy in a directory that all can read.
    const std::filesystem::path& program() const { return program_; }
    // LeakSanitizer's suppressions for the program, where the session's user can read them.
    const std::filesystem::path& suppressions() const { return suppressions_; }
    ~SessionUser() {
        if (!copies_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(copies_, ignored);
        }
    }
    SessionUser(const SessionUser&) = delete;
    SessionUser& operator=(const SessionUser&) = delete;

private:
    SessionUser() : program_(VELLUMOR_BINARY), suppressions_(VELLUMOR_LSAN_SUPPRESSIONS) {
        if (::geteuid() != 0) {
            return;
        }
        const passwd* account = ::getpwnam(kAccount);
        if (account == nullptr) {
            why_ = std::string("sway does not run as root and there is no account ") + kAccount +
                   " to run it as (.ci/run creates it)";
            return;
        }
        switching_ = true;
        uid_ = account->pw_uid;
        gid_ = account->pw_gid;
        prefix_ = "setpriv --reuid=" + std::to_string(uid_) + " --regid=" + std::to_string(gid_) +
                  " --clear-groups ";
        std::string dir =
            (std::filesystem::temp_directory_path() / "vellumor-wayland-bin-XXXXXX").string();
        if (::mkdtemp(dir.data()) == nullptr) {
            why_ = "cannot make a directory for the program's copy";
            return;
        }
        copies_ = dir;
        std::filesystem::permissions(
            copies_, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                         std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                         std::filesystem::perms::others_exec);
        program_ = copies_ / "vellumor";
        std::filesystem::copy_file(VELLUMOR_BINARY, program_);
        std::filesystem::permissions(
            program_, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                          std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                          std::filesystem::perms::others_exec);
        suppressions_ = copies_ / "lsan.supp";
        std::filesystem::copy_file(VELLUMOR_LSAN_SUPPRESSIONS, suppressions_);
        std::filesystem::permissions(suppressions_, std::filesystem::perms::owner_read |
                                                        std::filesystem::perms::group_read |
                                                        std::filesystem::perms::others_read);
    }

    std::string why_;
    std::string prefix_;
    bool switching_ = false;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    std::filesystem::path copies_;
    std::filesystem::path program_;
    std::filesystem::path suppressions_;
};

// A sway of the test's own. `inner` names the compositor whose outputs are the windows of an
// outer one (see the top of this file).
class SwayDesktop final {
public:
    explicit SwayDesktop(bool removableOutputs = false) {
        std::string dir =
            (std::filesystem::temp_directory_path() / "vellumor-wayland-XXXXXX").string();
        if (::mkdtemp(dir.data()) == nullptr) {
            throw std::runtime_error("cannot make a directory");
        }
        dir_ = dir;
        std::filesystem::create_directories(dir_ / "runtime");
        std::filesystem::create_directories(dir_ / "config");
        std::filesystem::permissions(dir_ / "runtime", std::filesystem::perms::owner_all);
        SessionUser::get().own(dir_);

        // A session bus that the test, which may be root, can join as well as the session's
        // user.
        std::ofstream(dir_ / "bus.conf")
            << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
               "1.0//EN\"\n"
            << " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            << "<busconfig>\n  <type>session</type>\n  <listen>" << busAddress()
            << "</listen>\n  <auth>EXTERNAL</auth>\n  <policy context=\"default\">\n"
            << "    <allow user=\"" << ::geteuid() << "\"/>\n    <allow user=\""
            << SessionUser::get().uid()
            << "\"/>\n    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
            << "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n  </policy>\n"
            << "</busconfig>\n";
        SessionUser::get().own(dir_ / "bus.conf");
        bus_.emplace(
            user() + "env -i PATH=" + path() +
                " dbus-daemon --nofork --nopidfile --config-file=" + (dir_ / "bus.conf").string(),
            dir_ / "dbus.log");
        if (!testsupport::waitUntil([&] { return std::filesystem::exists(dir_ / "runtime/bus"); },
                                    10s)) {
            throw std::runtime_error("the session bus did not start");
        }
        if (removableOutputs) {
            outer_.emplace(startSway("outer", "for_window [app_id=\"wlroots\"] floating enable\n",
                                     "WLR_BACKENDS=headless"));
            inner_.emplace(
                startSway("inner", "", "WLR_BACKENDS=wayland WAYLAND_DISPLAY=" + outer_->display));
        } else {
            inner_.emplace(startSway("sway", "", "WLR_BACKENDS=headless"));
        }
    }
    ~SwayDesktop() {
        inner_.reset();
        outer_.reset();
        bus_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    SwayDesktop(const SwayDesktop&) = delete;
    SwayDesktop& operator=(const SwayDesktop&) = delete;

    const std::filesystem::path& directory() const { return dir_; }
    std::string busAddress() const { return "unix:path=" + (dir_ / "runtime/bus").string(); }
    // What a program of this session finds in its environment, as env(1) operands: the
    // compositor, the bus, and a home and config directory of the desktop's own.
    std::string environment() const {
        return "PATH=" + path() + " HOME=" + dir_.string() +
               " XDG_RUNTIME_DIR=" + (dir_ / "runtime").string() +
               " XDG_CONFIG_HOME=" + (dir_ / "config").string() +
               // While the compositors start, only swaymsg runs, told its socket.
               (inner_ ? " WAYLAND_DISPLAY=" + inner_->display + " SWAYSOCK=" + inner_->ipc
                       : std::string()) +
               " DBUS_SESSION_BUS_ADDRESS=" + busAddress() +
               " XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=sway LANG=C.UTF-8";
    }
    // Starts `command` in the session, as its user, with `extra` env(1) operands; its output
    // goes to `log` in the desktop's directory.
    std::unique_ptr<Process> start(const std::string& command, const std::string& log,
                                   const std::string& extra = "") const {
        return std::make_unique<Process>(
            user() + "env -i " + environment() + " " + extra + " " + command, dir_ / log);
    }
    // Runs a command line in the session to its end (10 s at most); what it wrote on stdout,
    // or nothing if it failed.
    std::optional<std::string> capture(const std::string& command) const {
        const std::string line = user() + "env -i " + environment() + " timeout 10 " + command +
                                 " 2>>" + (dir_ / "tools.log").string();
        FILE* pipe = ::popen(line.c_str(), "r");
        if (pipe == nullptr) {
            return std::nullopt;
        }
        std::string out;
        std::array<char, 4096> buffer{};
        for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) {
            out.append(buffer.data(), n);
        }
        return ::pclose(pipe) == 0 ? std::optional(out) : std::nullopt;
    }
    bool run(const std::string& command) const { return capture(command).has_value(); }
    // A sway command; whether sway carried it out.
    bool sway(const std::string& command) const { return sway(*inner_, command); }

    // The active outputs in the order sway lists them.
    std::vector<Output> outputs() const {
        std::vector<Output> result;
        for (const QJsonValue value : ipc("get_outputs").array()) {
            const QJsonObject output = value.toObject();
            if (output["active"].toBool()) {
                const QJsonObject r = output["rect"].toObject();
                result.push_back(
                    {output["name"].toString().toStdString(),
                     {r["x"].toInt(), r["y"].toInt(), r["width"].toInt(), r["height"].toInt()}});
            }
        }
        return result;
    }
    // sway's tree of outputs, workspaces and windows.
    QJsonObject tree() const { return ipc("get_tree").object(); }
    // The windows (views) in the tree.
    std::vector<QJsonObject> windows() const {
        std::vector<QJsonObject> found;
        std::vector<QJsonObject> nodes{tree()};
        while (!nodes.empty()) {
            const QJsonObject node = nodes.back();
            nodes.pop_back();
            if (node.contains("pid") && node["nodes"].toArray().isEmpty()) {
                found.push_back(node);
            }
            for (const char* children : {"nodes", "floating_nodes"}) {
                for (const QJsonValue child : node[children].toArray()) {
                    nodes.push_back(child.toObject());
                }
            }
        }
        return found;
    }
    // The window or workspace that has the seat's focus: its name and its pid (0 for a
    // workspace).
    std::pair<std::string, int> focused() const {
        std::vector<QJsonObject> nodes{tree()};
        while (!nodes.empty()) {
            const QJsonObject node = nodes.back();
            nodes.pop_back();
            if (node["focused"].toBool()) {
                return {node["name"].toString().toStdString(), node["pid"].toInt()};
            }
            for (const char* children : {"nodes", "floating_nodes"}) {
                for (const QJsonValue child : node[children].toArray()) {
                    nodes.push_back(child.toObject());
                }
            }
        }
        return {"", 0};
    }

    // Adds an output right of the others, of `width` x `height` if given; its name.
    std::string addOutput(int width = 0, int height = 0) {
        const auto before = outputs();
        // sway places an output that has no position of its own right of those that have
        // one, so the ones there keep theirs from now on.
        for (const Output& output : before) {
            sway("output " + output.name + " position " + std::to_string(output.rect.x) + " " +
                 std::to_string(output.rect.y));
        }
        if (!sway("create_output")) {
            ADD_FAILURE() << "sway made no output";
            return "";
        }
        std::string name;
        testsupport::waitUntil([&] {
            for (const Output& output : outputs()) {
                const bool known = std::any_of(before.begin(), before.end(), [&](const Output& o) {
                    return o.name == output.name;
                });
                if (!known) {
                    name = output.name;
                }
            }
            return !name.empty();
        });
        if (name.empty()) {
            ADD_FAILURE() << "the new output is not listed";
            return "";
        }
        int right = 0;
        for (const Output& output : before) {
            right = std::max(right, output.rect.x + output.rect.width);
        }
        std::string arrange = "output " + name + " position " + std::to_string(right) + " 0";
        if (width > 0) {
            arrange += " resolution " + std::to_string(width) + "x" + std::to_string(height);
        }
        EXPECT_TRUE(sway(arrange)) << arrange;
        return name;
    }
    // Unplugs an output: the outer compositor closes the window that it is.
    bool removeOutput(const std::string& name) const {
        if (!outer_) {
            ADD_FAILURE() << "the outputs of a headless sway cannot be removed";
            return false;
        }
        return sway(*outer_, "'[title=\"wlroots - " + name + "\"]' kill");
    }

    // The whole layout as it shows now, the layout's top-left corner at (0, 0) of the image;
    // a null image if grim could not take it.
    QImage grab() const {
        const auto file = dir_ / "screen.png";
        std::filesystem::remove(file);
        if (!run("grim " + file.string())) {
            return {};
        }
        return QImage(QString::fromStdString(file.string())).convertToFormat(QImage::Format_RGB32);
    }
    // The colour shown at a point of the layout.
    Rgb pixel(int x, int y) const {
        const QImage screen = grab();
        const auto [ox, oy] = origin(outputs());
        x -= ox;
        y -= oy;
        if (screen.isNull() || x < 0 || y < 0 || x >= screen.width() || y >= screen.height()) {
            return {-1, -1, -1};
        }
        const QRgb p = screen.pixel(x, y);
        return {qRed(p), qGreen(p), qBlue(p)};
    }
    // The layout's top-left corner, where grab() puts (0, 0).
    static std::pair<int, int> origin(const std::vector<Output>& outputs) {
        int x = outputs.empty() ? 0 : outputs[0].rect.x,
            y = outputs.empty() ? 0 : outputs[0].rect.y;
        for (const Output& o : outputs) {
            x = std::min(x, o.rect.x);
            y = std::min(y, o.rect.y);
        }
        return {x, y};
    }

    // A press and release of the left button at a point of the layout.
    bool click(int x, int y) const {
        return sway("seat seat0 cursor set " + std::to_string(x) + " " + std::to_string(y)) &&
               sway("seat seat0 cursor press button1") && sway("seat seat0 cursor release button1");
    }
    // Types on the focused window with wtype (its arguments: text, -M/-m modifier, -k key).
    bool type(const std::string& wtypeArguments) const { return run("wtype " + wtypeArguments); }
    // A terminal, an ordinary window filled with `background`; it reads its terminal and does
    // nothing else.
    std::unique_ptr<Process> startTerminal(const Rgb& background) const {
        char colour[8];
        std::snprintf(colour, sizeof colour, "%02x%02x%02x", background[0], background[1],
                      background[2]);
        return start("foot -o colors.background=" + std::string(colour) + " cat", "foot.log");
    }

private:
    struct Compositor {
        std::unique_ptr<Process> process;
        std::string display;  // its WAYLAND_DISPLAY
        std::string ipc;      // its SWAYSOCK
    };

    static std::string path() { return "/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin"; }
    static std::string user() { return SessionUser::get().prefix(); }

    // Starts a sway with its configuration `extra` and env(1) operands `backend`, and waits
    // until it answers on its IPC socket. It names its sockets itself, in a file.
    Compositor startSway(const std::string& name, const std::string& extra,
                         const std::string& backend) {
        const auto config = dir_ / (name + ".config");
        const auto sockets = dir_ / (name + ".sockets");
        const auto announce = dir_ / (name + ".announce");
        // A script, since sway's own parser would take the quotes of a command line apart.
        std::ofstream(announce) << "printf '%s\\n%s\\n' \"$WAYLAND_DISPLAY\" \"$SWAYSOCK\" >"
                                << sockets.string() << ".part && mv " << sockets.string()
                                << ".part " << sockets.string() << "\n";
        std::ofstream(config) << "xwayland disable\n"
                              << "default_border none\n"
                              << "default_floating_border none\n"
                              << "focus_follows_mouse no\n"
                              << "for_window [app_id=\"foot\"] floating enable\n"
                              << extra << "exec sh " << announce.string() << "\n";
        SessionUser::get().own(announce);
        SessionUser::get().own(config);
        Compositor sway;
        sway.process =
            std::make_unique<Process>(user() + "env -i PATH=" + path() + " HOME=" + dir_.string() +
                                          " XDG_RUNTIME_DIR=" + (dir_ / "runtime").string() +
                                          " DBUS_SESSION_BUS_ADDRESS=" + busAddress() +
                                          " WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 " +
                                          backend + " sway -c " + config.string(),
                                      dir_ / (name + ".log"));
        const bool named = testsupport::waitUntil(
            [&] {
                std::ifstream in(sockets);
                return std::getline(in, sway.display) && std::getline(in, sway.ipc) &&
                       !sway.display.empty() && !sway.ipc.empty();
            },
            15s);
        if (!named || !testsupport::waitUntil([&] { return this->sway(sway, "nop"); }, 10s)) {
            std::cerr << "--- " << name << " output ---\n"
                      << std::ifstream(dir_ / (name + ".log")).rdbuf();
            throw std::runtime_error(name + " did not start");
        }
        return sway;
    }
    bool sway(const Compositor& compositor, const std::string& command) const {
        const auto out = capture("swaymsg -s " + compositor.ipc + " -- " + command);
        return out && out->find("\"success\": false") == std::string::npos;
    }
    QJsonDocument ipc(const std::string& type) const {
        const auto out = capture("swaymsg -s " + inner_->ipc + " -r -t " + type);
        return QJsonDocument::fromJson(QByteArray::fromStdString(out.value_or("")));
    }

    std::filesystem::path dir_;
    std::optional<Process> bus_;
    std::optional<Compositor> outer_, inner_;
};

}  // namespace vellumor::waylandtest
