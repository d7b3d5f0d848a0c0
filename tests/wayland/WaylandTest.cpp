// vellumor on sway, as a user sees it: every output covered exactly in the stored colour by
// surfaces below the windows that take neither focus nor keyboard; the tray item registered with
// the panel's watcher, its menu's entries doing their work when a panel activates them, a
// colour picked in the dialog shown everywhere and stored; and outputs plugged, unplugged and
// resized while it runs.

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
#include <QRect>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>

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

QRect rectOf(const QJsonObject& node) {
    const QJsonObject r = node["rect"].toObject();
    return {r["x"].toInt(), r["y"].toInt(), r["width"].toInt(), r["height"].toInt()};
}
using Rgb = std::array<int, 3>;
constexpr Rgb kGrey{26, 26, 26};  // the default colour, a grey of 0.1
constexpr Rgb kOrange{255, 128, 0};
const fs::path kDefaults = "config/vellumor/org.vellumor.Vellumor.plist";

void check(bool ok, const std::string& what) {
    if (!ok) {
        throw std::runtime_error(what);
    }
}
// Serves the test's event loop (its watcher) until `condition` holds; whether it did.
bool eventually(const std::function<bool()>& condition) {
    static int argc = 1;
    static char name[] = "wayland_tests";
    static char* argv[] = {name, nullptr};
    [[maybe_unused]] static const auto* application = new QCoreApplication(argc, argv);
    return testsupport::waitUntil(
        [&] { return QCoreApplication::processEvents(QEventLoop::AllEvents, 10), condition(); },
        15s);
}

