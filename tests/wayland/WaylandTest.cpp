// vellumor on sway, as a user sees it: every output covered exactly in the stored colour by
// surfaces below the windows that take neither focus nor keyboard; the tray item registered with
// the panel's watcher, its menu's entries doing their work when a panel activates them; and
// outputs plugged, unplugged and resized while it runs.

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
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
using testsupport::waitUntil;
namespace fs = std::filesystem;

// sway will not run as root: then every program of the session runs as this account (.ci/run
// makes it), the program from a copy in the desktop's directory.
inline constexpr char kAccount[] = "vellumortest";

struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
    bool contains(int px, int py) const {
        return px >= x && py >= y && px < x + width && py < y + height;
    }
};
using Rgb = std::array<int, 3>;
Geometry rectOf(const QJsonObject& node) {
    const QJsonObject r = node["rect"].toObject();
    return {r["x"].toInt(), r["y"].toInt(), r["width"].toInt(), r["height"].toInt()};
}
void check(bool ok, const std::string& what) {
    if (!ok) {
        throw std::runtime_error(what);
    }
}

// A headless sway (pixman, no input devices) with a session bus of its own in a private
// directory, each a child process stopped by its pid. Headless outputs of sway 1.7 cannot be
// taken away, so with removable outputs the desktop is a sway nested in a headless one: its
// outputs are the outer sway's windows, and closing one unplugs it.
class SwayDesktop final {
public:
    SwayDesktop(bool removableOutputs, const std::optional<platform::Color>& stored) {
        std::string dir = (fs::temp_directory_path() / "vellumor-wayland-XXXXXX").string();
        check(::mkdtemp(dir.data()) != nullptr, "cannot make a directory");
        dir_ = dir;
        fs::create_directories(dir_ / "runtime");
        fs::permissions(dir_ / "runtime", fs::perms::owner_all);
        fs::copy_file(VELLUMOR_BINARY, dir_ / "vellumor");
        fs::copy_file(VELLUMOR_LSAN_SUPPRESSIONS, dir_ / "lsan.supp");
        // The colour an earlier pick stored, written before the directory changes hands.
        check(
            !stored ||
                platform::common::DefaultsFile(dir_ / "config/vellumor/org.vellumor.Vellumor.plist")
                    .setObject(*platform::common::archiveColor(*stored), "selectedBackgroundColor"),
            "cannot store the colour");
        uid_ = ::geteuid();
        if (uid_ == 0) {
            const passwd* account = ::getpwnam(kAccount);
            check(account != nullptr, std::string("sway will not run as root; no ") + kAccount);
            uid_ = account->pw_uid;
            user_ = "setpriv --reuid=" + std::to_string(uid_) +
                    " --regid=" + std::to_string(account->pw_gid) + " --clear-groups ";
            for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
                (void)::lchown(entry.path().c_str(), uid_, account->pw_gid);
            }
            (void)::lchown(dir_.c_str(), uid_, account->pw_gid);
        }
        std::ofstream(dir_ / "bus.conf")
            << "<busconfig><type>session</type><listen>" << busAddress()
            << "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow user=\""
            << ::geteuid() << "\"/><allow user=\"" << uid_
            << "\"/><allow send_destination=\"*\"/><allow receive_sender=\"*\"/><allow "
               "own=\"*\"/></policy></busconfig>\n";
        bus_ =
            start("dbus-daemon --nofork --nopidfile --config-file=" + (dir_ / "bus.conf").string(),
                  "dbus.log");
        check(waitUntil([&] { return fs::exists(dir_ / "runtime/bus"); }, 10s), "no session bus");
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
    // Starts `command` in the session as its user, with env(1) operands `extra`, its output
    // to `log` in the desktop's directory.
    std::unique_ptr<Process> start(const std::string& command, const std::string& log,
                                   const std::string& extra = "") const {
        return std::make_unique<Process>(user_ + "env -i " + environment() + extra + " " + command,
                                         dir_ / log);
    }
    // Runs a command in the session (10 s at most); what it wrote, if it succeeded.
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
    // The nodes of sway's tree (outputs, workspaces, windows) that `which` picks.
    std::vector<QJsonObject> nodes(const std::function<bool(const QJsonObject&)>& which) const {
        std::vector<QJsonObject> all{ipc("get_tree").object()}, found;
        for (std::size_t i = 0; i < all.size(); ++i) {
            for (const char* children : {"nodes", "floating_nodes"}) {
                for (const QJsonValue child : all[i][children].toArray()) {
                    all.push_back(child.toObject());
                }
            }
            if (which(all[i])) {
                found.push_back(all[i]);
            }
        }
        return found;
    }
    // The pid of the window with the seat's focus; 0 when a workspace has it.
    int focusedPid() const {
        const auto focused = nodes([](const QJsonObject& n) { return n["focused"].toBool(); });
        return focused.empty() ? -1 : focused[0]["pid"].toInt();
    }
    std::vector<QJsonObject> windowsOf(int pid) const {
        return nodes([&](const QJsonObject& n) {
            return n["pid"].toInt() == pid && n["nodes"].toArray().isEmpty();
        });
    }
    // Adds an output, right of the others; its name.
    std::string addOutput() const {
        const std::size_t before = outputs().size();
        sway("create_output");
        std::vector<std::pair<std::string, Geometry>> now;
        waitUntil([&] { return (now = outputs()).size() > before; });
        return now.empty() ? "" : now.back().first;
    }
    // Unplugs an output: the outer sway closes the window that it is.
    bool removeOutput(const std::string& name) const {
        return sway(outer_, "'[title=\"wlroots - " + name + "\"]' kill");
    }
    // The whole layout as it shows, its top-left corner at (0, 0); null if grim failed.
    QImage grab() const {
        const auto png = capture("grim -");
        return QImage::fromData(QByteArray::fromStdString(png.value_or("")))
            .convertToFormat(QImage::Format_RGB32);
    }
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
               "WLR_LIBINPUT_NO_DEVICES=1 " +
               (inner_.process
                    ? "WAYLAND_DISPLAY=" + inner_.display + " SWAYSOCK=" + inner_.ipc + " "
                    : "");
    }
    // Starts a sway with `extra` configuration and env(1) operands `backend`. In the private
    // runtime directory its sockets' names are known: the first free wayland-N, and sway's
    // IPC socket named by its user and pid (setpriv and env exec it).
    Compositor startSway(const std::string& name, const std::string& extra,
                         const std::string& backend) {
        std::ofstream(dir_ / (name + ".config"))
            << "xwayland disable\ndefault_border none\ndefault_floating_border none\n"
            << "focus_follows_mouse no\nfor_window [app_id=\"foot\"] floating enable\n"
            << extra;
        Compositor sway{
            start(backend + " sway -c " + (dir_ / (name + ".config")).string(), name + ".log"),
            outer_.process ? "wayland-2" : "wayland-1", ""};
        sway.ipc = (dir_ / "runtime" /
                    ("sway-ipc." + std::to_string(uid_) + "." +
                     std::to_string(sway.process->pid()) + ".sock"))
                       .string();
        check(waitUntil([&] { return this->sway(sway, "nop"); }, 15s), name + " did not start");
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
    std::unique_ptr<Process> bus_;
    Compositor outer_, inner_;
};

