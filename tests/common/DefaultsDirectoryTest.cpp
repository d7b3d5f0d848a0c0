// Where the defaults file may be written, what a write leaves beside it, and what is said when
// it cannot be written.

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>
#include <algorithm>
#include <fstream>
#include <functional>

#include "platform/common/DefaultsFile.h"
#include "tests/common/ScratchDirectory.h"

namespace {

namespace fs = std::filesystem;
using platform::PropertyValue;
using platform::common::DefaultsFile;
using test::entries;

constexpr uid_t kOtherUser = 65534;  // nobody

void touch(const fs::path& file) {
    std::ofstream(file) << "left";
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        out.push_back(text.substr(start, end - start));
    }
    return out;
}

class DefaultsDirectoryTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = test::makeScratchDirectory("defaults-dir");
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path dir_;
};

TEST_F(DefaultsDirectoryTest, AWriteRemovesTheTemporariesOfKilledWritersAndNothingElse) {
    const fs::path file = dir_ / "org.vellumor.Vellumor.plist";
    const std::string temporary = ".org.vellumor.Vellumor.plist.";
    touch(dir_ / (temporary + "Ab3xZ9"));
    touch(dir_ / (temporary + "QQQQQQ"));
    // Not this program's temporaries, or not files it may remove.
    touch(dir_ / (temporary + "short"));
    touch(dir_ / (temporary + "Ab3xZ9.bak"));
    touch(dir_ / (temporary + "a-b_c!"));
    touch(dir_ / ".other.plist.Ab3xZ9");
    touch(dir_ / "elsewhere");
    fs::create_symlink(dir_ / "elsewhere", dir_ / (temporary + "LINK00"));
    fs::create_directory(dir_ / (temporary + "DIR000"));
    std::vector<std::string> kept = {".org.vellumor.Vellumor.plist.DIR000",
                                     ".org.vellumor.Vellumor.plist.LINK00",
                                     ".org.vellumor.Vellumor.plist.Ab3xZ9.bak",
                                     ".org.vellumor.Vellumor.plist.a-b_c!",
                                     ".org.vellumor.Vellumor.plist.short",
                                     ".other.plist.Ab3xZ9",
                                     "elsewhere",
                                     "org.vellumor.Vellumor.plist"};
    if (::geteuid() == 0) {
        touch(dir_ / (temporary + "THEIRS"));
        ASSERT_EQ(::chown((dir_ / (temporary + "THEIRS")).c_str(), kOtherUser, kOtherUser), 0);
        kept.push_back(".org.vellumor.Vellumor.plist.THEIRS");
    }
    std::sort(kept.begin(), kept.end());

    DefaultsFile defaults(file);
    ASSERT_TRUE(defaults.setObject(std::int64_t{1}, "k"));
    EXPECT_EQ(entries(dir_), kept);
    EXPECT_TRUE(fs::is_regular_file(dir_ / "elsewhere"));
}

TEST_F(DefaultsDirectoryTest, ATemporaryOfAWriterStillWritingIsLeftAlone) {
    const fs::path file = dir_ / "org.vellumor.Vellumor.plist";
    const fs::path inFlight = dir_ / ".org.vellumor.Vellumor.plist.Writes";
    touch(inFlight);
    // Another writer in the middle of its write holds the directory's lock, shared.
    const int other = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_SH), 0);
    DefaultsFile defaults(file);
    ASSERT_TRUE(defaults.setObject(std::int64_t{1}, "k"));
    EXPECT_TRUE(fs::exists(inFlight));
    ::close(other);
    ASSERT_TRUE(defaults.setObject(std::int64_t{2}, "k"));
    EXPECT_FALSE(fs::exists(inFlight));
}

// A write still to be synced keeps its directory open, but not locked: other writers go on
// writing and sweeping meanwhile.
TEST_F(DefaultsDirectoryTest, AWriteWaitingForItsSyncLeavesTheDirectoryUnlocked) {
    DefaultsFile defaults(dir_ / "org.vellumor.Vellumor.plist");
    ASSERT_TRUE(defaults.setObject(std::int64_t{1}, "k"));
    ASSERT_TRUE(defaults.needsSync());
    const int other = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0) << "another writer would wait";
    ::close(other);
}

