#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>

#include "main/ColorManager.h"
#include "platform/common/KeyedArchive.h"
#include "tests/reliability/ReliabilitySupport.h"

namespace vellumor::testing {
namespace {

namespace fs = std::filesystem;
using platform::Color;

void writeBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string randomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random() & 0xFFU);
    }
    return bytes;
}

// Type, size, time of last change, link target and leading bytes of every entry under
// `root`, without following links: equal before and after means nothing was touched.
std::string snapshot(const fs::path& root) {
    std::vector<std::string> lines;
    std::error_code error;
    std::vector<fs::path> entries{root};
    for (auto it = fs::recursive_directory_iterator(root, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        entries.push_back(it->path());
    }
    for (const auto& path : entries) {
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0) {
            continue;
        }
        std::ostringstream line;
        line << path.string() << " mode=" << std::oct << status.st_mode << std::dec
             << " size=" << status.st_size << " mtime=" << status.st_mtim.tv_sec << "."
             << status.st_mtim.tv_nsec;
        if (S_ISLNK(status.st_mode)) {
            line << " -> " << fs::read_symlink(path, error).string();
        } else if (S_ISREG(status.st_mode)) {
            std::ifstream in(path, std::ios::binary);
            std::string head(4096, '\0');
            in.read(head.data(), static_cast<std::streamsize>(head.size()));
            head.resize(static_cast<std::size_t>(in.gcount()));
            line << " head=" << std::hash<std::string>{}(head);
        }
        lines.push_back(line.str());
    }
    std::sort(lines.begin(), lines.end());
    std::string all;
    for (const auto& line : lines) {
        all += line + "\n";
    }
    return all;
}

// A defaults domain, as XML, whose colour entry holds `value` (already XML).
std::string domainWithColorEntry(const std::string& value) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
           "<key>selectedBackgroundColor</key>\n" +
           value + "\n</dict>\n</plist>\n";
}

std::string base64(const platform::Data& data) {
    static const char* const kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < data.size(); i += 3) {
        std::uint32_t chunk = std::uint32_t{data[i]} << 16;
        if (i + 1 < data.size()) {
            chunk |= std::uint32_t{data[i + 1]} << 8;
        }
        if (i + 2 < data.size()) {
            chunk |= data[i + 2];
        }
        for (std::size_t k = 0; k < 4; ++k) {
            out += k <= data.size() - i ? kAlphabet[(chunk >> (18 - 6 * k)) & 0x3FU] : '=';
        }
    }
    return out;
}

struct Hostile {
    std::string name;
    // Puts the thing in place of `file`; `elsewhere` is a directory beside the defaults one.
    std::function<void(const fs::path& file, const fs::path& elsewhere)> make;
};

class HostileDefaultsFileTest : public ReliabilityTest {
protected:
    void SetUp() override {
        elsewhere_ = defaultsDirectory().string() + "-elsewhere";
        fs::remove_all(elsewhere_);
        fs::create_directories(elsewhere_);
    }
    void TearDown() override { fs::remove_all(elsewhere_); }

    fs::path elsewhere_;
};

TEST_F(HostileDefaultsFileTest, WhateverStandsInPlaceOfTheFileReadsAsTheDefaultUntouched) {
    const auto valid = platform::common::archiveColor(Color::colorWithDeviceRed(1, 0, 0, 1));
    ASSERT_TRUE(valid.has_value());
    const std::string validDomain = domainWithColorEntry("<data>" + base64(*valid) + "</data>");
    const std::vector<Hostile> cases = {
        {"a directory",
         [](const fs::path& file, const fs::path&) {
             fs::create_directory(file);
             writeBytes(file / "inside", "kept");
         }},
        {"a symbolic link to garbage elsewhere",
         [](const fs::path& file, const fs::path& elsewhere) {
             writeBytes(elsewhere / "garbage", randomBytes(3000, 1));
             fs::create_symlink(elsewhere / "garbage", file);
         }},
        {"a dangling symbolic link",
         [](const fs::path& file, const fs::path& elsewhere) {
             fs::create_symlink(elsewhere / "missing", file);
         }},
        {"a symbolic link to an endless device",
         [](const fs::path& file, const fs::path&) { fs::create_symlink("/dev/zero", file); }},
        {"a symbolic link to a pipe nobody writes",
         [](const fs::path& file, const fs::path& elsewhere) {
             ASSERT_EQ(::mkfifo((elsewhere / "fifo").c_str(), 0600), 0);
             fs::create_symlink(elsewhere / "fifo", file);
         }},
        {"a huge file",
         [](const fs::path& file, const fs::path&) {
             writeBytes(file, "");
             fs::resize_file(file, std::uintmax_t{1} << 30);
         }},
        {"a colour domain padded beyond any defaults file",
         [&validDomain](const fs::path& file, const fs::path&) {
             writeBytes(file, validDomain + std::string(5 << 20, ' '));
         }},
        {"garbage",
         [](const fs::path& file, const fs::path&) { writeBytes(file, randomBytes(5000, 2)); }},
        {"a colour domain cut short",
         [&validDomain](const fs::path& file, const fs::path&) {
             writeBytes(file, validDomain.substr(0, validDomain.size() / 2));
         }},
        {"a list instead of a dictionary",
         [](const fs::path& file, const fs::path&) {
             writeBytes(file, "<plist version=\"1.0\"><array><string>x</string></array></plist>");
         }},
        {"text under the colour key",
         [](const fs::path& file, const fs::path&) {
             writeBytes(file, domainWithColorEntry("<string>red</string>"));
         }},
        {"an archive that is not a colour",
         [](const fs::path& file, const fs::path&) {
             writeBytes(file,
                        domainWithColorEntry("<data>" + base64(platform::Data(40, 7)) + "</data>"));
         }},
    };

    for (const auto& hostile : cases) {
        SCOPED_TRACE(hostile.name);
        fs::remove_all(defaultsDirectory());
        fs::create_directories(defaultsDirectory());
        fs::remove_all(elsewhere_);
        fs::create_directories(elsewhere_);
        hostile.make(domainFile(), elsewhere_);
        const std::string before = snapshot(defaultsDirectory());
        const std::string beforeElsewhere = snapshot(elsewhere_);

        auto& desktop = launch({kPrimary, {-1280.0, 0.0, 1280.0, 1024.0}});
        EXPECT_EQ(ColorManager::shared().currentColor(), defaultGrey());
        EXPECT_EQ(overlayColours(), (std::vector<Color>{defaultGrey(), defaultGrey()}));
        desktop.chooseStatusMenuEntry("Pick Color...");
        EXPECT_EQ(desktop.colorPanelShownColor(), defaultGrey());
        desktop.attachScreen({0.0, 1080.0, 1920.0, 1080.0});
        EXPECT_EQ(overlayColours().size(), 3u);
        EXPECT_EQ(snapshot(defaultsDirectory()), before) << "reading changed the file system";
        EXPECT_EQ(snapshot(elsewhere_), beforeElsewhere) << "reading changed the file system";

        // A pick is shown whether or not it can replace the thing; what a link points to
        // is never written.
        const Color picked = Color::colorWithCalibratedRed(0.3, 0.6, 0.9, 0.8);
        desktop.pickColorInPanel(picked);
        EXPECT_EQ(ColorManager::shared().currentColor(), picked);
        EXPECT_EQ(overlayColours(), (std::vector<Color>(3, picked)));
        EXPECT_EQ(snapshot(elsewhere_), beforeElsewhere) << "a pick wrote through a link";
    }
}

}  // namespace
}  // namespace vellumor::testing
