#include "platform/common/KeyedArchive.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <limits>
#include <string>
#include <vector>

#include "PlistBuilders.h"

namespace {

using platform::Color;
using platform::ColorSpaceModel;
using platform::Data;
using platform::common::archiveColor;
using platform::common::unarchiveColor;
using namespace test;

Data archived(const Color& color) {
    std::string error;
    const auto data = archiveColor(color, &error);
    EXPECT_TRUE(data.has_value()) << error;
    return data.value_or(Data{});
}

// The entry `key` of the colour dictionary ($objects[1]) of an archive we wrote.
plist_t colorEntry(const Plist& archive, const char* key) {
    return plist_dict_get_item(plist_access_path(archive.get(), 2, "$objects", 1), key);
}

// The object a UID refers to within an archive.
plist_t referenced(const Plist& archive, plist_t reference) {
    return plist_array_get_item(plist_dict_get_item(archive.get(), "$objects"),
                                static_cast<std::uint32_t>(uidValue(reference)));
}

std::uint64_t unsignedValue(plist_t node) {
    std::uint64_t value = 0;
    EXPECT_EQ(plist_get_node_type(node), PLIST_UINT);
    plist_get_uint_val(node, &value);
    return value;
}

const std::vector<std::uint8_t> kProfile = {'a', 'c', 's', 'p', 0, 1, 2, 0xFF};

TEST(KeyedArchive, ColorsOfEverySpaceReadBackEqual) {
    const std::vector<Color> colors = {
        Color::colorWithCalibratedRed(0.1, 0.1, 0.1, 1.0),
        Color::colorWithCalibratedRed(1.0, 0.0, 0.0, 0.5),
        Color::colorWithDeviceRed(0.25, 0.5, 0.75, 0.0),
        Color::colorWithDeviceRed(-0.125, 1.5, 2e-7, 1.0),  // extended range, exponent form
        Color::colorWithCalibratedWhite(0.5, 1.0),
        Color::colorWithCalibratedWhite(0.0, 0.25),
        Color::colorWithDeviceWhite(1.0, 0.75),
        Color::colorWithCustomSpace({0.2, 0.4, 0.6, 1.0}, 7, {}),
        Color::colorWithCustomSpace({0.9, 0.1, 0.3, 0.5}, 0, kProfile),
        Color::colorWithCustomSpace({0.1, 0.2, 0.3, 0.4, 0.8}, 12, kProfile),  // CMYK + alpha
        Color::colorWithCustomSpace({0.5, 1.0}, -3, {}),                       // grey space
    };
    for (const auto& color : colors) {
        std::string error;
        const auto back = unarchiveColor(archived(color), &error);
        ASSERT_TRUE(back.has_value()) << error;
        EXPECT_EQ(back->colorSpaceModel(), color.colorSpaceModel());
        EXPECT_TRUE(*back == color) << "alpha " << color.alphaComponent();
    }
}

TEST(KeyedArchive, ComponentTextIsThatOfNSColor) {
    const auto text = [](const Color& color, const char* key) {
        return dataText(colorEntry(parse(archived(color)), key));
    };
    using namespace std::string_literals;
    EXPECT_EQ(text(Color::colorWithCalibratedRed(0.1, 0.1, 0.1, 1.0), "NSRGB"), "0.1 0.1 0.1\0"s);
    EXPECT_EQ(text(Color::colorWithDeviceRed(1.0, 0.0, 0.0, 0.5), "NSRGB"), "1 0 0 0.5\0"s);
    EXPECT_EQ(text(Color::colorWithDeviceWhite(0.5, 0.25), "NSWhite"), "0.5 0.25\0"s);
    // Ten significant digits, as printf("%.10g") in the C locale (the locale at this point).
    for (double value : {1.0 / 3.0, 123456.789012345, 1e-7, 2.5e10, 0.30000000000000004, -0.75}) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.10g", value);
        EXPECT_EQ(text(Color::colorWithCalibratedWhite(value, 1.0), "NSWhite"), expected + "\0"s);
    }
}

TEST(KeyedArchive, LayoutIsThatOfNSKeyedArchiver) {
    const Data data = archived(Color::colorWithCalibratedWhite(0.5, 1.0));
    EXPECT_EQ(std::string(data.begin(), data.begin() + 8), "bplist00");
    const Plist archive = parse(data);
    ASSERT_TRUE(archive);
    EXPECT_EQ(stringValue(plist_dict_get_item(archive.get(), "$archiver")), "NSKeyedArchiver");
    EXPECT_EQ(unsignedValue(plist_dict_get_item(archive.get(), "$version")), 100000u);
    EXPECT_EQ(uidValue(plist_access_path(archive.get(), 2, "$top", "root")), 1u);
    ASSERT_EQ(plist_array_get_size(plist_dict_get_item(archive.get(), "$objects")), 3u);
    EXPECT_EQ(stringValue(plist_access_path(archive.get(), 2, "$objects", 0)), "$null");
    EXPECT_EQ(unsignedValue(colorEntry(archive, "NSColorSpace")), 3u);
    EXPECT_EQ(uidValue(colorEntry(archive, "$class")), 2u);
    plist_t colorClass = referenced(archive, colorEntry(archive, "$class"));
    EXPECT_EQ(stringValue(plist_dict_get_item(colorClass, "$classname")), "NSColor");
    EXPECT_EQ(toXml(plist_dict_get_item(colorClass, "$classes")),
              toXml(Plist(array({str("NSColor"), str("NSObject")})).get()));
}

