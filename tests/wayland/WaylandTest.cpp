// vellumor on sway, as a user sees it: every output covered exactly in the stored colour by
// surfaces below the windows that take neither focus nor keyboard; the tray item registered with
// the panel's watcher, its menu's entries doing their work when a panel activates them; and
// outputs plugged, unplugged and resized while it runs.

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
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
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "platform/Color.h"
#include "platform/common/DefaultsFile.h"
#include "platform/common/KeyedArchive.h"
#include "tests/support/ChildProcess.h"
#include "tests/wayland/StatusNotifierWatcher.h"

namespace vellumor::waylandtest {
namespace {

using namespace std::chrono_literals;
using testsupport::Process;
namespace fs = std::filesystem;

// A Wayland desktop for end-to-end tests: a headless sway (pixman renderer, no input devices)
// with a session bus of its own in a private directory, each a child process stopped by its
// pid. Outputs are arranged with swaymsg, the screen read with grim, the layout and focus with
// sway's IPC; the pointer is sway's seat commands, the keyboard wtype.
//
// sway will not run as root: then every program of the session runs as kAccount (.ci/run
// makes it), the program from a copy in the desktop's directory. Headless outputs of sway 1.7
// cannot be taken away, so with removable outputs the desktop is a sway nested in a headless
// one: its outputs are the outer sway's windows, and closing one unplugs it.

inline constexpr char kAccount[] = "vellumortest";

struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
    auto operator<=>(const Geometry&) const = default;
    bool contains(int px, int py) const {
        return px >= x && py >= y && px < x + width && py < y + height;
    }
};
using Rgb = std::array<int, 3>;
inline Geometry rectOf(const QJsonObject& node) {
    const QJsonObject r = node["rect"].toObject();
    return {r["x"].toInt(), r["y"].toInt(), r["width"].toInt(), r["height"].toInt()};
}

class SwayDesktop final {
public:
    explicit SwayDesktop(bool removableOutputs) {
        std::string dir = (fs::temp_directory_path() / "vellumor-wayland-XXXXXX").string();
        if (::mkdtemp(dir.data()) == nullptr) {
            throw std::runtime_error("cannot make a directory");
        }
        dir_ = dir;
        fs::create_directories(dir_ / "runtime");
        fs::permissions(dir_ / "runtime", fs::perms::owner_all);
        fs::copy_file(VELLUMOR_BINARY, dir_ / "vellumor");
        fs::copy_file(VELLUMOR_LSAN_SUPPRESSIONS, dir_ / "lsan.supp");
        if (::geteuid() == 0) {
            const passwd* account = ::getpwnam(kAccount);
            if (account == nullptr) {
                throw std::runtime_error(std::string("sway does not run as root, and there is "
                                                     "no account ") +
                                         kAccount + " to run it as");
            }
            uid_ = account->pw_uid;
            gid_ = account->pw_gid;
            user_ = "setpriv --reuid=" + std::to_string(uid_) + " --regid=" + std::to_string(gid_) +
                    " --clear-groups ";
        }
        // A session bus that the test, perhaps root, joins as well as the session's user.
        std::ofstream(dir_ / "bus.conf")
            << "<busconfig><type>session</type><listen>" << busAddress()
            << "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow user=\""
            << ::geteuid() << "\"/><allow user=\"" << (user_.empty() ? ::geteuid() : uid_)
            << "\"/><allow send_destination=\"*\"/><allow receive_sender=\"*\"/><allow "
               "own=\"*\"/></policy></busconfig>\n";
        own(dir_);
        bus_ =
            start("dbus-daemon --nofork --nopidfile --config-file=" + (dir_ / "bus.conf").string(),
                  "dbus.log");
        if (!testsupport::waitUntil([&] { return fs::exists(dir_ / "runtime/bus"); }, 10s)) {
            throw std::runtime_error("the session bus did not start");
        }
        if (removableOutputs) {
            outer_ = startSway("outer", "for_window [app_id=\"wlroots\"] floating enable\n",
                               "WLR_BACKENDS=headless");
            inner_ =
                startSway("inner", "", "WLR_BACKENDS=wayland WAYLAND_DISPLAY=" + outer_.display);
        } else {
            inner_ = startSway("sway", "", "WLR_BACKENDS=headless");
        }
    }
    ~SwayDesktop() {
        inner_.process.reset();
        outer_.process.reset();
        bus_.reset();
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    SwayDesktop(const SwayDesktop&) = delete;
    SwayDesktop& operator=(const SwayDesktop&) = delete;

    const fs::path& directory() const { return dir_; }
    std::string busAddress() const { return "unix:path=" + (dir_ / "runtime/bus").string(); }
    // Gives `path` and all below it to the session's user.
    void own(const fs::path& path) const {
        if (user_.empty()) {
            return;
        }
        for (const auto& entry : fs::recursive_directory_iterator(path)) {
            (void)::lchown(entry.path().c_str(), uid_, gid_);
        }
        (void)::lchown(path.c_str(), uid_, gid_);
    }
    // Starts `command` in the session as its user, with env(1) operands `extra`; its output
    // goes to `log` in the desktop's directory.
    std::unique_ptr<Process> start(const std::string& command, const std::string& log,
                                   const std::string& extra = "") const {
        return std::make_unique<Process>(user_ + "env -i " + environment() + extra + " " + command,
                                         dir_ / log);
    }
    // Runs a command line in the session (10 s at most); what it wrote, if it succeeded.
    std::optional<std::string> capture(const std::string& command) const {
        const std::string line = user_ + "env -i " + environment() + " timeout 10 " + command +
                                 " 2>>" + (dir_ / "tools.log").string();
        FILE* pipe = ::popen(line.c_str(), "r");
        std::string out;
        std::array<char, 4096> buffer{};
        for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) {
            out.append(buffer.data(), n);
        }
        return ::pclose(pipe) == 0 ? std::optional(out) : std::nullopt;
    }
    bool sway(const std::string& command) const { return sway(inner_, command); }

