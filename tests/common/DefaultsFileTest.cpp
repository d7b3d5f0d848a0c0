// What the defaults file keeps across writes, what may stand in its place, where it may be
// written, what is told when it cannot be, and when a write reaches stable storage: not while
// the program waits for it, but once per burst, when the domain is closed, and before the
// process ends.

#include "platform/common/DefaultsFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <plist/plist.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <limits>

#include "tests/common/StoreFiles.h"
#include "tests/support/ForkedChild.h"
#include "tests/support/FsyncProbe.h"

namespace {

using platform::Data;
using platform::Date;
using platform::PropertyValue;
using platform::common::DefaultsFile;
using namespace test;
using namespace std::chrono_literals;

constexpr uid_t kNobody = 65534;
const std::string kName = "org.vellumor.Vellumor.plist";

std::size_t linesIn(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// The XML text of the item under `key` in the property list `bytes`.
std::string xmlOfItem(const Data& bytes, const char* key) {
    plist_t root = nullptr;
    plist_from_memory(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<std::uint32_t>(bytes.size()), &root);
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(plist_dict_get_item(root, key), &xml, &length);
    std::string text(xml != nullptr ? xml : "", length);
    plist_to_xml_free(xml);
    plist_free(root);
    return text;
}

// What a reader must leave as it is: the type, size and time of change of `path` itself, and
// the bytes of a regular file when they are few.
std::string snapshot(const fs::path& path) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    const Data bytes = S_ISREG(status.st_mode) && status.st_size < 4096 ? readFile(path) : Data{};
    return std::to_string(status.st_mode) + " " + std::to_string(status.st_size) + " " +
           std::to_string(status.st_mtim.tv_nsec) + std::string(bytes.begin(), bytes.end());
}

using DefaultsFileTest = ScratchTest;

TEST_F(DefaultsFileTest, EveryKindOfValueAndEveryOtherKeySurviveWritesToAPrivateBinaryFile) {
    // An XML domain, as another writer may leave it, with containers the program never reads.
    const std::string mixed =
        "<plist><dict><key>name</key><string>kept</string><key>list</key><array><integer>2"
        "</integer><dict><key>in</key><array/></dict></array></dict></plist>";
    const fs::path file = dir_ / kName;
    writeFile(file, mixed);
    // Each stored under its index; the second date is before 2001.
    const std::string text = "h\xC3\xA9llo";
    const Data bytes = {0, 1, 0xFF, 0};
    const Date date(1700000000s + 250ms), early(978307100s - 750ms);
    const std::int64_t least = std::numeric_limits<std::int64_t>::min(), most = -(least + 1);
    const std::vector<PropertyValue> values = {text,  least, most,   0.1,  true,
                                               false, bytes, Data(), date, early};
    {
        DefaultsFile defaults(file);
        EXPECT_EQ(defaults.objectForKey("name"), PropertyValue(std::string("kept")));
        EXPECT_FALSE(defaults.objectForKey("list").has_value()) << "not a scalar";
        for (std::size_t i = 0; i < values.size(); ++i) {
            ASSERT_TRUE(defaults.setObject(values[i], std::to_string(i))) << i;
        }
    }
    const DefaultsFile reopened(file);
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(reopened.objectForKey(std::to_string(i)), values[i]) << i;
    }
    EXPECT_EQ(reopened.objectForKey("name"), PropertyValue(std::string("kept")));
    const Data written = readFile(file);
    EXPECT_TRUE(std::string(written.begin(), written.end()).starts_with("bplist00"));
    EXPECT_EQ(xmlOfItem(written, "list"), xmlOfItem(Data(mixed.begin(), mixed.end()), "list"));
    EXPECT_EQ(fs::status(file).permissions(), fs::perms(0600));
    EXPECT_EQ(entries(dir_), std::set{kName});

    // Missing directories are made, private to the user.
    const fs::path nested = dir_ / "Library" / "Preferences" / kName;
    ASSERT_TRUE(DefaultsFile(nested).setObject(true, "k"));
    EXPECT_EQ(fs::status(nested.parent_path()).permissions(), fs::perms(0700));
    EXPECT_EQ(fs::status(dir_ / "Library").permissions(), fs::perms(0700));

    // Text a property list cannot hold is refused, not stored changed.
    DefaultsFile defaults(file);
    EXPECT_FALSE(defaults.setObject(std::string("a\0b", 3), "0"));
    EXPECT_FALSE(defaults.setObject(std::string("bad \xFF utf8"), "0"));
    EXPECT_FALSE(defaults.setObject(std::int64_t{1}, std::string("\xC3", 1)));
    EXPECT_FALSE(defaults.needsSync());
    EXPECT_EQ(DefaultsFile(file).objectForKey("0"), values[0]);
}

