#include "platform/common/XmlNesting.h"

#include <gtest/gtest.h>

#include <string>

#include "PlistBuilders.h"
#include "tests/fuzz/FuzzChecks.h"

namespace {

using platform::common::detail::xmlNestingBound;
using namespace test;

constexpr std::size_t kEnough = 1000;

std::string repeated(const std::string& unit, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) {
        text += unit;
    }
    return text;
}

TEST(XmlNesting, WritersLayoutIsMeasuredExactlyWhateverItsLength) {
    // What libplist itself writes: header, doctype, plist tag with a version, indentation,
    // every scalar kind, empty containers.
    const Plist tree(dict(
        {{"a", array({str("x < y & \"z\""), integer(-3), plist_new_real(0.5), plist_new_bool(1),
                      plist_new_bool(0), bytes("raw"), plist_new_date(0, 0), dict({}), array({})})},
         {"b", dict({{"c", dict({{"d", array({str("")})}})}})}}));
    const std::string xml = toXml(tree.get());
    ASSERT_NE(xml.find("<!DOCTYPE"), std::string::npos);
    EXPECT_EQ(xmlNestingBound(xml, kEnough), 4u);
    EXPECT_EQ(vellumor::fuzz::checkXmlNesting(xml), std::nullopt);

    // Closing tags count, so thousands of siblings stay as shallow as one.
    const std::string wide = "<plist><array>" +
                             repeated("<array><dict><key>k</key><true/></dict></array>", 5000) +
                             "</array></plist>";
    EXPECT_EQ(xmlNestingBound(wide, kEnough), 3u);
    // An empty container is a level of its own; at the top, libplist makes it hold what
    // follows.
    EXPECT_EQ(xmlNestingBound("<plist><dict><key>k</key><dict /></dict></plist>", kEnough), 2u);
    EXPECT_EQ(xmlNestingBound("<plist><array/></plist>", kEnough), 1u);
    EXPECT_GE(xmlNestingBound("<plist><array/><array/></plist>", kEnough), 2u);
    EXPECT_EQ(vellumor::fuzz::checkXmlNesting("<plist><array/><array><array/></array></plist>"),
              std::nullopt);
    EXPECT_EQ(xmlNestingBound("", kEnough), 0u);
}

TEST(XmlNesting, OpenTagsThatNeverCloseCountAndTheCountStopsEarly) {
    const std::string open = "<plist>" + repeated("<array>", 190000);
    EXPECT_GT(xmlNestingBound(open, 100), 100u);
    EXPECT_LE(xmlNestingBound(open, 100), 102u);
    EXPECT_EQ(xmlNestingBound("<plist>" + repeated("<dict><key>k</key>", 40), kEnough), 40u);
}

// Each unit opens one container for libplist and holds a closing tag where libplist does not
// read one, or spells an opening tag in a way a careless reading would miss. Repeated, and
// then closed, it must measure at least as deep as libplist builds it.
TEST(XmlNesting, MarkupThatHidesAClosingTagOrDisguisesAnOpeningOneNeverLowersTheBound) {
    constexpr int kUnits = 150;
    struct Unit {
        const char* name;
        std::string opening;
        std::string closing;
    };
    const std::vector<Unit> units = {
        {"closing tag in a comment", "<array><!-- </array> -->", "</array>"},
        {"closing tag in CDATA", "<array><string><![CDATA[</string></array><string>]]></string>",
         "</array>"},
        {"closing tag in a quoted attribute", "<array x=\"></array>\">", "</array>"},
        {"closing tag in a quoted declaration", "<array><?pi a=\"?></array>\"?>", "</array>"},
        {"closing tag in an internal DTD", "<array><!DOCTYPE p [ </array> ]>", "</array>"},
        {"closing tag in text", "<dict><key>a</array>b</key>", "</dict>"},
        {"self-closing look-alike in quotes", "<array x=\"/>\">", "</array>"},
        {"opening tag with a NUL", std::string("<array\0>", 8), "</array>"},
        {"opening tag with spaces", "<dict \n\t><key>k</key>", "</dict>"},
    };
    for (const auto& [name, opening, closing] : units) {
        SCOPED_TRACE(name);
        const std::string text = "<?xml version=\"1.0\"?><plist version=\"1.0\">" +
                                 repeated(opening, kUnits) + "<true/>" + repeated(closing, kUnits) +
                                 "</plist>";
        EXPECT_GE(xmlNestingBound(text, kEnough), static_cast<std::size_t>(kUnits));
        EXPECT_EQ(vellumor::fuzz::checkXmlNesting(text), std::nullopt);
    }
    // Opening tags after the outermost container has closed are counted too: libplist stops
    // there, and nothing depends on it.
    const std::string afterRoot = "<plist><array></array>" + repeated("<array>", kUnits);
    EXPECT_GE(xmlNestingBound(afterRoot, kEnough), static_cast<std::size_t>(kUnits));
}

}  // namespace