// A headless sway (pixman, no input devices) with a session bus of its own in a private
// directory, each a child process stopped by its pid, and the program in it. Headless outputs
// of sway 1.7 cannot be taken away, so with removable outputs the desktop is a sway nested in
// a headless one: its outputs are the outer sway's windows, and closing one unplugs it. sway
// will not run as root: then the session runs as the account vellumortest (.ci/run makes it),
// the program from a copy in the desktop's directory.
class WaylandTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("command -v sway grim foot wtype dbus-daemon gdbus >/dev/null") != 0) {
            // CI installs them all: there a skip would hide a lost test.
            ASSERT_EQ(std::getenv("CI"), nullptr) << "sway, grim, foot, wtype or dbus is missing";
            GTEST_SKIP() << "sway, grim, foot, wtype or dbus is not installed";
        }
    }
    void TearDown() override {
        for (auto* process : {&vellumor_, &terminal_, &keyboard_, &inner_, &outer_, &bus_}) {
            process->reset();
        }
        bus.reset();
        QDBusConnection::disconnectFromBus("session");
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    void startDesktop(bool removableOutputs, const std::optional<platform::Color>& stored = {}) {
        std::string dir = (fs::temp_directory_path() / "vellumor-wayland-XXXXXX").string();
        check(::mkdtemp(dir.data()) != nullptr, "cannot make a directory");
        dir_ = dir;
        fs::create_directories(dir_ / "runtime");
        fs::permissions(dir_ / "runtime", fs::perms::owner_all);
        fs::copy_file(VELLUMOR_BINARY, dir_ / "vellumor");
        fs::copy_file(VELLUMOR_PROGRAM_MODULE, dir_ / fs::path(VELLUMOR_PROGRAM_MODULE).filename());
        fs::copy_file(VELLUMOR_LSAN_SUPPRESSIONS, dir_ / "lsan.supp");
        // The colour an earlier pick stored, written before the directory changes hands.
        check(!stored || platform::common::DefaultsFile(dir_ / kDefaults)
                             .setObject(*platform::common::archiveColor(*stored),
                                        "selectedBackgroundColor"),
              "cannot store the colour");
        if ((uid_ = ::geteuid()) == 0) {
            const passwd* account = ::getpwnam("vellumortest");
            check(account != nullptr, "sway will not run as root; no vellumortest");
            uid_ = account->pw_uid;
            user_ = "setpriv --reuid=" + std::to_string(uid_) +
                    " --regid=" + std::to_string(account->pw_gid) + " --clear-groups ";
            check(std::system(("chown -R " + std::to_string(uid_) + ":" +
                               std::to_string(account->pw_gid) + " " + dir_.string())
                                  .c_str()) == 0,
                  "cannot hand the directory over");
        }
        const std::string address = "unix:path=" + (dir_ / "runtime/bus").string();
        std::ofstream(dir_ / "bus.conf")
            << "<busconfig><type>session</type><listen>" << address
            << "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow user=\""
            << ::geteuid() << "\"/><allow user=\"" << uid_
            << "\"/><allow send_destination=\"*\"/><allow receive_sender=\"*\"/><allow "
               "own=\"*\"/></policy></busconfig>\n";
        environment_ = "PATH=/usr/local/bin:/usr/bin:/bin HOME=" + dir_.string() +
                       " XDG_RUNTIME_DIR=" + (dir_ / "runtime").string() +
                       " XDG_CONFIG_HOME=" + (dir_ / "config").string() +
                       " DBUS_SESSION_BUS_ADDRESS=" + address +
                       " XDG_SESSION_TYPE=wayland LANG=C.UTF-8 WLR_RENDERER=pixman "
                       "WLR_LIBINPUT_NO_DEVICES=1 ";
        bus_ =
            start("dbus-daemon --nofork --nopidfile --config-file=" + dir_.string() + "/bus.conf",
                  "dbus.log");
        check(testsupport::waitUntil([&] { return fs::exists(dir_ / "runtime/bus"); }, 10s),
              "no session bus");
        if (removableOutputs) {
            outer_ = startSway("outer", "for_window [app_id=\"wlroots\"] floating enable\n",
                               "WLR_BACKENDS=headless", outerIpc_);
        }
        inner_ = startSway(
            "sway", "",
            outer_ ? "WLR_BACKENDS=wayland WAYLAND_DISPLAY=wayland-1" : "WLR_BACKENDS=headless",
            ipc_);
        environment_ += "WAYLAND_DISPLAY=" + std::string(outer_ ? "wayland-2" : "wayland-1") +
                        " SWAYSOCK=" + ipc_ + " ";
        eventually([] { return true; });
        bus.emplace(QDBusConnection::connectToBus(QString::fromStdString(address), "session"));
    }
    // Starts a sway with `extra` configuration and env(1) operands `backend`. In the private
    // runtime directory its IPC socket's name is known: by its user and pid (setpriv and env
    // exec it).
    std::unique_ptr<Process> startSway(const std::string& name, const std::string& extra,
                                       const std::string& backend, std::string& ipc) {
        std::ofstream(dir_ / (name + ".config"))
            << "xwayland disable\ndefault_border none\ndefault_floating_border none\n"
            << "focus_follows_mouse no\nfor_window [app_id=\"foot\"] floating enable\n"
            << extra;
        auto sway =
            start(backend + " sway -c " + dir_.string() + "/" + name + ".config", name + ".log");
        ipc = (dir_ / "runtime" /
               ("sway-ipc." + std::to_string(uid_) + "." + std::to_string(sway->pid()) + ".sock"))
                  .string();
        check(testsupport::waitUntil([&] { return swaymsg(ipc, "nop"); }, 15s),
              name + " did not start");
        return sway;
    }
    // Starts `command` (env(1) operands first) in the session as its user, its output to `log`.
    std::unique_ptr<Process> start(const std::string& command, const std::string& log) const {
        return std::make_unique<Process>(user_ + "env -i " + environment_ + command, dir_ / log);
    }
    // Runs a command in the session (10 s at most); what it wrote, if it succeeded.
    std::optional<std::string> capture(const std::string& command) const {
        FILE* pipe = ::popen((user_ + "env -i " + environment_ + " timeout 10 " + command + " 2>>" +
                              dir_.string() + "/tools.log")
                                 .c_str(),
                             "r");
        std::string out;
        std::array<char, 4096> buffer{};
        for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) {
            out.append(buffer.data(), n);
        }
        return ::pclose(pipe) == 0 ? std::optional(out) : std::nullopt;
    }
    bool swaymsg(const std::string& ipc, const std::string& command) const {
        const auto out = capture("swaymsg -s " + ipc + " -- " + command);
        return out && out->find("\"success\": false") == std::string::npos;
    }
    bool sway(const std::string& command) const { return swaymsg(ipc_, command); }
    QJsonDocument ipc(const std::string& type) const {
        const auto out = capture("swaymsg -s " + ipc_ + " -r -t " + type);
        return QJsonDocument::fromJson(QByteArray::fromStdString(out.value_or("")));
    }

    // The active outputs in sway's order.
    std::vector<std::pair<std::string, QRect>> outputs() const {
        std::vector<std::pair<std::string, QRect>> result;
        for (const QJsonValue output : ipc("get_outputs").array()) {
            if (output["active"].toBool()) {
                result.emplace_back(output["name"].toString().toStdString(),
                                    rectOf(output.toObject()));
            }
        }
        return result;
    }
    // The windows of `pid` (0: any) in sway's tree, the focused one alone if `focused`.
    std::vector<QJsonObject> windows(int pid, bool focused = false) const {
        std::vector<QJsonObject> all{ipc("get_tree").object()}, found;
        for (std::size_t i = 0; i < all.size(); ++i) {
            for (const char* children : {"nodes", "floating_nodes"}) {
                for (const QJsonValue child : all[i][children].toArray()) {
                    all.push_back(child.toObject());
                }
            }
            if ((pid == 0 || all[i]["pid"].toInt() == pid) &&
                (!focused || all[i]["focused"].toBool()) &&
                (focused || all[i]["nodes"].toArray().isEmpty())) {
                found.push_back(all[i]);
            }
        }
        return found;
    }
    // The pid of the window with the seat's focus; 0 when a workspace has it.
    int focusedPid() const {
        const auto focused = windows(0, true);
        return focused.empty() ? -1 : focused[0]["pid"].toInt();
    }
    // Adds an output, right of the others; its name.
    std::string addOutput() const {
        const std::size_t before = outputs().size();
        sway("create_output");
        std::vector<std::pair<std::string, QRect>> now;
        testsupport::waitUntil([&] { return (now = outputs()).size() > before; });
        return now.empty() ? "" : now.back().first;
    }
    bool click(int x, int y) const {
        return sway("seat seat0 cursor set " + std::to_string(x) + " " + std::to_string(y)) &&
               sway("seat seat0 cursor press button1") && sway("seat seat0 cursor release button1");
    }

    ::testing::AssertionResult launch(const Rgb& colour) {
        std::string extra = "LSAN_OPTIONS=suppressions=" + dir_.string() + "/lsan.supp ";
        for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
            extra += std::getenv(name) ? std::string(name) + "=" + std::getenv(name) + " " : "";
        }
        vellumor_ = start(extra + dir_.string() + "/vellumor", "vellumor.log");
        return covered(colour);
    }
    // How many pixels of the outputs `match`, given each one's colour and place, in a
    // screenshot of the whole layout; -1 without outputs or screenshot.
    long pixels(const std::function<bool(const Rgb&, int, int)>& match) {
        const auto outputs = this->outputs();
        const QImage screen =
            QImage::fromData(QByteArray::fromStdString(capture("grim -").value_or("")))
                .convertToFormat(QImage::Format_RGB32);
        long count = 0;
        for (const auto& [name, r] : outputs) {
            for (int y = r.top(); y <= r.bottom(); ++y) {
                for (int x = r.left(); x <= r.right(); ++x) {
                    const QRgb p = screen.valid(x, y) ? screen.pixel(x, y) : qRgb(1, 2, 3);
                    count += match({qRed(p), qGreen(p), qBlue(p)}, x, y);
                }
            }
        }
        return screen.isNull() || outputs.empty() ? -1 : count;
    }
    // Waits until every output shows `colour` over all its pixels but those of `except`.
    ::testing::AssertionResult covered(const Rgb& colour, const std::vector<QRect>& except = {}) {
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
        return capture("gdbus call --session --dest " + watcher.items.at(0) + " --object-path " +
                       path + " --method " + call)
            .value_or("(failed)");
    }
    // The labels of the item's menu, found as a panel finds it, "-" for a separator; ids_ has
    // each entry's id.
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
    // Activates the menu entry titled `title`, as a click in the panel does: by the id of the
    // layout the panel read before it opened the menu, which the opening must not change.
    bool choose(const std::string& title) {
        const auto entries = menu(false);
        const std::string id = ids_[title];
        menu();
        // Sent whatever the answer: Quit may end the program before it gives one.
        callItem(menuPath_, "com.canonical.dbusmenu.Event " + id + " clicked '<0>' 0");
        return std::find(entries.begin(), entries.end(), title) != entries.end();
    }

    std::optional<QDBusConnection> bus;
    StatusNotifierWatcher watcher;
    fs::path dir_;
    std::string user_, environment_, ipc_, outerIpc_, menuPath_;
    uid_t uid_ = 0;
    std::map<std::string, std::string> ids_;
    std::unique_ptr<Process> bus_, outer_, inner_, vellumor_, terminal_, keyboard_;
};