// Whatever stands in place of the file reads as an empty domain (a link: as what it points
// to) and is left as it was; a write replaces the name, never what a link points to, and
// never a directory. Malformed and deeply nested files are among the replayed inputs.
TEST_F(DefaultsFileTest, WhatStandsInPlaceOfTheFileIsReadUntouchedAndOnlyTheNameReplaced) {
    const fs::path file = dir_ / kName;
    const fs::path elsewhere = dir_ / "elsewhere.plist";
    const std::string domain = "<plist><dict><key>name</key><string>kept</string></dict></plist>";
    const std::optional<PropertyValue> kept = PropertyValue(std::string("kept"));
    const auto withDomain = [&] {
        writeFile(file, domain);
        return file;
    };
    const std::vector<std::tuple<const char*, std::function<void()>, std::optional<PropertyValue>>>
        cases = {
            {"a directory", [&] { fs::create_directories(file / "inside"); }, std::nullopt},
            {"a link elsewhere", [&] { fs::create_symlink(elsewhere, file); }, kept},
            {"a FIFO", [&] { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); }, std::nullopt},
            {"a link to /dev/zero", [&] { fs::create_symlink("/dev/zero", file); }, std::nullopt},
            {"a 64 MiB file", [&] { fs::resize_file(withDomain(), 64 << 20); }, std::nullopt},
            // Unreadable to its owner; root reads it all the same, as it may.
            {"mode 000", [&] { fs::permissions(withDomain(), fs::perms::none); },
             ::geteuid() == 0 ? kept : std::nullopt},
        };
    for (const auto& [name, make, reads] : cases) {
        SCOPED_TRACE(name);
        fs::remove_all(file);
        writeFile(elsewhere, domain);
        make();
        const std::string before = snapshot(file);
        const std::string beforeElsewhere = snapshot(elsewhere);
        DefaultsFile defaults(file);
        EXPECT_EQ(defaults.objectForKey("name"), reads);
        EXPECT_EQ(snapshot(file), before) << "reading changed it";
        const bool directory = fs::is_directory(fs::symlink_status(file));
        testing::internal::CaptureStderr();
        EXPECT_EQ(defaults.setObject(true, "picked"), !directory);
        EXPECT_EQ(linesIn(testing::internal::GetCapturedStderr()), directory ? 1u : 0u);
        EXPECT_EQ(snapshot(elsewhere), beforeElsewhere);
        EXPECT_EQ(fs::is_regular_file(fs::symlink_status(file)), !directory);
        EXPECT_EQ(DefaultsFile(file).objectForKey("picked").has_value(), !directory);
    }
}

// A directory another user could change is never written, nor one the file cannot be made
// in: the value stays in memory, and stderr names the file and each reason once.
TEST_F(DefaultsFileTest, AWriteOnlyWhereTheUserAloneWritesAndEachReasonAgainstItToldOnce) {
    const fs::path parent = dir_ / "tmp";
    const fs::path home = parent / "vellumor";
    const fs::path file = home / kName;
    const auto mine = [&](fs::perms added) {
        fs::create_directory(home, dir_);
        fs::permissions(home, added, fs::perm_options::add);
    };
    const auto mineIn = [&](const fs::path& theirs) {
        mine(fs::perms::none);
        EXPECT_EQ(::chown(theirs.c_str(), kNobody, kNobody), 0);
    };
    const std::vector<std::tuple<bool, std::function<void()>, std::string>> cases = {
        {false, [&] { fs::create_symlink(dir_, home); }, home.string() + " is a symbolic link"},
        {false, [&] { mine(fs::perms::group_write); },
         home.string() + " can be written by other users"},
        {false, [&] { writeFile(home, kName); },
         "cannot open " + home.string() + ": Not a directory"},
        // Only root can give a directory to another user.
        {true, [&] { mineIn(home); }, home.string() + " belongs to another user"},
        // A shared temporary directory made first by someone else, with one of ours inside.
        {true, [&] { mineIn(parent); }, parent.string() + " belongs to another user"},
    };
    testing::internal::CaptureStderr();
    DefaultsFile defaults(file);
    std::vector<std::string> reasons;
    std::int64_t value = 0;
    for (const auto& [needsRoot, make, reason] : cases) {
        SCOPED_TRACE(reason);
        if (needsRoot && ::geteuid() != 0) {
            continue;
        }
        fs::remove_all(parent);
        fs::create_directory(parent, dir_);
        make();
        const std::string before = snapshot(dir_) + snapshot(home);
        EXPECT_FALSE(defaults.setObject(++value, "k"));
        EXPECT_FALSE(defaults.setObject(++value, "k"));
        EXPECT_EQ(defaults.objectForKey("k"), PropertyValue(value));
        EXPECT_EQ(snapshot(dir_) + snapshot(home), before);
        reasons.push_back(reason);
    }
    fs::remove_all(parent);
    EXPECT_TRUE(defaults.setObject(++value, "k"));
    const std::string told = testing::internal::GetCapturedStderr();
    EXPECT_EQ(linesIn(told), reasons.size()) << told;
    std::size_t at = 0;
    for (const std::string& reason : reasons) {
        at = told.find("vellumor: cannot save to " + file.string() + ": " + reason, at);
        EXPECT_NE(at, std::string::npos) << reason << " not told in order in " << told;
    }
    EXPECT_EQ(DefaultsFile(file).objectForKey("k"), PropertyValue(value));
}

