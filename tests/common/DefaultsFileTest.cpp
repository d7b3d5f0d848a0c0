#include "platform/common/DefaultsFile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>

#include "PlistBuilders.h"

namespace {

namespace fs = std::filesystem;
using platform::Data;
using platform::Date;
using platform::PropertyValue;
using platform::common::DefaultsFile;
using namespace test;

Data readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return Data(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& file, const Data& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
}

std::vector<std::string> entries(const fs::path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class DefaultsFileTest : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::path(testing::TempDir()) / "defaults-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        file_ = dir_ / "com.example.vellumor.plist";
    }
    void TearDown() override {
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir_);
    }

    // A domain file holding a value of every kind, containers included.
    void writeMixedDomain() {
        const Plist domain(dict({{"name", str("kept")},
                                 {"count", integer(-42)},
                                 {"nested", dict({{"inner", array({str("a"), integer(2)})}})},
                                 {"list", array({dict({}), plist_new_bool(1)})}}));
        writeFile(file_, toBinary(domain.get()));
    }

    fs::path dir_;
    fs::path file_;
};

TEST_F(DefaultsFileTest, EveryScalarKindSurvivesAWriteAndAReopen) {
    const auto sometime = Date(std::chrono::seconds(1700000000)) + std::chrono::milliseconds(250);
    const auto before2001 = Date(std::chrono::seconds(978307100)) - std::chrono::milliseconds(750);
    const std::vector<std::pair<std::string, PropertyValue>> values = {
        {"text", std::string("h\xC3\xA9llo")},
        {"small", std::int64_t{-7}},
        {"min", std::numeric_limits<std::int64_t>::min()},
        {"max", std::numeric_limits<std::int64_t>::max()},
        {"real", 0.1},
        {"flag", true},
        {"off", false},
        {"data", Data{0, 1, 0xFF, 0}},
        {"empty", Data{}},
        {"when", sometime},
        {"before2001", before2001},
    };
    {
        DefaultsFile defaults(file_);
        for (const auto& [key, value] : values) {
            ASSERT_TRUE(defaults.setObject(value, key)) << key;
            EXPECT_EQ(defaults.objectForKey(key), value) << key;
        }
    }
    const DefaultsFile reopened(file_);
    for (const auto& [key, value] : values) {
        EXPECT_EQ(reopened.objectForKey(key), value) << key;
    }
    EXPECT_EQ(reopened.dataForKey("data"), (Data{0, 1, 0xFF, 0}));
    EXPECT_FALSE(reopened.dataForKey("text").has_value());
    EXPECT_FALSE(reopened.objectForKey("absent").has_value());
}