    // The active outputs in sway's order.
    std::vector<std::pair<std::string, Geometry>> outputs() const {
        std::vector<std::pair<std::string, Geometry>> result;
        for (const QJsonValue output : ipc("get_outputs").array()) {
            if (output["active"].toBool()) {
                result.emplace_back(output["name"].toString().toStdString(),
                                    rectOf(output.toObject()));
            }
        }
        return result;
    }
    // Every node of sway's tree: outputs, workspaces, windows (those with a pid).
    std::vector<QJsonObject> nodes() const {
        std::vector<QJsonObject> all{ipc("get_tree").object()};
        for (std::size_t i = 0; i < all.size(); ++i) {
            for (const char* children : {"nodes", "floating_nodes"}) {
                for (const QJsonValue child : all[i][children].toArray()) {
                    all.push_back(child.toObject());
                }
            }
        }
        return all;
    }
    // The pid of the window with the seat's focus; 0 for none (a workspace has it).
    int focusedPid() const {
        for (const QJsonObject& node : nodes()) {
            if (node["focused"].toBool()) {
                return node["pid"].toInt();
            }
        }
        return -1;
    }
    // Adds an output, right of the others; its name.
    std::string addOutput() {
        const std::size_t before = outputs().size();
        sway("create_output");
        std::string added;
        testsupport::waitUntil([&] {
            const auto now = outputs();
            return now.size() > before && !(added = now.back().first).empty();
        });
        return added;
    }
    // Unplugs an output: the outer sway closes the window that it is.
    bool removeOutput(const std::string& name) const {
        return sway(outer_, "'[title=\"wlroots - " + name + "\"]' kill");
    }
    // The whole layout as it shows, its top-left corner at (0, 0); null if grim failed.
    QImage grab() const {
        const auto file = dir_ / "screen.png";
        fs::remove(file);
        if (!capture("grim " + file.string())) {
            return {};
        }
        return QImage(QString::fromStdString(file.string())).convertToFormat(QImage::Format_RGB32);
    }
    // A press and release of the left button at a point of the layout.
    bool click(int x, int y) const {
        return sway("seat seat0 cursor set " + std::to_string(x) + " " + std::to_string(y)) &&
               sway("seat seat0 cursor press button1") && sway("seat seat0 cursor release button1");
    }

private:
    struct Compositor {
        std::unique_ptr<Process> process;
        std::string display, ipc;  // its WAYLAND_DISPLAY and SWAYSOCK
    };