// A file-size limit stands in for a full disk; going past it raises SIGXFSZ, whose default
// action would end the process.
TEST_F(DefaultsFileTest, AFullDiskFailsTheWriteButNotTheProcessAndKeepsTheOldFile) {
    const fs::path file = dir_ / kName;
    ASSERT_TRUE(DefaultsFile(file).setObject(std::string("old"), "k"));
    const Data before = readFile(file);
    Child child([&](const Child& self) {
        const rlimit tiny{16, 16};
        if (::dup2(self.fd, STDERR_FILENO) < 0 || ::setrlimit(RLIMIT_FSIZE, &tiny) != 0) {
            return 3;
        }
        return DefaultsFile(file).setObject(std::string("new"), "k") ? 1 : 0;
    });
    const Data stderrBytes = readFile("/dev/fd/" + std::to_string(child.fd));
    const std::string told(stderrBytes.begin(), stderrBytes.end());
    EXPECT_EQ(child.wait(), 0);
    EXPECT_EQ(linesIn(told), 1u) << told;
    EXPECT_NE(told.find(std::strerror(EFBIG)), std::string::npos) << told;
    EXPECT_EQ(readFile(file), before);
    EXPECT_EQ(entries(dir_), std::set{kName});
}

// A write sweeps the temporary files of writers killed before their rename, and nothing else:
// not a temporary file of a writer still writing, which holds the directory's lock.
TEST_F(DefaultsFileTest, AWriteSweepsTheTemporariesOfDeadWritersAndNothingElse) {
    const std::string temporary = "." + kName + ".";
    for (const char* suffix : {"Ab3xZ9", "short", "Ab3xZ9.bak", "a-b_c!", "THEIRS"}) {
        writeFile(dir_ / (temporary + suffix), kName);
    }
    fs::create_symlink(dir_ / kName, dir_ / (temporary + "LINK00"));
    fs::create_directory(dir_ / (temporary + "DIR000"));
    const bool root = ::geteuid() == 0;
    if (!root || ::chown((dir_ / (temporary + "THEIRS")).c_str(), kNobody, kNobody) != 0) {
        fs::remove(dir_ / (temporary + "THEIRS"));
    }
    std::set<std::string> kept = entries(dir_);
    kept.erase(temporary + "Ab3xZ9");
    kept.insert(kName);

    const int other = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(other, LOCK_SH), 0);
    DefaultsFile defaults(dir_ / kName);
    ASSERT_TRUE(defaults.setObject(std::int64_t{1}, "k"));
    EXPECT_TRUE(fs::exists(dir_ / (temporary + "Ab3xZ9"))) << "swept under another's lock";
    ::close(other);
    ASSERT_TRUE(defaults.setObject(std::int64_t{2}, "k"));
    EXPECT_EQ(entries(dir_), kept);
}

volatile sig_atomic_t handled = 0;
void noteHandled(int) {
    handled = 1;
}

// A write is not synced while the program waits for it, but when asked (once for any number
// of writes) and at the end. With a write still to sync, an exit (which destroys nothing on
// the stack it is called from, as Qt calls it when the X server goes) and a termination signal
// with its default action sync it first, then end the process as they would have. A signal the
// program ignores or handles itself is left to it; the domain, closed, syncs then. A reader
// has nothing to sync.
TEST_F(DefaultsFileTest, TheEndOfTheProcessSyncsFirstUnlessItTakesTheSignalItself) {
    const fs::path file = dir_ / kName;
    // What ends the process: exit(3), or the signal after the program's own handler is replaced
    // (SIG_DFL: it is not); and the wait status that ending gives.
    const std::vector<std::tuple<const char*, int, sighandler_t, int>> ends = {
        {"exit", 0, SIG_DFL, 3 << 8},
        {"SIGTERM", SIGTERM, SIG_DFL, SIGTERM},
        {"SIGINT", SIGINT, SIG_DFL, SIGINT},
        {"SIGHUP", SIGHUP, SIG_DFL, SIGHUP},
        {"SIGTERM ignored", SIGTERM, SIG_IGN, 0},
        {"SIGTERM handled", SIGTERM, noteHandled, 0},
    };
    for (const auto& [name, raised, handler, endsWith] : ends) {
        SCOPED_TRACE(name);
        const std::size_t mark = fsyncCount();
        Child child([&](const Child&) {
            {
                DefaultsFile defaults(file);
                defaults.setObject(std::string("first"), "k");
                defaults.setObject(std::string("second"), "k");
                defaults.sync();
                defaults.sync();
                defaults.setObject(std::string(name), "k");
                { const DefaultsFile reader(file); }
                if (raised == 0) {
                    std::exit(3);
                }
                if (handler != SIG_DFL) {
                    ::signal(raised, handler);
                }
                ::raise(raised);
            }
            return handled == (handler == noteHandled) ? 0 : 1;
        });
        EXPECT_EQ(child.wait(), endsWith);
        EXPECT_EQ(fsyncsSince(mark).size(), 4u);
        EXPECT_EQ(fsyncsSince(mark + 2), syncOf(file));
        EXPECT_EQ(DefaultsFile(file).objectForKey("k"), PropertyValue(std::string(name)));
    }
}

}  // namespace
