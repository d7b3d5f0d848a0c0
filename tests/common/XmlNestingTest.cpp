// How deeply an XML domain nests is measured before libplist reads it, since libplist frees
// the tree it built by recursion: the measure must never fall below what libplist builds.

#include "platform/common/XmlNesting.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/fuzz/FuzzChecks.h"

namespace {

using platform::common::detail::xmlNestingBound;

constexpr std::size_t kEnough = 1000;

std::string repeated(const std::string& unit, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) {
        text += unit;
    }
    return text;
}

// Each unit opens one container for libplist and holds a closing tag where libplist reads
// none, or spells an opening tag in a way a careless reading would miss.
TEST(XmlNesting, MarkupThatHidesAClosingTagOrDisguisesAnOpeningOneNeverLowersTheBound) {
    constexpr int kUnits = 150;
    const std::vector<std::pair<const char*, std::string>> units = {
        {"closing tag in a comment", "<array><!-- </array> -->"},
        {"closing tag in CDATA", "<array><string><![CDATA[</string></array><string>]]></string>"},
        {"closing tag in a quoted attribute", "<array x=\"></array>\">"},
        {"closing tag in a quoted declaration", "<array><?pi a=\"?></array>\"?>"},
        {"closing tag in an internal DTD", "<array><!DOCTYPE p [ </array> ]>"},
        {"closing tag in text", "<dict><key>a</array>b</key>"},
        {"self-closing look-alike in quotes", "<array x=\"/>\">"},
        {"opening tag with a NUL", std::string("<array\0>", 8)},
        {"opening tag with spaces", "<dict \n\t><key>k</key>"},
    };
    for (const auto& [name, opening] : units) {
        SCOPED_TRACE(name);
        const std::string closing = opening.starts_with("<dict") ? "</dict>" : "</array>";
        const std::string text = "<?xml version=\"1.0\"?><plist version=\"1.0\">" +
                                 repeated(opening, kUnits) + "<true/>" + repeated(closing, kUnits) +
                                 "</plist>";
        EXPECT_GE(xmlNestingBound(text, kEnough), static_cast<std::size_t>(kUnits));
        EXPECT_EQ(vellumor::fuzz::checkXmlNesting(text), std::nullopt);
    }
    // Opening tags after the outermost container has closed count too: libplist stops there.
    EXPECT_GE(xmlNestingBound("<plist><array></array>" + repeated("<array>", kUnits), kEnough),
              static_cast<std::size_t>(kUnits));
    // Closed siblings stay as shallow as one; open tags count, and the count stops early.
    EXPECT_EQ(xmlNestingBound("<plist><array>" + repeated("<array><dict></dict></array>", 5000) +
                                  "</array></plist>",
                              kEnough),
              3u);
    const std::string open = "<plist>" + repeated("<array>", 190000);
    EXPECT_GT(xmlNestingBound(open, 100), 100u);
    EXPECT_LE(xmlNestingBound(open, 100), 102u);
}

}  // namespace
