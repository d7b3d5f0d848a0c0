// How the Linux backend picks its window system, which output an overlay goes on, how long its
// buffer is, and where its defaults file lives.

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/qt/QtUserPaths.h"
#include "platform/qt/QtWaylandRules.h"

namespace platform::qt {
namespace {

using Kind = WaylandAnswer::Kind;

TEST(WaylandRulesTest, WaylandOnlyWithTheLayerShellAndQtsPlatformElseXElseOneLine) {
    const auto choice = [](Kind kind, const std::optional<std::string>& xProblem) {
        return chooseWindowSystem("wayland-1", {kind, {"zwlr_layer_shell_v1"}}, xProblem);
    };
    EXPECT_EQ(std::get<WindowSystem>(choice(Kind::Usable, "no X display")), WindowSystem::Wayland);
    for (const Kind kind : {Kind::Lacking, Kind::NoQtPlatform, Kind::NoCompositor}) {
        EXPECT_EQ(std::get<WindowSystem>(choice(kind, std::nullopt)), WindowSystem::X11);
    }
    EXPECT_EQ(std::get<std::string>(choice(Kind::NoQtPlatform, "no X display")),
              "vellumor: Qt's Wayland platform is not installed (qt6-wayland) and no X display: "
              "install qt6-wayland, or set DISPLAY");
}

// Whether a compositor that scales a buffer `bufferLength` pixels long onto `outputLength`
// output pixels in 16.16 fixed point, its step rounded up by as much as 1/65536 (as pixman's
// is), still samples the buffer at the last output pixel's centre.
bool lastPixelInside(std::uint32_t bufferLength, std::uint64_t outputLength) {
    const std::uint64_t step = bufferLength * std::uint64_t{65536} / outputLength + 1;
    return (2 * outputLength - 1) * step < 2 * std::uint64_t{bufferLength} * 65536;
}

TEST(WaylandRulesTest, OverlayBufferIsLongEnoughForTheCompositorsRoundingAndNoLonger) {
    // One pixel runs off at 1080 and 800, as it does on sway.
    EXPECT_FALSE(lastPixelInside(1, 1080));
    EXPECT_FALSE(lastPixelInside(1, 800));
    for (std::uint32_t length = 1; length <= 8192; ++length) {
        for (const std::int32_t scale : {1, 2, 3}) {
            const std::uint64_t physical = std::uint64_t{length} * std::uint32_t(scale);
            const std::uint32_t buffer = pixelBufferLength(length, scale);
            ASSERT_TRUE(physical > 8192 || lastPixelInside(buffer, physical)) << length;
            ASSERT_LE(buffer, physical / 4 + 2) << length << " at scale " << scale;
        }
    }
    EXPECT_EQ(pixelBufferLength(1080, 0), pixelBufferLength(1080, 1));
    EXPECT_EQ(pixelBufferLength(0xFFFFFFFFU, 0x7FFFFFFF), 2048U);
    EXPECT_EQ(pixelBufferLength(0, 1), 1U);
}

// Each overlay goes on the output it covers most; two outputs showing the same place (mirrored)
// get one each rather than both landing on the first.
TEST(WaylandRulesTest, OverlayGoesOnTheOutputItCoversMostAndMirroredOutputsGetOneEach) {
    const std::vector<QRect> outputs{{0, 0, 1920, 1080}, {0, 0, 1920, 1080}, {1900, 0, 800, 600}};
    const QRect mirrored(0, 0, 1920, 1080);
    EXPECT_EQ(outputUnder(outputs, mirrored, {false, false, false}), 0U);
    EXPECT_EQ(outputUnder(outputs, mirrored, {true, false, false}), 1U);
    EXPECT_EQ(outputUnder(outputs, mirrored, {true, true, false}), 0U);
    // A larger overlap wins over an output without an overlay.
    EXPECT_EQ(outputUnder(outputs, {1900, 0, 800, 600}, {false, false, true}), 2U);
    EXPECT_EQ(outputUnder(outputs, {5000, 0, 10, 10}, {false, false, false}), std::nullopt);
}

// The defaults file never follows the working directory: relative XDG_CONFIG_HOME and HOME
// are passed over.
TEST(DefaultsPathTest, OnlyAbsoluteConfigAndHomeDirectoriesAreUsed) {
    const std::string passwdHome = ::getpwuid(::getuid())->pw_dir;
    const struct {
        const char *config, *home;
        std::string base;
    } rows[] = {{"/cfg", "/home/x", "/cfg"},
                {"cfg", "/home/x", "/home/x/.config"},
                {nullptr, "/home/x", "/home/x/.config"},
                {"", "home/x", passwdHome + "/.config"},
                {"cfg", nullptr, passwdHome + "/.config"}};
    std::optional<std::string> saved[2];
    for (int i = 0; const char* name : {"XDG_CONFIG_HOME", "HOME"}) {
        saved[i++] =
            std::getenv(name) ? std::optional<std::string>(std::getenv(name)) : std::nullopt;
    }
    const auto set = [](const char* name, const char* value) {
        value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
    };
    for (const auto& row : rows) {
        set("XDG_CONFIG_HOME", row.config);
        set("HOME", row.home);
        EXPECT_EQ(defaultsFilePath(), row.base + "/vellumor/org.vellumor.Vellumor.plist")
            << (row.config ? row.config : "(unset)") << " " << (row.home ? row.home : "(unset)");
    }
    set("XDG_CONFIG_HOME", saved[0] ? saved[0]->c_str() : nullptr);
    set("HOME", saved[1] ? saved[1]->c_str() : nullptr);
}

}  // namespace
}  // namespace platform::qt
