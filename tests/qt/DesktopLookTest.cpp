// The overlays' look kept for the next start: read back as written, and anything else in its
// file read as no look at all, so that a damaged file shows nothing rather than a wrong colour.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/qt/QtEarlyDesktop.h"

namespace platform::qt {
namespace {

TEST(DesktopLookTest, ReadsBackWhatWasKeptAndNothingFromAnyOtherFile) {
    std::string dir = (std::filesystem::temp_directory_path() / "vellumor-look-XXXXXX").string();
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    const std::filesystem::path file = std::filesystem::path(dir) / "desktop-look";
    const auto readText = [&](const std::string& text) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
        return readDesktopLook(file);
    };

    const DesktopLook grey{0x1a1a1a, 0xff0000, 0xff00, 0xff};
    EXPECT_EQ(desktopLookText(grey), "001a1a1a 00ff0000 0000ff00 000000ff\n");
    EXPECT_EQ(readText(desktopLookText(grey)), grey);
    // Depth 30: ten bits a channel.
    const DesktopLook deep{0x3fffffff, 0x3ff00000, 0xffc00, 0x3ff};
    EXPECT_EQ(readText(desktopLookText(deep)), deep);

    EXPECT_FALSE(readDesktopLook(std::filesystem::path(dir) / "missing"));
    for (const std::string& damaged : {
             std::string(),
             std::string("001a1a1a 00ff0000 0000ff00"),                   // cut short
             std::string("001a1a1a 00ff0000 0000ff00 000000ff"),          // no line end
             std::string("001a1a1a 00ff0000 0000ff00 000000ff\nmore\n"),  // more after it
             std::string("1a1a1a ff0000 ff00 ff\n"),                      // another spelling
             std::string("001a1a1g 00ff0000 0000ff00 000000ff\n"),        // not hexadecimal
             std::string("001a1a1a 00000000 0000ff00 000000ff\n"),        // a channel missing
             std::string("001a1a1a 00ffff00 0000ff00 000000ff\n"),        // channels overlap
             std::string("ff1a1a1a 00ff0000 0000ff00 000000ff\n"),        // bits in no channel
             std::string(4096, '0'),
         }) {
        EXPECT_FALSE(readText(damaged)) << damaged;
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace platform::qt