TEST(KeyedArchive, CustomSpaceCarriesComponentsSpaceAndRgbFallback) {
    const Plist archive =
        parse(archived(Color::colorWithCustomSpace({0.2, 1.25, 0.5, 0.5}, 9, kProfile)));
    EXPECT_EQ(unsignedValue(colorEntry(archive, "NSColorSpace")), 1u);
    // The fallback is what the screen shows, clamped; the components are the true values.
    EXPECT_EQ(dataText(colorEntry(archive, "NSRGB")), std::string("0.2 1 0.5 0.5\0", 14));
    EXPECT_EQ(dataText(colorEntry(archive, "NSComponents")), std::string("0.2 1.25 0.5 0.5\0", 17));
    plist_t space = referenced(archive, colorEntry(archive, "NSCustomColorSpace"));
    EXPECT_EQ(unsignedValue(plist_dict_get_item(space, "NSID")), 9u);
    EXPECT_EQ(dataText(plist_dict_get_item(space, "NSICC")),
              std::string(kProfile.begin(), kProfile.end()));
    plist_t spaceClass = referenced(archive, plist_dict_get_item(space, "$class"));
    EXPECT_EQ(stringValue(plist_dict_get_item(spaceClass, "$classname")), "NSColorSpace");
}

TEST(KeyedArchive, RefusesColorsThatCouldNotBeReadBack) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<Color> colors = {
        Color::colorWithCalibratedRed(nan, 0, 0, 1),
        Color::colorWithDeviceRed(0, 0, 0, inf),
        Color::colorWithCalibratedWhite(-inf, 1),
        Color::colorWithCustomSpace({0.1, nan, 1.0}, 1, {}),
        Color::colorWithCustomSpace(std::vector<double>(17, 0.5), 1, {}),
        Color::labelColor(),  // names a system colour, not a value
    };
    for (const auto& color : colors) {
        std::string error;
        EXPECT_FALSE(archiveColor(color, &error).has_value());
        EXPECT_FALSE(error.empty());
    }
}

// An archive of a colour with `entries` whose NSCustomColorSpace (index 3) holds `space`,
// plus `extra` objects from index 5 on.
Data withColorSpace(std::initializer_list<std::pair<const char*, plist_t>> entries, plist_t space,
                    plist_t extra = nullptr) {
    plist_t color = dict(entries);
    plist_dict_set_item(color, "NSCustomColorSpace", uid(3));
    plist_dict_set_item(color, "$class", uid(2));
    plist_dict_set_item(space, "$class", uid(4));
    if (extra == nullptr) {
        return keyedArchive({color, classObject("NSColor"), space, classObject("NSColorSpace")});
    }
    return keyedArchive({color, classObject("NSColor"), space, classObject("NSColorSpace"), extra,
                         classObject("NSMutableData")});
}

TEST(KeyedArchive, ReadsArchivesLaidOutByOtherWriters) {
    // Keys in another order, component text without NUL, missing alpha.
    auto color = unarchiveColor(keyedArchive(
        {dict(
             {{"$class", uid(2)}, {"NSRGB", bytes("0.25 0.5 0.75")}, {"NSColorSpace", integer(2)}}),
         classObject("NSColor")}));
    ASSERT_TRUE(color.has_value());
    EXPECT_TRUE(*color == Color::colorWithDeviceRed(0.25, 0.5, 0.75, 1.0));

    // A component colour whose space is named by number only.
    color = unarchiveColor(withColorSpace({{"NSColorSpace", integer(1)},
                                           {"NSRGB", bytes("0.2 0.4 0.6")},
                                           {"NSComponents", bytes("0.21 0.41 0.61 1")}},
                                          dict({{"NSID", integer(7)}})));
    ASSERT_TRUE(color.has_value());
    EXPECT_TRUE(*color == Color::colorWithCustomSpace({0.21, 0.41, 0.61, 1.0}, 7, {}));

    // The profile as an NSMutableData object holding NS.data, and as a plain data object.
    const std::string profile(kProfile.begin(), kProfile.end());
    for (plist_t iccObject :
         {dict({{"NS.data", bytes(profile)}, {"$class", uid(6)}}), bytes(profile)}) {
        color = unarchiveColor(withColorSpace(
            {{"NSColorSpace", integer(5)}, {"NSComponents", bytes("0.5 0.5 0.5 0.5\0")}},
            dict({{"NSICC", uid(5)}}), iccObject));
        ASSERT_TRUE(color.has_value());
        EXPECT_TRUE(*color == Color::colorWithCustomSpace({0.5, 0.5, 0.5, 0.5}, 0, kProfile));
    }
}

TEST(KeyedArchive, CustomColorWithoutComponentsFallsBackToItsRgb) {
    const auto calibrated = Color::colorWithCalibratedRed(0.3, 0.2, 0.1, 0.5);
    for (const auto& [space, expected] :
         {std::pair{1, calibrated}, std::pair{2, Color::colorWithDeviceRed(0.3, 0.2, 0.1, 0.5)},
          std::pair{5, calibrated}}) {
        const auto color = unarchiveColor(
            withColorSpace({{"NSColorSpace", integer(space)}, {"NSRGB", bytes("0.3 0.2 0.1 0.5")}},
                           dict({{"NSID", integer(7)}})));
        ASSERT_TRUE(color.has_value()) << space;
        EXPECT_TRUE(*color == expected) << space;
    }
}

TEST(KeyedArchive, ReadsTheXmlFormOfAnArchive) {
    const Color original = Color::colorWithCustomSpace({0.2, 0.4, 0.6, 0.8}, 4, kProfile);
    const Plist archive = parse(archived(original));
    const std::string xml = toXml(archive.get());
    ASSERT_NE(xml.find("CF$UID"), std::string::npos);
    std::string error;
    const auto color = unarchiveColor(Data(xml.begin(), xml.end()), &error);
    ASSERT_TRUE(color.has_value()) << error;
    EXPECT_TRUE(*color == original);
}

}  // namespace
