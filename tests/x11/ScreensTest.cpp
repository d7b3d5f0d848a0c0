// The backend's monitor list against a real X server (Xvfb, no window manager): it is read
// from the server once per change, not once per question, and what the program is told
// after a change is already the new list.

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <QCoreApplication>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/NotificationCenter.h"
#include "platform/PlatformIntegration.h"
#include "platform/headless/HeadlessPlatform.h"
#include "platform/qt/QtScreens.h"
#include "platform/qt/QtX11.h"
#include "tests/x11/X11Desktop.h"

namespace vellumor::x11test {
namespace {

using platform::qt::QtScreens;
using platform::qt::X11Connection;

const Geometry kPrimary{0, 0, 1920, 1080};
const Geometry kSecondary{1920, 0, 1280, 1024};
const Geometry kAdded{3200, 0, 1024, 768};

// Records, on each screen-parameters notice, the frames the program would be given then.
class NoticeListener final : public platform::Object {
public:
    explicit NoticeListener(QtScreens& screens) {
        addMethod("screensChanged",
                  [this, &screens](platform::Object*) { heardFrames.push_back(screens.frames()); });
    }
    std::vector<std::vector<platform::Rect>> heardFrames;
};

class ScreensTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto missing = missingDesktopPrograms();
        if (!missing.empty()) {
            GTEST_SKIP() << "the virtual desktop's programs are not installed";
        }
        // The notification centre asks the installed backend for nothing here, but one must be
        // installed; the queued check needs an application object for its event loop.
        platform::installPlatformIntegration(std::make_unique<platform::headless::HeadlessPlatform>(
            std::filesystem::temp_directory_path() / "vellumor-x11-screens-tests"));
        static int argc = 1;
        static char name[] = "x11_screens_tests";
        static char* argv[] = {name, nullptr};
        application_ = std::make_unique<QCoreApplication>(argc, argv);
        desktop_ = std::make_unique<X11Desktop>(
            X11Desktop::Options{{{"A", kPrimary, true}, {"B", kSecondary, false}}, false, false});
        connection_ = xcb_connect(desktop_->display().c_str(), nullptr);
        ASSERT_EQ(xcb_connection_has_error(connection_), 0);
        x11_ = std::make_unique<X11Connection>(connection_, 0);
        screens_ = std::make_unique<QtScreens>(*x11_);
    }

    void TearDown() override {
        screens_.reset();
        x11_.reset();
        if (connection_ != nullptr) {
            xcb_disconnect(connection_);
        }
        desktop_.reset();
        application_.reset();
        platform::installPlatformIntegration(nullptr);
    }

    // Hands every event the server sent so far to the screens, as the native event filter
    // does; how many there were. A round trip first: the server answers it only after every
    // event it queued for this connection before, such as those of a finished xrandr.
    int deliverEvents() {
        std::free(
            xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
        int count = 0;
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            screens_->noteEvent(*event);
            std::free(event);
            ++count;
        }
        return count;
    }

    static std::vector<Geometry> geometries(const std::vector<platform::qt::Monitor>& monitors) {
        std::vector<Geometry> result;
        for (const auto& monitor : monitors) {
            const QRect& g = monitor.geometry;
            result.push_back({g.x(), g.y(), g.width(), g.height()});
        }
        return result;
    }

    std::unique_ptr<QCoreApplication> application_;
    std::unique_ptr<X11Desktop> desktop_;
    xcb_connection_t* connection_ = nullptr;
    std::unique_ptr<X11Connection> x11_;
    std::unique_ptr<QtScreens> screens_;
};

TEST_F(ScreensTest, MonitorsAreAskedOfTheServerOnlyAfterAnEventMarkedThemStale) {
    EXPECT_EQ(geometries(screens_->monitors()), (std::vector<Geometry>{kPrimary, kSecondary}));
    const auto reads = screens_->serverReads();
    // A rebuild places one overlay per monitor, each asking for the frames and the origin.
    for (int overlay = 0; overlay < 8; ++overlay) {
        EXPECT_EQ(screens_->frames().size(), 2U);
        EXPECT_EQ(screens_->reference(), QRect(0, 0, 1920, 1080));
    }
    EXPECT_EQ(screens_->serverReads(), reads);

    ASSERT_TRUE(desktop_->run({"xrandr", "--setmonitor", "C", "1024/271x768/203+3200+0", "none"}));
    // Until the change events are handled the backend keeps the list it has.
    EXPECT_EQ(screens_->frames().size(), 2U);
    EXPECT_EQ(screens_->serverReads(), reads);
    // xrandr has returned, so the server has queued its change events.
    ASSERT_GT(deliverEvents(), 0);
    // The first question after the events reads the new list, and only the first.
    EXPECT_EQ(geometries(screens_->monitors()),
              (std::vector<Geometry>{kPrimary, kSecondary, kAdded}));
    const auto afterChange = screens_->serverReads();
    EXPECT_EQ(afterChange, reads + 1);
    for (int overlay = 0; overlay < 8; ++overlay) {
        EXPECT_EQ(screens_->frames().size(), 3U);
    }
    EXPECT_EQ(screens_->serverReads(), afterChange);
}

TEST_F(ScreensTest, TheProgramIsToldOfAChangeOnceAndThenGivenTheNewMonitors) {
    NoticeListener listener(*screens_);
    platform::NotificationCenter::defaultCenter().addObserver(
        listener, "screensChanged", platform::NSApplicationDidChangeScreenParametersNotification,
        nullptr);
    // The backend holds the two-monitor list before the change.
    EXPECT_EQ(screens_->frames().size(), 2U);

    ASSERT_TRUE(desktop_->run({"xrandr", "--setmonitor", "C", "1024/271x768/203+3200+0", "none"}));
    ASSERT_TRUE(waitUntil([&] {
        deliverEvents();
        QCoreApplication::processEvents();
        return !listener.heardFrames.empty();
    }));
    // Whatever else of the burst comes later announces nothing new.
    deliverEvents();
    QCoreApplication::processEvents();
    ASSERT_EQ(listener.heardFrames.size(), 1U);
    const auto& heard = listener.heardFrames.front();
    ASSERT_EQ(heard.size(), 3U);
    // The added monitor, right of the second one and top-aligned with the primary one
    // (platform coordinates: origin at the primary's bottom-left, y up).
    EXPECT_EQ(heard[2].x, 3200.0);
    EXPECT_EQ(heard[2].width, 1024.0);
    EXPECT_EQ(heard[2].height, 768.0);
    EXPECT_EQ(heard[2].y, 1080.0 - 768.0);
}

}  // namespace
}  // namespace vellumor::x11test