    std::string environment() const {
        return "PATH=/usr/local/bin:/usr/bin:/bin HOME=" + dir_.string() +
               " XDG_RUNTIME_DIR=" + (dir_ / "runtime").string() +
               " XDG_CONFIG_HOME=" + (dir_ / "config").string() +
               " DBUS_SESSION_BUS_ADDRESS=" + busAddress() +
               " XDG_SESSION_TYPE=wayland LANG=C.UTF-8 WLR_RENDERER=pixman "
               "WLR_LIBINPUT_NO_DEVICES=1" +
               (inner_.display.empty()
                    ? std::string()
                    : " WAYLAND_DISPLAY=" + inner_.display + " SWAYSOCK=" + inner_.ipc) +
               " ";
    }
    // Starts a sway with `extra` configuration and env(1) operands `backend`; it writes its
    // sockets' names to a file.
    Compositor startSway(const std::string& name, const std::string& extra,
                         const std::string& backend) {
        const auto sockets = dir_ / (name + ".sockets");
        std::ofstream(dir_ / (name + ".sh"))
            << "printf '%s\\n%s\\n' \"$WAYLAND_DISPLAY\" \"$SWAYSOCK\" >" << sockets.string()
            << ".part && mv " << sockets.string() << ".part " << sockets.string() << "\n";
        std::ofstream(dir_ / (name + ".config"))
            << "xwayland disable\ndefault_border none\ndefault_floating_border none\n"
            << "focus_follows_mouse no\nfor_window [app_id=\"foot\"] floating enable\n"
            << extra << "exec sh " << (dir_ / (name + ".sh")).string() << "\n";
        own(dir_);
        Compositor sway;
        sway.process =
            start(backend + " sway -c " + (dir_ / (name + ".config")).string(), name + ".log");
        const bool named = testsupport::waitUntil(
            [&] {
                std::ifstream in(sockets);
                return std::getline(in, sway.display) && std::getline(in, sway.ipc) &&
                       !sway.ipc.empty();
            },
            15s);
        if (!named || !testsupport::waitUntil([&] { return this->sway(sway, "nop"); }, 10s)) {
            throw std::runtime_error(name + " did not start");
        }
        return sway;
    }
    bool sway(const Compositor& compositor, const std::string& command) const {
        const auto out = capture("swaymsg -s " + compositor.ipc + " -- " + command);
        return out && out->find("\"success\": false") == std::string::npos;
    }
    QJsonDocument ipc(const std::string& type) const {
        const auto out = capture("swaymsg -s " + inner_.ipc + " -r -t " + type);
        return QJsonDocument::fromJson(QByteArray::fromStdString(out.value_or("")));
    }