// A directory another user could change is never written: the value stays in memory and
// one line on stderr names the file and why, once however often it fails for that reason.
TEST_F(DefaultsDirectoryTest, ADirectoryThatIsNotTheUsersAloneIsNeverWritten) {
    const fs::path theirs = dir_ / "theirs";
    struct Case {
        const char* name;
        bool needsRoot;
        std::function<void(const fs::path&)> make;  // given the directory the file goes in
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"a link to their directory", false,
         [&](const fs::path& home) { fs::create_symlink(theirs, home); }, "is a symbolic link"},
        {"writable by the group", false,
         [&](const fs::path& home) {
             fs::create_directory(home);
             fs::permissions(home, fs::perms::owner_all | fs::perms::group_all);
         },
         "can be written by other users"},
        {"owned by another user", true,
         [&](const fs::path& home) {
             fs::create_directory(home);
             ASSERT_EQ(::chown(home.c_str(), kOtherUser, kOtherUser), 0);
             fs::permissions(home, fs::perms::owner_all);
         },
         "belongs to another user"},
        // The fallback under a shared temporary directory, made first by someone else, open to
        // all, with a directory of ours inside.
        {"inside a directory another user made", true,
         [&](const fs::path& home) {
             ASSERT_EQ(::chown(home.parent_path().c_str(), kOtherUser, kOtherUser), 0);
             fs::permissions(home.parent_path(), fs::perms::all);
             fs::create_directory(home);
             fs::permissions(home, fs::perms::owner_all);
         },
         "belongs to another user"},
    };
    for (const auto& [name, needsRoot, make, reason] : cases) {
        SCOPED_TRACE(name);
        if (needsRoot && ::geteuid() != 0) {
            continue;  // only root can give a directory to another user
        }
        fs::remove_all(dir_ / "tmp");
        fs::remove_all(theirs);
        fs::create_directories(dir_ / "tmp");
        fs::create_directory(theirs);
        const fs::path home = dir_ / "tmp" / "vellumor";
        make(home);
        const fs::path file = home / "org.vellumor.Vellumor.plist";

        testing::internal::CaptureStderr();
        DefaultsFile defaults(file);
        EXPECT_FALSE(defaults.setObject(std::int64_t{1}, "k"));
        EXPECT_FALSE(defaults.setObject(std::int64_t{2}, "k"));
        const auto told = lines(testing::internal::GetCapturedStderr());
        EXPECT_EQ(defaults.objectForKey("k"), PropertyValue(std::int64_t{2}));
        EXPECT_TRUE(entries(theirs).empty());
        if (fs::is_directory(home) && !fs::is_symlink(home)) {
            EXPECT_TRUE(entries(home).empty());
        }
        ASSERT_EQ(told.size(), 1u);
        EXPECT_NE(told[0].find(file.string()), std::string::npos) << told[0];
        EXPECT_NE(told[0].find(reason), std::string::npos) << told[0];
    }
}

TEST_F(DefaultsDirectoryTest, EachReasonForAFailedSaveIsToldOnceAndASaveThatWorksSaysNothing) {
    const fs::path file = dir_ / "plain" / "org.vellumor.Vellumor.plist";
    touch(dir_ / "plain");
    testing::internal::CaptureStderr();
    DefaultsFile defaults(file);
    EXPECT_FALSE(defaults.setObject(std::int64_t{1}, "k"));
    EXPECT_FALSE(defaults.setObject(std::int64_t{2}, "k"));
    fs::remove(dir_ / "plain");
    fs::create_directory(dir_ / "plain");
    fs::permissions(dir_ / "plain", fs::perms::owner_all | fs::perms::others_write);
    EXPECT_FALSE(defaults.setObject(std::int64_t{3}, "k"));
    fs::permissions(dir_ / "plain", fs::perms::owner_all);
    EXPECT_TRUE(defaults.setObject(std::int64_t{4}, "k"));
    const auto told = lines(testing::internal::GetCapturedStderr());
    ASSERT_EQ(told.size(), 2u);
    EXPECT_NE(told[0].find("Not a directory"), std::string::npos) << told[0];
    EXPECT_NE(told[1].find("can be written by other users"), std::string::npos) << told[1];
    for (const auto& line : told) {
        EXPECT_TRUE(line.starts_with("vellumor: cannot save to " + file.string() + ": ")) << line;
    }
    EXPECT_EQ(DefaultsFile(file).objectForKey("k"), PropertyValue(std::int64_t{4}));
}

}  // namespace