TEST_F(DefaultsFileTest, WritesAPrivateBinaryFileKeepingOtherKeys) {
    writeMixedDomain();
    const Plist original = parse(readFile(file_));
    DefaultsFile defaults(file_);
    EXPECT_FALSE(defaults.objectForKey("nested").has_value());  // containers are not scalars
    EXPECT_EQ(defaults.objectForKey("count"), PropertyValue(std::int64_t{-42}));
    ASSERT_TRUE(defaults.setObject(std::string("first"), "color"));
    ASSERT_TRUE(defaults.setObject(std::string("second"), "color"));

    const Data written = readFile(file_);
    ASSERT_GE(written.size(), 8u);
    EXPECT_EQ(std::string(written.begin(), written.begin() + 8), "bplist00");
    const Plist domain = parse(written);
    ASSERT_TRUE(domain);
    EXPECT_EQ(plist_dict_get_size(domain.get()), 5u);
    for (const char* key : {"name", "count", "nested", "list"}) {
        EXPECT_EQ(toXml(plist_dict_get_item(domain.get(), key)),
                  toXml(plist_dict_get_item(original.get(), key)))
            << key;
    }
    EXPECT_EQ(stringValue(plist_dict_get_item(domain.get(), "color")), "second");

    struct stat status {};
    ASSERT_EQ(::stat(file_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(entries(dir_), std::vector<std::string>{file_.filename().string()});
}

TEST_F(DefaultsFileTest, CreatesMissingPrivateDirectories) {
    const fs::path nested = dir_ / "Library" / "Preferences" / "domain.plist";
    DefaultsFile defaults(nested);
    ASSERT_TRUE(defaults.setObject(std::int64_t{1}, "k"));
    struct stat status {};
    ASSERT_EQ(::stat(nested.parent_path().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    EXPECT_EQ(DefaultsFile(nested).objectForKey("k"), PropertyValue(std::int64_t{1}));
}

TEST_F(DefaultsFileTest, UnusableFilesReadEmptyAndStayUntouched) {
    Data oversized = toBinary(
        Plist(dict({{"big", bytes(std::string(4200 * 1024, 'x'))}, {"k", str("v")}})).get());
    const std::vector<Data> contents = {
        Data{'n', 'o', 't', ' ', 'a', ' ', 'p', 'l', 'i', 's', 't'},
        Data{'b', 'p', 'l', 'i', 's', 't', '0', '0', 1, 2, 3}, oversized,
        toBinary(Plist(array({str("k")})).get()),  // not a dictionary
    };
    for (const Data& content : contents) {
        writeFile(file_, content);
        const DefaultsFile defaults(file_);
        EXPECT_FALSE(defaults.objectForKey("k").has_value());
        EXPECT_EQ(readFile(file_), content);
    }
    // A write replaces the unusable file with a domain of its own.
    ASSERT_TRUE(DefaultsFile(file_).setObject(std::string("w"), "k"));
    EXPECT_EQ(DefaultsFile(file_).objectForKey("k"), PropertyValue(std::string("w")));
}

TEST_F(DefaultsFileTest, ReadsAnXmlDomain) {
    const std::string xml = toXml(Plist(dict({{"k", str("v")}})).get());
    writeFile(file_, Data(xml.begin(), xml.end()));
    EXPECT_EQ(DefaultsFile(file_).objectForKey("k"), PropertyValue(std::string("v")));
}

TEST_F(DefaultsFileTest, RefusesTextAPropertyListCannotHold) {
    DefaultsFile defaults(file_);
    EXPECT_FALSE(defaults.setObject(std::string("a\0b", 3), "k"));
    EXPECT_FALSE(defaults.setObject(std::string("bad \xFF utf8"), "k"));
    EXPECT_FALSE(defaults.setObject(std::int64_t{1}, std::string("\xC3", 1)));
    EXPECT_FALSE(defaults.objectForKey("k").has_value());
    EXPECT_FALSE(fs::exists(file_));
}

// A failed write keeps the new value in memory, the old file as it was and no temporary file
// behind. `attempt` makes the file system refuse the write, then tries it.
void expectFailedWriteKeepsOldFile(const fs::path& file,
                                   const std::function<bool(DefaultsFile&)>& attempt) {
    DefaultsFile defaults(file);
    ASSERT_TRUE(defaults.setObject(std::string("old"), "k"));
    const Data old = readFile(file);
    EXPECT_FALSE(attempt(defaults));
    EXPECT_EQ(defaults.objectForKey("k"), PropertyValue(std::string("new")));
    EXPECT_EQ(readFile(file), old);
    EXPECT_EQ(entries(file.parent_path()), std::vector<std::string>{file.filename().string()});
}

TEST_F(DefaultsFileTest, FailedWriteWhenTheFileCannotGrow) {
    // As on a full disk; unlike permissions this stops root too. SIGXFSZ keeps its default
    // action, which ends the process: the write itself must keep it from arriving.
    expectFailedWriteKeepsOldFile(file_, [](DefaultsFile& defaults) {
        struct rlimit saved {};
        EXPECT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        struct rlimit tiny = saved;
        tiny.rlim_cur = 16;
        EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &tiny), 0);
        const bool written = defaults.setObject(std::string("new"), "k");
        ::setrlimit(RLIMIT_FSIZE, &saved);
        return written;
    });
}

TEST_F(DefaultsFileTest, FailedWriteWhereThePathCannotBeAFile) {
    writeFile(dir_ / "plain", Data{'x'});
    DefaultsFile underFile(dir_ / "plain" / "domain.plist");
    EXPECT_FALSE(underFile.setObject(true, "k"));
    EXPECT_EQ(underFile.objectForKey("k"), PropertyValue(true));
    EXPECT_EQ(readFile(dir_ / "plain"), Data{'x'});

    fs::create_directory(file_);
    DefaultsFile onDirectory(file_);
    EXPECT_FALSE(onDirectory.objectForKey("k").has_value());
    EXPECT_FALSE(onDirectory.setObject(true, "k"));
    EXPECT_EQ(onDirectory.objectForKey("k"), PropertyValue(true));
    EXPECT_TRUE(fs::is_directory(file_));
    EXPECT_EQ(entries(dir_), (std::vector<std::string>{file_.filename().string(), "plain"}));
}

TEST_F(DefaultsFileTest, WriteReplacesASymlinkInsteadOfItsTarget) {
    const fs::path elsewhere = dir_ / "elsewhere.plist";
    writeMixedDomain();
    fs::rename(file_, elsewhere);
    const Data target = readFile(elsewhere);
    fs::create_symlink(elsewhere, file_);

    DefaultsFile defaults(file_);
    EXPECT_EQ(defaults.objectForKey("name"), PropertyValue(std::string("kept")));
    ASSERT_TRUE(defaults.setObject(std::int64_t{5}, "added"));

    EXPECT_EQ(readFile(elsewhere), target);
    EXPECT_FALSE(fs::is_symlink(file_));
    const DefaultsFile reopened(file_);
    EXPECT_EQ(reopened.objectForKey("name"), PropertyValue(std::string("kept")));
    EXPECT_EQ(reopened.objectForKey("added"), PropertyValue(std::int64_t{5}));
}

}  // namespace