    fs::path dir_;
    std::string user_;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    std::unique_ptr<Process> bus_;
    Compositor outer_, inner_;
};

constexpr Rgb kGrey{26, 26, 26};  // the default colour, a grey of 0.1
constexpr Rgb kOrange{255, 128, 0};

void pump() {
    static int argc = 1;
    static char name[] = "wayland_tests";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) {
        new QCoreApplication(argc, argv);  // lives as long as the test process
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 15s) {
    return testsupport::waitUntil([&] { return pump(), condition(); }, timeout);
}

class WaylandTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"sway", "grim", "foot", "wtype", "dbus-daemon", "gdbus"}) {
            if (std::system(("command -v " + std::string(tool) + " >/dev/null").c_str()) != 0) {
                // CI installs them all: there a skip would hide a lost test.
                if (std::getenv("CI") != nullptr) {
                    FAIL() << tool << " is not installed";
                }
                GTEST_SKIP() << tool << " is not installed";
            }
        }
    }
    void TearDown() override {
        for (const char* log : {"vellumor.log", "sway.log", "inner.log", "tools.log"}) {
            if (HasFailure() && desktop_) {
                std::cerr << "--- " << log << "\n"
                          << std::ifstream(desktop_->directory() / log).rdbuf() << "\n";
            }
        }
        vellumor_.reset();
        terminal_.reset();
        if (bus_) {
            QDBusConnection::disconnectFromBus(bus_->name());
        }
        desktop_.reset();
    }

    SwayDesktop& startDesktop(bool removableOutputs = false) {
        desktop_ = std::make_unique<SwayDesktop>(removableOutputs);
        pump();
        static int connections = 0;
        bus_.emplace(QDBusConnection::connectToBus(QString::fromStdString(desktop_->busAddress()),
                                                   QString::number(++connections)));
        EXPECT_TRUE(watcher_.serve(*bus_));
        return *desktop_;
    }
    // Stores a colour for the next launch, as an earlier pick would have: written where the
    // test's user owns every directory (the defaults file refuses others'), then moved.
    void storeColour(double red, double green, double blue) {
        std::string scratch = (fs::temp_directory_path() / "vellumor-defaults-XXXXXX").string();
        ASSERT_NE(::mkdtemp(scratch.data()), nullptr);
        const fs::path file = fs::path(scratch) / "org.vellumor.Vellumor.plist";
        EXPECT_TRUE(platform::common::DefaultsFile(file).setObject(
            *platform::common::archiveColor(
                platform::Color::colorWithDeviceRed(red, green, blue, 1)),
            "selectedBackgroundColor"));
        fs::create_directories(desktop_->directory() / "config/vellumor");
        fs::copy_file(file, desktop_->directory() / "config/vellumor" / file.filename());
        fs::remove_all(scratch);
        desktop_->own(desktop_->directory() / "config");
    }
    ::testing::AssertionResult launch(const Rgb& colour = kGrey) {
        std::string extra =
            "LSAN_OPTIONS=suppressions=" + (desktop_->directory() / "lsan.supp").string();
        for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
            extra += std::getenv(name) ? std::string(" ") + name + "=" + std::getenv(name) : "";
        }
        vellumor_ =
            desktop_->start((desktop_->directory() / "vellumor").string(), "vellumor.log", extra);
        return covered(colour);
    }
    // Waits until every output shows `colour` over all its pixels but those of `except`.
    ::testing::AssertionResult covered(const Rgb& colour, const Geometry& except = {}) {
        std::string last;
        if (eventually([&] { return (last = uncovered(colour, except)).empty(); })) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure() << last;
    }
    std::string uncovered(const Rgb& colour, const Geometry& except) {
        const QImage screen = desktop_->grab();
        const auto outputs = desktop_->outputs();
        if (screen.isNull() || outputs.empty()) {
            return "no outputs, or no screenshot";
        }
        int left = outputs[0].second.x, top = outputs[0].second.y;
        for (const auto& [name, rect] : outputs) {
            left = std::min(left, rect.x);
            top = std::min(top, rect.y);
        }
        for (const auto& [name, rect] : outputs) {
            long wrong = 0;
            for (int y = rect.y; y < rect.y + rect.height; ++y) {
                for (int x = rect.x; x < rect.x + rect.width; ++x) {
                    wrong += !except.contains(x, y) && at(screen, x - left, y - top) != colour;
                }
            }
            if (wrong > 0) {
                return name + ": " + std::to_string(wrong) + " pixels not in the colour";
            }
        }
        return "";
    }
    static Rgb at(const QImage& image, int x, int y) {
        const QRgb p = image.valid(x, y) ? image.pixel(x, y) : qRgb(1, 2, 3);
        return {qRed(p), qGreen(p), qBlue(p)};
    }
    bool nowhere(const Rgb& colour) {
        const QImage screen = desktop_->grab();
        for (int y = 0; y < screen.height(); ++y) {
            for (int x = 0; x < screen.width(); ++x) {
                if (at(screen, x, y) == colour) {
                    return false;
                }
            }
        }
        return !screen.isNull();
    }
    std::vector<QJsonObject> windowsOf(int pid) {
        std::vector<QJsonObject> found;
        for (const QJsonObject& node : desktop_->nodes()) {
            if (node["pid"].toInt() == pid && node["nodes"].toArray().isEmpty()) {
                found.push_back(node);
            }
        }
        return found;
    }

    // A D-Bus call to the program's tray item, as a panel makes it: the method, then its
    // arguments as gdbus takes them.
    std::string callItem(const std::string& path, const std::string& call) {
        const std::size_t space = call.find(' ');
        return desktop_
            ->capture("gdbus call --session --dest " + watcher_.items.at(0) + " --object-path " +
                      path + " --method " + call.substr(0, space) + " -- " +
                      (space == std::string::npos ? "" : call.substr(space + 1)))
            .value_or("(failed)");
    }
    // The labels of the item's menu, "-" for a separator; ids_ has each entry's id.
    std::vector<std::string> menu(bool opening = true) {
        std::smatch found;
        const std::string property = callItem("/StatusNotifierItem",
                                              "org.freedesktop.DBus.Properties.Get "
                                              "org.kde.StatusNotifierItem Menu");
        if (!std::regex_search(property, found, std::regex("'(/[^']*)'"))) {
            return {};
        }
        menuPath_ = found[1];
        if (opening) {
            callItem(menuPath_, "com.canonical.dbusmenu.AboutToShow 0");
        }
        const std::string layout = callItem(menuPath_, "com.canonical.dbusmenu.GetLayout 0 -1 []");
        std::vector<std::string> entries;
        const std::regex child("<\\((\\d+), \\{([^}]*)\\}"), label("'label': <'([^']*)'>");
        for (std::sregex_iterator i(layout.begin(), layout.end(), child), end; i != end; ++i) {
            const std::string properties = (*i)[2];
            const bool labelled = std::regex_search(properties, found, label);
            entries.push_back(labelled ? found[1].str() : "-");
            ids_[entries.back()] = (*i)[1];
        }
        return entries;
    }
    // Activates the menu entry titled `title`, as a click in the panel does.
    // The program makes the menu anew when it opens, under new ids, which the layout may not
    // have yet: it is read until it holds still.
    bool choose(const std::string& title) {
        auto entries = menu();
        for (auto seen = ids_; (entries = menu(false)), seen != ids_;) {
            seen = ids_;
        }
        // Sent whatever the answer: Quit may end the program before it gives one.
        callItem(menuPath_, "com.canonical.dbusmenu.Event " + ids_[title] + " clicked '<0>' 0");
        return std::find(entries.begin(), entries.end(), title) != entries.end();
    }

    std::unique_ptr<SwayDesktop> desktop_;
    std::optional<QDBusConnection> bus_;
    StatusNotifierWatcher watcher_;
    std::string menuPath_;
    std::map<std::string, std::string> ids_;
    std::unique_ptr<Process> vellumor_, terminal_;
};

