#pragma once

// vellumor on a sway desktop with a tray watcher on its session bus, and what a user would
// see of it: each output's pixels, sway's windows and focus, the tray item and its menu.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "platform/Color.h"
#include "platform/common/DefaultsFile.h"
#include "platform/common/KeyedArchive.h"
#include "tests/wayland/StatusNotifier.h"
#include "tests/wayland/SwayDesktop.h"

namespace vellumor::waylandtest {

class WaylandTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string missing;
        for (const char* tool : {"sway", "swaymsg", "grim", "foot", "wtype", "dbus-daemon"}) {
            if (std::system(("command -v " + std::string(tool) + " >/dev/null").c_str()) != 0) {
                missing += std::string(" ") + tool;
            }
        }
        std::string why =
            missing.empty() ? SessionUser::get().unavailable() : "not installed:" + missing;
        if (!why.empty()) {
            // CI installs everything the session needs: there a skip would hide a lost test.
            if (std::getenv("CI") != nullptr) {
                FAIL() << why;
            }
            GTEST_SKIP() << why;
        }
    }
    void TearDown() override {
        if (HasFailure() && desktop_) {
            // The last screenshot outlives the desktop's directory, for a look at what failed.
            const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
            const auto kept = std::filesystem::temp_directory_path() /
                              (std::string("vellumor-wayland-") + test->name() + ".png");
            std::error_code failed;
            std::filesystem::copy_file(desktop_->directory() / "screen.png", kept,
                                       std::filesystem::copy_options::overwrite_existing, failed);
            if (!failed) {
                std::cerr << "the last screenshot: " << kept.string() << "\n";
            }
            for (const char* log : {"vellumor.log", "sway.log", "inner.log", "tools.log"}) {
                std::ifstream in(desktop_->directory() / log);
                if (in) {
                    std::cerr << "--- " << log << " ---\n" << in.rdbuf() << "\n";
                }
            }
        }
        vellumor_.reset();
        terminal_.reset();
        menu_.reset();
        watcher_.reset();
        if (bus_) {
            QDBusConnection::disconnectFromBus(bus_->name());
            bus_.reset();
        }
        desktop_.reset();
    }

    // A desktop with the tray watcher on its bus; with removable outputs, a nested sway (see
    // SwayDesktop).
    SwayDesktop& startDesktop(bool removableOutputs = false) {
        desktop_ = std::make_unique<SwayDesktop>(removableOutputs);
        pumpEvents();
        static int connections = 0;
        bus_.emplace(QDBusConnection::connectToBus(QString::fromStdString(desktop_->busAddress()),
                                                   QString("wayland-test-%1").arg(++connections)));
        EXPECT_TRUE(bus_->isConnected()) << bus_->lastError().message().toStdString();
        watcher_ = std::make_unique<StatusNotifierWatcher>(*bus_);
        EXPECT_TRUE(watcher_->ready()) << "the watcher did not get its name on the bus";
        return *desktop_;
    }

    std::filesystem::path defaultsPath() const {
        return desktop_->directory() / "config/vellumor/org.vellumor.Vellumor.plist";
    }
    // Stores a colour for the next launch, as an earlier pick would have. The file is written
    // where the test's user owns the directories (the defaults file refuses to write into one
    // of another user's), then given to the session's user.
    void storeColour(double red, double green, double blue) {
        const auto archive = platform::common::archiveColor(
            platform::Color::colorWithDeviceRed(red, green, blue, 1));
        ASSERT_TRUE(archive.has_value());
        std::string scratch =
            (std::filesystem::temp_directory_path() / "vellumor-defaults-XXXXXX").string();
        ASSERT_NE(::mkdtemp(scratch.data()), nullptr);
        const auto written = std::filesystem::path(scratch) / defaultsPath().filename();
        EXPECT_TRUE(
            platform::common::DefaultsFile(written).setObject(*archive, "selectedBackgroundColor"));
        std::filesystem::create_directories(defaultsPath().parent_path());
        std::filesystem::copy_file(written, defaultsPath());
        std::filesystem::remove_all(scratch);
        SessionUser::get().own(desktop_->directory() / "config");
    }
    // Starts vellumor and waits until every output shows `colour` all over.
    ::testing::AssertionResult launch(const Rgb& colour = kDefaultGrey) {
        std::string sanitizer =
            "LSAN_OPTIONS=suppressions=" + SessionUser::get().suppressions().string();
        for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "WAYLAND_DEBUG"}) {
            if (const char* value = std::getenv(name)) {
                sanitizer += std::string(" ") + name + "=" + value;
            }
        }
        vellumor_ =
            desktop_->start(SessionUser::get().program().string(), "vellumor.log", sanitizer);
        return covered(colour);
    }
    // Waits until every output shows `colour` over all its pixels but those of `except`.
    ::testing::AssertionResult covered(const Rgb& colour,
                                       const std::vector<Geometry>& except = {}) {
        std::string last;
        if (eventually([&] { return (last = uncovered(colour, except)).empty(); }, 15s)) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << last << (vellumor_ && vellumor_->waitForExit(0ms) ? "; vellumor has ended" : "");
    }
    // What of the outputs does not show `colour` (bar the rectangles of `except`): empty if
    // all of it does.
    std::string uncovered(const Rgb& colour, const std::vector<Geometry>& except = {}) {
        const auto outputs = desktop_->outputs();
        const QImage screen = desktop_->grab();
        if (outputs.empty() || screen.isNull()) {
            return "no outputs, or no screenshot";
        }
        const auto [ox, oy] = SwayDesktop::origin(outputs);
        for (const Output& output : outputs) {
            long wrong = 0;
            std::string first;
            for (int y = output.rect.y; y < output.rect.y + output.rect.height; ++y) {
                for (int x = output.rect.x; x < output.rect.x + output.rect.width; ++x) {
                    if (std::any_of(except.begin(), except.end(),
                                    [&](const Geometry& g) { return g.contains(x, y); })) {
                        continue;
                    }
                    const Rgb seen = at(screen, x - ox, y - oy);
                    if (seen != colour && wrong++ == 0) {
                        first = "(" + std::to_string(x) + "," + std::to_string(y) + ") shows " +
                                ::testing::PrintToString(seen);
                    }
                }
            }
            if (wrong > 0) {
                return output.name + " " + ::testing::PrintToString(output.rect) + ": " +
                       std::to_string(wrong) + " pixels not " + ::testing::PrintToString(colour) +
                       ", first " + first;
            }
        }
        return "";
    }
    // How many pixels of a rectangle of the layout do not show `colour`.
    long differing(const Geometry& rect, const Rgb& colour) {
        const QImage screen = desktop_->grab();
        const auto [ox, oy] = SwayDesktop::origin(desktop_->outputs());
        long count = 0;
        for (int y = rect.y; y < rect.y + rect.height; ++y) {
            for (int x = rect.x; x < rect.x + rect.width; ++x) {
                count += at(screen, x - ox, y - oy) != colour ? 1 : 0;
            }
        }
        return count;
    }
    // Whether no pixel of any output shows `colour`.
    bool nowhere(const Rgb& colour) {
        const QImage screen = desktop_->grab();
        if (screen.isNull()) {
            return false;
        }
        for (int y = 0; y < screen.height(); ++y) {
            for (int x = 0; x < screen.width(); ++x) {
                if (at(screen, x, y) == colour) {
                    return false;
                }
            }
        }
        return true;
    }
    static Rgb at(const QImage& image, int x, int y) {
        if (x < 0 || y < 0 || x >= image.width() || y >= image.height()) {
            return {-1, -1, -1};
        }
        const QRgb p = reinterpret_cast<const QRgb*>(image.constScanLine(y))[x];
        return {qRed(p), qGreen(p), qBlue(p)};
    }

    // sway's windows of the program.
    std::vector<QJsonObject> programWindows() {
        std::vector<QJsonObject> found;
        for (const QJsonObject& window : desktop_->windows()) {
            if (vellumor_ && window["pid"].toInt() == vellumor_->pid()) {
                found.push_back(window);
            }
        }
        return found;
    }

    // The program's tray item, once it has registered with the watcher: the registration
    // whose service on the bus is the running program's own.
    ::testing::AssertionResult awaitTrayItem() {
        QString service;
        const auto registered = [&] {
            for (const auto& r : watcher_->registrations()) {
                const QString name = r.item.startsWith('/') ? r.sender : r.item;
                const auto pid = bus_->interface()->servicePid(name);
                if (pid.isValid() && static_cast<int>(pid.value()) == vellumor_->pid()) {
                    service = name;
                }
            }
            return !service.isEmpty();
        };
        if (!eventually(registered, 15s)) {
            return ::testing::AssertionFailure()
                   << "the program registered no item with the watcher ("
                   << watcher_->registrations().size() << " registrations)";
        }
        const QString path = itemMenuPath(*bus_, service);
        if (path.isEmpty()) {
            return ::testing::AssertionFailure() << "the item has no menu";
        }
        menu_ = std::make_unique<TrayMenu>(*bus_, service, path);
        return ::testing::AssertionSuccess();
    }
    // Chooses the entry titled `label` from the tray item's menu, as a panel does on a click.
    ::testing::AssertionResult choose(const std::string& label) {
        if (!menu_) {
            if (auto item = awaitTrayItem(); !item) {
                return item;
            }
        }
        std::string error;
        for (const MenuEntry& entry : menu_->open(&error)) {
            if (entry.label == label) {
                return menu_->click(entry.id) ? ::testing::AssertionSuccess()
                                              : ::testing::AssertionFailure() << "not sent";
            }
        }
        return ::testing::AssertionFailure() << "no entry " << label << " " << error;
    }

    std::unique_ptr<SwayDesktop> desktop_;
    std::optional<QDBusConnection> bus_;
    std::unique_ptr<StatusNotifierWatcher> watcher_;
    std::unique_ptr<TrayMenu> menu_;
    std::unique_ptr<Process> vellumor_;
    std::unique_ptr<Process> terminal_;
};

}  // namespace vellumor::waylandtest