TEST_F(WaylandTest, OverlaysCoverEachOutputBelowWindowsAndTheTrayMenuWorks) {
    startDesktop(false, platform::Color::colorWithDeviceRed(0.2, 0.4, 0.8, 1));
    ASSERT_TRUE(sway("output " + addOutput() + " resolution 1280x1024"));
    const Rgb blue{51, 102, 204};
    // sway's seat has a keyboard only while a virtual one exists, and the program binds its
    // own a moment after one appears: keys sent before that are lost. One held for the whole
    // session, as a real seat's is, lets every typed key arrive.
    keyboard_ = start("wtype -s 1000000", "keyboard.log");
    ASSERT_TRUE(launch(blue));
    // Layer surfaces are no windows of sway's: no place in the tiling, no focus.
    EXPECT_TRUE(windows(vellumor_->pid()).empty());
    // The panel, its watcher and host come only after the program: its icon must appear then.
    ASSERT_TRUE(watcher.serve(*bus));
    ASSERT_TRUE(eventually([&] { return !watcher.items.empty(); })) << "no tray item";
    EXPECT_EQ(watcher.items.size(), 1U);
    EXPECT_EQ(bus->interface()->servicePid(QString::fromStdString(watcher.items[0])).value(),
              static_cast<unsigned>(vellumor_->pid()));
    EXPECT_EQ(menu(), (std::vector<std::string>{"About Vellumor", "-", "Pick Color...",
                                                "Toggle Show/Hide", "-", "Quit"}));

    // An ordinary window stays above, and keeps the focus and keyboard when the overlay
    // under it is clicked.
    terminal_ = start("foot -o colors.background=ff8000 cat", "foot.log");
    ASSERT_TRUE(eventually([&] { return focusedPid() == terminal_->pid(); }));
    const QRect rect = rectOf(windows(terminal_->pid()).at(0));
    ASSERT_TRUE(covered(blue, {rect}));
    // Drawn above the overlay: the terminal's pixels are its own; typed text adds ink.
    const auto ink = [&] {
        return pixels(
            [&](const Rgb& c, int x, int y) { return rect.contains(x, y) && c != kOrange; });
    };
    const long before = ink();
    EXPECT_LT(before, rect.width() * rect.height() / 4);
    const QRect first = outputs()[0].second;
    const int clickX = first.right() - 20, clickY = first.bottom() - 20;
    ASSERT_TRUE(click(clickX, clickY));
    EXPECT_EQ(focusedPid(), terminal_->pid());
    ASSERT_TRUE(capture("wtype vellumor"));
    EXPECT_TRUE(eventually([&] { return ink() > before + 50; })) << "typing did not reach it";
    EXPECT_TRUE(covered(blue, {rect}));

    // Hidden, the overlays take no click: the same click reaches the workspace.
    ASSERT_TRUE(choose("Toggle Show/Hide"));
    ASSERT_TRUE(eventually([&] { return nowhere(blue); }));
    ASSERT_TRUE(click(clickX, clickY));
    EXPECT_TRUE(eventually([&] { return focusedPid() == 0; }));
    ASSERT_TRUE(choose("Toggle Show/Hide"));
    EXPECT_TRUE(covered(blue, {rect}));

    // About and Pick Color... each open a window of the program's in front.
    terminal_.reset();
    ASSERT_TRUE(choose("About Vellumor"));
    EXPECT_TRUE(eventually([&] { return windows(vellumor_->pid()).size() == 1; }));
    ASSERT_TRUE(choose("Pick Color..."));
    EXPECT_TRUE(eventually([&] { return windows(vellumor_->pid()).size() == 2; }));
    EXPECT_EQ(focusedPid(), vellumor_->pid());
    // A colour typed into the dialog's HTML field repaints every output.
    ASSERT_TRUE(capture("wtype -M alt h -m alt -M ctrl a -m ctrl '#20c040'"));
    const Rgb green{32, 192, 64};
    std::vector<QRect> shown;
    for (const QJsonObject& window : windows(vellumor_->pid())) {
        shown.push_back(rectOf(window));
    }
    EXPECT_TRUE(covered(green, shown));

    ASSERT_TRUE(choose("Quit"));
    const auto status = vellumor_->waitForExit(10s);
    ASSERT_TRUE(status.has_value()) << "Quit did not end the program";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
    EXPECT_TRUE(eventually([&] { return nowhere(green); }));
    // The pick was stored: the next launch comes up in it.
    EXPECT_TRUE(launch(green));
}