TEST_F(WaylandTest, OverlaysCoverEachOutputBelowWindowsAndTheTrayMenuWorks) {
    auto& desktop = startDesktop();
    ASSERT_TRUE(desktop.sway("output " + desktop.addOutput() + " resolution 1280x1024"));
    storeColour(0.2, 0.4, 0.8);
    const Rgb blue{51, 102, 204};
    // The panel's host comes only after the program: its icon must appear then.
    watcher_.hostThere_ = false;
    ASSERT_TRUE(launch(blue));
    // Layer surfaces are no windows of sway's: no place in the tiling, no focus.
    EXPECT_TRUE(windowsOf(vellumor_->pid()).empty());
    EXPECT_TRUE(watcher_.items.empty()) << "an item registered with no host there";
    watcher_.hostArrives(*bus_);

    ASSERT_TRUE(eventually([&] { return !watcher_.items.empty(); })) << "no tray item";
    EXPECT_EQ(watcher_.items.size(), 1U);
    EXPECT_EQ(bus_->interface()->servicePid(QString::fromStdString(watcher_.items[0])).value(),
              static_cast<unsigned>(vellumor_->pid()));
    EXPECT_EQ(menu(), (std::vector<std::string>{"About Vellumor", "-", "Pick Color...",
                                                "Toggle Show/Hide", "-", "Quit"}));

    // An ordinary window stays above, and keeps the focus and keyboard when the overlay
    // under it is clicked.
    terminal_ = desktop.start("foot -o colors.background=ff8000 cat", "foot.log");
    ASSERT_TRUE(eventually([&] { return desktop.focusedPid() == terminal_->pid(); }));
    const Geometry rect = rectOf(windowsOf(terminal_->pid()).at(0));
    ASSERT_TRUE(covered(blue, rect));
    // Drawn above the overlay: the terminal's pixels are its own; typed text adds ink.
    const auto ink = [&] {
        const QImage screen = desktop.grab();
        long count = 0;
        for (int y = rect.y; y < rect.y + rect.height; ++y) {
            for (int x = rect.x; x < rect.x + rect.width; ++x) {
                count += at(screen, x, y) != kOrange;
            }
        }
        return count;
    };
    const long before = ink();
    EXPECT_LT(before, rect.width * rect.height / 4);
    const Geometry first = desktop.outputs()[0].second;
    const int clickX = first.x + first.width - 20, clickY = first.y + first.height - 20;
    ASSERT_TRUE(desktop.click(clickX, clickY));
    EXPECT_EQ(desktop.focusedPid(), terminal_->pid());
    ASSERT_TRUE(desktop.capture("wtype vellumor"));
    EXPECT_TRUE(eventually([&] { return ink() > before + 50; })) << "typing did not reach it";
    EXPECT_TRUE(covered(blue, rect));

    // Hidden, the overlays take no click: the same click reaches the workspace.
    ASSERT_TRUE(choose("Toggle Show/Hide"));
    ASSERT_TRUE(eventually([&] { return nowhere(blue); }));
    ASSERT_TRUE(desktop.click(clickX, clickY));
    EXPECT_TRUE(eventually([&] { return desktop.focusedPid() == 0; }));
    ASSERT_TRUE(choose("Toggle Show/Hide"));
    EXPECT_TRUE(covered(blue, rect));

    // About and Pick Color... each open a window of the program's in front.
    terminal_.reset();
    ASSERT_TRUE(choose("About Vellumor"));
    EXPECT_TRUE(eventually([&] { return windowsOf(vellumor_->pid()).size() == 1; }));
    ASSERT_TRUE(choose("Pick Color..."));
    EXPECT_TRUE(eventually([&] { return windowsOf(vellumor_->pid()).size() == 2; }));
    EXPECT_EQ(desktop.focusedPid(), vellumor_->pid());

    ASSERT_TRUE(choose("Quit"));
    const auto status = vellumor_->waitForExit(10s);
    ASSERT_TRUE(status.has_value()) << "Quit did not end the program";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
    EXPECT_TRUE(eventually([&] { return nowhere(blue); }));
}