constexpr Rgb kGrey{26, 26, 26};  // the default colour, a grey of 0.1
constexpr Rgb kOrange{255, 128, 0};

// Serves the test's event loop (its watcher) until `condition` holds; whether it did.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 15s) {
    static int argc = 1;
    static char name[] = "wayland_tests";
    static char* argv[] = {name, nullptr};
    [[maybe_unused]] static const auto* application = new QCoreApplication(argc, argv);
    return waitUntil(
        [&] { return QCoreApplication::processEvents(QEventLoop::AllEvents, 10), condition(); },
        timeout);
}

class WaylandTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"sway", "grim", "foot", "wtype", "dbus-daemon", "gdbus"}) {
            if (std::system(("command -v " + std::string(tool) + " >/dev/null").c_str()) != 0) {
                // CI installs them all: there a skip would hide a lost test.
                ASSERT_EQ(std::getenv("CI"), nullptr) << tool << " is not installed";
                GTEST_SKIP() << tool << " is not installed";
            }
        }
    }
    void TearDown() override {
        vellumor_.reset();
        terminal_.reset();
        if (bus_) {
            QDBusConnection::disconnectFromBus(bus_->name());
        }
    }

    SwayDesktop& startDesktop(bool removableOutputs, std::optional<platform::Color> stored = {}) {
        desktop_ = std::make_unique<SwayDesktop>(removableOutputs, stored);
        eventually([] { return true; });
        static int connections = 0;
        bus_.emplace(QDBusConnection::connectToBus(QString::fromStdString(desktop_->busAddress()),
                                                   QString::number(++connections)));
        return *desktop_;
    }
    ::testing::AssertionResult launch(const Rgb& colour) {
        std::string extra =
            "LSAN_OPTIONS=suppressions=" + (desktop_->directory() / "lsan.supp").string();
        for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
            extra += std::getenv(name) ? std::string(" ") + name + "=" + std::getenv(name) : "";
        }
        vellumor_ =
            desktop_->start((desktop_->directory() / "vellumor").string(), "vellumor.log", extra);
        return covered(colour);
    }
    // How many pixels of the outputs `match`, given each one's colour and place; -1 without
    // outputs or screenshot.
    long pixels(const std::function<bool(const Rgb&, int, int)>& match) {
        const auto outputs = desktop_->outputs();
        const QImage screen = desktop_->grab();
        long count = 0;
        for (const auto& [name, r] : outputs) {
            for (int y = r.y; y < r.y + r.height; ++y) {
                for (int x = r.x; x < r.x + r.width; ++x) {
                    const QRgb p = screen.valid(x, y) ? screen.pixel(x, y) : qRgb(1, 2, 3);
                    count += match({qRed(p), qGreen(p), qBlue(p)}, x, y);
                }
            }
        }
        return screen.isNull() || outputs.empty() ? -1 : count;
    }
    // Waits until every output shows `colour` over all its pixels but those of `except`.
    ::testing::AssertionResult covered(const Rgb& colour,
                                       const std::vector<Geometry>& except = {}) {
        long wrong = -1;
        const bool held = eventually([&] {
            return (wrong = pixels([&](const Rgb& c, int x, int y) {
                        return c != colour &&
                               std::none_of(except.begin(), except.end(),
                                            [&](auto& r) { return r.contains(x, y); });
                    })) == 0;
        });
        return held ? ::testing::AssertionSuccess()
                    : ::testing::AssertionFailure() << wrong << " pixels not in the colour";
    }
    bool nowhere(const Rgb& colour) {
        return pixels([&](const Rgb& c, int, int) { return c == colour; }) == 0;
    }

    // A D-Bus call to the program's tray item, as a panel makes it: the method, then its
    // arguments as gdbus takes them.
    std::string callItem(const std::string& path, const std::string& call) {
        return desktop_
            ->capture("gdbus call --session --dest " + watcher_.items.at(0) + " --object-path " +
                      path + " --method " + call)
            .value_or("(failed)");
    }
    // The labels of the item's menu, "-" for a separator; ids_ has each entry's id.
    std::vector<std::string> menu(bool opening = true) {
        std::smatch found;
        const std::string property =
            callItem("/StatusNotifierItem",
                     "org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem Menu");
        if (!std::regex_search(property, found, std::regex("'(/[^']*)'"))) {
            return {};
        }
        menuPath_ = found[1];
        if (opening) {
            callItem(menuPath_, "com.canonical.dbusmenu.AboutToShow 0");
        }
        const std::string layout =
            callItem(menuPath_, "com.canonical.dbusmenu.GetLayout -- 0 -1 []");
        std::vector<std::string> entries;
        const std::regex child("<\\((\\d+), \\{([^}]*)\\}"), label("'label': <'([^']*)'>");
        for (std::sregex_iterator i(layout.begin(), layout.end(), child), end; i != end; ++i) {
            const std::string properties = (*i)[2];
            entries.push_back(std::regex_search(properties, found, label) ? found[1].str() : "-");
            ids_[entries.back()] = (*i)[1];
        }
        return entries;
    }
    // Activates the menu entry titled `title`, as a click in the panel does. The program makes
    // the menu anew when it opens, under new ids, which the layout may not have yet: it is
    // read until it holds still.
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
    auto& desktop = startDesktop(false, platform::Color::colorWithDeviceRed(0.2, 0.4, 0.8, 1));
    ASSERT_TRUE(desktop.sway("output " + desktop.addOutput() + " resolution 1280x1024"));
    const Rgb blue{51, 102, 204};
    // sway's seat has a keyboard only while a virtual one exists, and the program binds its
    // own a moment after one appears: keys sent before that are lost. One held for the whole
    // session, as a real seat's is, lets every typed key arrive.
    const auto keyboard = desktop.start("wtype -s 1000000", "keyboard.log");
    ASSERT_TRUE(launch(blue));
    // Layer surfaces are no windows of sway's: no place in the tiling, no focus.
    EXPECT_TRUE(desktop.windowsOf(vellumor_->pid()).empty());
    // The panel, its watcher and host come only after the program: its icon must appear then.
    ASSERT_TRUE(watcher_.serve(*bus_));

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
    const Geometry rect = rectOf(desktop.windowsOf(terminal_->pid()).at(0));
    ASSERT_TRUE(covered(blue, {rect}));
    // Drawn above the overlay: the terminal's pixels are its own; typed text adds ink.
    const auto ink = [&] {
        return pixels(
            [&](const Rgb& c, int x, int y) { return rect.contains(x, y) && c != kOrange; });
    };
    const long before = ink();
    EXPECT_LT(before, rect.width * rect.height / 4);
    const Geometry first = desktop.outputs()[0].second;
    const int clickX = first.x + first.width - 20, clickY = first.y + first.height - 20;
    ASSERT_TRUE(desktop.click(clickX, clickY));
    EXPECT_EQ(desktop.focusedPid(), terminal_->pid());
    ASSERT_TRUE(desktop.capture("wtype vellumor"));
    EXPECT_TRUE(eventually([&] { return ink() > before + 50; })) << "typing did not reach it";
    EXPECT_TRUE(covered(blue, {rect}));

    // Hidden, the overlays take no click: the same click reaches the workspace.
    ASSERT_TRUE(choose("Toggle Show/Hide"));
    ASSERT_TRUE(eventually([&] { return nowhere(blue); }));
    ASSERT_TRUE(desktop.click(clickX, clickY));
    EXPECT_TRUE(eventually([&] { return desktop.focusedPid() == 0; }));
    ASSERT_TRUE(choose("Toggle Show/Hide"));
    EXPECT_TRUE(covered(blue, {rect}));

    // About and Pick Color... each open a window of the program's in front.
    terminal_.reset();
    ASSERT_TRUE(choose("About Vellumor"));
    EXPECT_TRUE(eventually([&] { return desktop.windowsOf(vellumor_->pid()).size() == 1; }));
    ASSERT_TRUE(choose("Pick Color..."));
    EXPECT_TRUE(eventually([&] { return desktop.windowsOf(vellumor_->pid()).size() == 2; }));
    EXPECT_EQ(desktop.focusedPid(), vellumor_->pid());
    // A colour typed into the dialog's HTML field repaints every output and is stored.
    ASSERT_TRUE(desktop.capture("wtype -M alt h -m alt -M ctrl a -m ctrl '#20c040'"));
    const Rgb green{32, 192, 64};
    std::vector<Geometry> windows;
    for (const QJsonObject& window : desktop.windowsOf(vellumor_->pid())) {
        windows.push_back(rectOf(window));
    }
    EXPECT_TRUE(covered(green, windows));
    const auto archive = platform::common::DefaultsFile(
                             desktop.directory() / "config/vellumor/org.vellumor.Vellumor.plist")
                             .dataForKey("selectedBackgroundColor");
    const auto stored = archive ? platform::common::unarchiveColor(*archive) : std::nullopt;
    ASSERT_TRUE(stored);
    EXPECT_EQ((Rgb{int(std::lround(stored->displayRed() * 255)),
                   int(std::lround(stored->displayGreen() * 255)),
                   int(std::lround(stored->displayBlue() * 255))}),
              green);

    ASSERT_TRUE(choose("Quit"));
    const auto status = vellumor_->waitForExit(10s);
    ASSERT_TRUE(status.has_value()) << "Quit did not end the program";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
    EXPECT_TRUE(eventually([&] { return nowhere(green); }));
}

// 800 wide and 1080 high are sizes where pixman rounds its scaling step up: a buffer too
// short for the output leaves its far edge bare.
TEST_F(WaylandTest, OutputsPluggedUnpluggedAndResizedAreCoveredExactly) {
    auto& desktop = startDesktop(true);
    ASSERT_TRUE(launch(kGrey));
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