// 800 wide and 1080 high are sizes where pixman rounds its scaling step up: a buffer too
// short for the output leaves its far edge bare.
TEST_F(WaylandTest, OutputsPluggedUnpluggedAndResizedAreCoveredExactly) {
    startDesktop(true);
    ASSERT_TRUE(launch(kGrey));
    const std::string first = outputs().at(0).first, added = addOutput();
    // An overlay of 800 x 600 grown to 1920 x 1080 needs a longer buffer.
    for (const auto& [mode, width] : {std::pair{"800x600", 800}, {"1920x1080", 1920}}) {
        ASSERT_TRUE(sway("output " + added + " resolution " + mode + " position 0 0"));
        ASSERT_TRUE(sway("output " + first + " position " + std::to_string(width) + " 0"));
        ASSERT_TRUE(eventually([&] { return outputs().at(1).second.width() == width; }));
        EXPECT_TRUE(covered(kGrey)) << mode;
    }
    // Unplugged: the outer sway closes the window that the output is.
    ASSERT_TRUE(swaymsg(outerIpc_, "'[title=\"wlroots - " + first + "\"]' kill"));
    ASSERT_TRUE(eventually([&] { return outputs().size() == 1; }));
    EXPECT_TRUE(covered(kGrey));
    addOutput();
    ASSERT_TRUE(eventually([&] { return outputs().size() == 2; }));
    EXPECT_TRUE(covered(kGrey));
    EXPECT_FALSE(vellumor_->waitForExit(0ms).has_value());
}

}  // namespace
}  // namespace vellumor::waylandtest
