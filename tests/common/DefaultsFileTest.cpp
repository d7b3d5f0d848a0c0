#include "platform/common/DefaultsFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>

#include "PlistBuilders.h"
#include "tests/common/ScratchDirectory.h"

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

class DefaultsFileTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = test::makeScratchDirectory("defaults");
        ASSERT_FALSE(dir_.empty());
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

TEST_F(DefaultsFileTest, ReadsAnXmlDomain) {
    const std::string xml = toXml(Plist(dict({{"k", str("v")}})).get());
    writeFile(file_, Data(xml.begin(), xml.end()));
    EXPECT_EQ(DefaultsFile(file_).objectForKey("k"), PropertyValue(std::string("v")));
}

// libplist frees and copies a tree by recursion, so an XML domain nested deeper than the
// stack allows must be refused before libplist builds it, closed or left open.
TEST_F(DefaultsFileTest, DeeplyNestedXmlReadsAsEmptyUntouchedAndTakesAWrite) {
    constexpr int kLevels = 200000;
    std::string open;
    for (int i = 0; i < kLevels; ++i) {
        open += i % 2 == 0 ? "<array>" : "<dict><key>k</key>";
    }
    std::string closed = open;
    for (int i = kLevels - 1; i >= 0; --i) {
        closed += i % 2 == 0 ? "</array>" : "</dict>";
    }
    for (const std::string& body : {open, closed}) {
        const std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>k</key>" +
                                body + "</dict></plist>";
        writeFile(file_, Data(xml.begin(), xml.end()));
        DefaultsFile defaults(file_);
        EXPECT_FALSE(defaults.objectForKey("k").has_value());
        EXPECT_EQ(readFile(file_), Data(xml.begin(), xml.end()));
        ASSERT_TRUE(defaults.setObject(std::int64_t{7}, "n"));
        EXPECT_EQ(DefaultsFile(file_).objectForKey("n"), PropertyValue(std::int64_t{7}));
    }
}

TEST_F(DefaultsFileTest, RefusesTextAPropertyListCannotHold) {
    DefaultsFile defaults(file_);
    EXPECT_FALSE(defaults.setObject(std::string("a\0b", 3), "k"));
    EXPECT_FALSE(defaults.setObject(std::string("bad \xFF utf8"), "k"));
    EXPECT_FALSE(defaults.setObject(std::int64_t{1}, std::string("\xC3", 1)));
    EXPECT_FALSE(defaults.objectForKey("k").has_value());
    EXPECT_FALSE(fs::exists(file_));
}

TEST_F(DefaultsFileTest, FailedWriteWhereThePathCannotBeAFile) {
    writeFile(dir_ / "plain", Data{'x'});
    DefaultsFile underFile(dir_ / "plain" / "domain.plist");
    EXPECT_FALSE(underFile.setObject(true, "k"));
    EXPECT_EQ(underFile.objectForKey("k"), PropertyValue(true));
    EXPECT_EQ(readFile(dir_ / "plain"), Data{'x'});
    EXPECT_EQ(entries(dir_), std::vector<std::string>{"plain"});
}

}  // namespace