// 800 wide and 1080 high are sizes where pixman rounds its scaling step up: a buffer too
// short for the output leaves its far edge bare.
TEST_F(WaylandTest, OutputsPluggedUnpluggedAndResizedAreCoveredExactly) {
    auto& desktop = startDesktop(true);
    ASSERT_TRUE(launch());
    const std::string first = desktop.outputs().at(0).first;
    // An overlay of 800 x 600 grown to 1920 x 1080 needs a longer buffer.
    const std::string added = desktop.addOutput();
    ASSERT_TRUE(desktop.sway("output " + added + " resolution 800x600 position 0 0"));
    ASSERT_TRUE(desktop.sway("output " + first + " position 800 0"));
    ASSERT_TRUE(eventually([&] { return desktop.outputs().at(1).second.width == 800; }));
    EXPECT_TRUE(covered(kGrey));
    ASSERT_TRUE(desktop.sway("output " + added + " resolution 1920x1080 position 0 0"));
    ASSERT_TRUE(desktop.sway("output " + first + " position 1920 0"));
    ASSERT_TRUE(eventually([&] { return desktop.outputs().at(1).second.height == 1080; }));
    EXPECT_TRUE(covered(kGrey));

    ASSERT_TRUE(desktop.removeOutput(first));
    ASSERT_TRUE(eventually([&] { return desktop.outputs().size() == 1; }));
    EXPECT_TRUE(covered(kGrey));
    desktop.addOutput();
    ASSERT_TRUE(eventually([&] { return desktop.outputs().size() == 2; }));
    EXPECT_TRUE(covered(kGrey));
    EXPECT_FALSE(vellumor_->waitForExit(0ms).has_value());
}

}  // namespace
}  // namespace vellumor::waylandtest
