#pragma once

// What the X11 shell tests need beyond DesktopTest: vellumor launched with an environment of
// the test's choosing, and a rectangle of the screen read in one request.

#include <xcb/xcb.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/x11/X11Desktop.h"

namespace vellumor::x11test {

// A rectangle of the screen as it shows now.
struct ScreenImage {
    Geometry area;
    std::vector<Rgb> pixels;  // row by row

    // The pixel at (x, y) within the area.
    const Rgb& at(int x, int y) const {
        return pixels[static_cast<std::size_t>(y * area.width + x)];
    }
    // The smallest rectangle within the area (in its coordinates) holding every pixel that
    // differs from `background` by more than `tolerance` in some channel; empty if none does.
    Geometry differingFrom(const Rgb& background, int tolerance) const {
        int left = area.width, top = area.height, right = -1, bottom = -1;
        for (int y = 0; y < area.height; ++y) {
            for (int x = 0; x < area.width; ++x) {
                const Rgb& p = at(x, y);
                bool differs = false;
                for (std::size_t channel = 0; channel < 3; ++channel) {
                    differs = differs || std::abs(p[channel] - background[channel]) > tolerance;
                }
                if (differs) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
            }
        }
        return right < 0 ? Geometry{} : Geometry{left, top, right - left + 1, bottom - top + 1};
    }
};

class ShellTest : public DesktopTest {
protected:
    // Starts vellumor as launch does, with `environment` (VAR=value words) added, scaling
    // variables included, and waits until it covers every monitor.
    ::testing::AssertionResult launchWith(const std::string& environment) {
        std::filesystem::create_directories(desktop_->directory() / "runtime");
        vellumor_ = std::make_unique<Process>(
            "env -u DBUS_SESSION_BUS_ADDRESS -u QT_QPA_PLATFORMTHEME -u QT_SCALE_FACTOR " +
                desktop_->environment() +
                " XDG_RUNTIME_DIR=" + (desktop_->directory() / "runtime").string() +
                " LSAN_OPTIONS=suppressions=" + VELLUMOR_LSAN_SUPPRESSIONS + " " + environment +
                " " + VELLUMOR_BINARY,
            desktop_->directory() / "vellumor.log");
        if (waitUntil([&] { return overlaysMatchMonitors(); }, 10s)) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure() << "no overlays with " << environment;
    }

    // The screen's pixels in `area` (Xvfb at depth 24: blue, green, red and a spare byte).
    ScreenImage grab(const Geometry& area) {
        xcb_connection_t* c = desktop_->connection();
        ScreenImage image{area, {}};
        xcb_get_image_reply_t* reply = xcb_get_image_reply(
            c,
            xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, desktop_->root(), std::int16_t(area.x),
                          std::int16_t(area.y), std::uint16_t(area.width),
                          std::uint16_t(area.height), ~0U),
            nullptr);
        const auto count = static_cast<std::size_t>(area.width * area.height);
        if (reply == nullptr || std::size_t(xcb_get_image_data_length(reply)) < count * 4) {
            ADD_FAILURE() << "cannot read the screen at " << area;
            std::free(reply);
            image.pixels.assign(count, Rgb{-1, -1, -1});
            return image;
        }
        const std::uint8_t* bytes = xcb_get_image_data(reply);
        for (std::size_t i = 0; i < count; ++i) {
            image.pixels.push_back({bytes[4 * i + 2], bytes[4 * i + 1], bytes[4 * i]});
        }
        std::free(reply);
        return image;
    }
};

}  // namespace vellumor::x11test
