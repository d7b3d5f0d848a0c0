#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "PlistBuilders.h"
#include "platform/common/KeyedArchive.h"

namespace {

using platform::Color;
using platform::Data;
using platform::common::archiveColor;
using platform::common::unarchiveColor;
using namespace test;

// A colour archive with NSColorSpace `space`, `key` = `value` and class reference
// `classReference`; null nodes are left out.
Data colorArchive(plist_t space, const char* key, plist_t value, plist_t classReference = uid(2)) {
    plist_t color = dict({});
    for (const auto& [name, node] : {std::pair{"NSColorSpace", space}, std::pair{key, value},
                                     std::pair{"$class", classReference}}) {
        if (node != nullptr) {
            plist_dict_set_item(color, name, node);
        }
    }
    return keyedArchive({color, classObject("NSColor")});
}

Data rgb(std::string_view text, plist_t space = integer(1)) {
    return colorArchive(space, "NSRGB", bytes(text));
}

// A valid archive with one top-level key replaced, or removed when `value` is null.
Data top(const char* key, plist_t value) {
    const Plist archive = parse(rgb("0.1 0.2 0.3"));
    if (value != nullptr) {
        plist_dict_set_item(archive.get(), key, value);
    } else {
        plist_dict_remove_item(archive.get(), key);
    }
    return toBinary(archive.get());
}

// A colour space object (index 3) with its class (index 4).
plist_t space(std::initializer_list<std::pair<const char*, plist_t>> entries) {
    plist_t node = dict(entries);
    plist_dict_set_item(node, "$class", uid(4));
    return node;
}

Data custom(const char* components, std::uint64_t spaceReference, plist_t spaceObject) {
    return keyedArchive({dict({{"NSColorSpace", integer(1)},
                               {"NSRGB", bytes("0 0 0")},
                               {"NSComponents", bytes(components)},
                               {"NSCustomColorSpace", uid(spaceReference)},
                               {"$class", uid(2)}}),
                         classObject("NSColor"), spaceObject, classObject("NSColorSpace")});
}

struct Rejection {
    std::string name;
    Data data;
};

void PrintTo(const Rejection& rejection, std::ostream* out) {
    *out << rejection.name;
}

std::vector<Rejection> rejections() {
    const std::string xml = toXml(Plist(array({str("$null")})).get());
    const std::string profile(1100 * 1024, 'x');
    return {
        {"Empty", {}},
        {"NotAPropertyList", {'h', 'e', 'l', 'l', 'o'}},
        {"PlainDictionary", toBinary(Plist(dict({{"a", str("b")}})).get())},
        {"XmlArray", Data(xml.begin(), xml.end())},
        {"MissingArchiver", top("$archiver", nullptr)},
        {"OtherArchiver", top("$archiver", str("NSArchiver"))},
        {"VersionNotInteger", top("$version", str("100000"))},
        {"MissingObjects", top("$objects", nullptr)},
        {"ObjectsNotArray", top("$objects", dict({}))},
        {"MissingTop", top("$top", nullptr)},
        {"RootNotReference", top("$top", dict({{"root", integer(1)}}))},
        {"RootOutOfRange", top("$top", dict({{"root", uid(99)}}))},
        {"RootIsNull", top("$top", dict({{"root", uid(0)}}))},
        {"RootOfOtherClass", keyedArchive({dict({{"$class", uid(2)}}), classObject("NSString")})},
        {"RootWithoutClass", colorArchive(integer(3), "NSWhite", bytes("1"), nullptr)},
        {"ClassRefersToItself", colorArchive(integer(3), "NSWhite", bytes("1"), uid(1))},
        {"ColorSpaceRefersToColor", custom("1 0 0 1", 1, space({}))},
        {"ProfileRefersToColorSpace", custom("1 0 0 1", 3, space({{"NSICC", uid(3)}}))},
        {"ColorSpaceDangling", custom("1 0 0 1", 40, space({}))},
        {"ColorSpaceOfOtherClass", custom("1 0 0 1", 3, dict({{"$class", uid(2)}}))},
        {"ColorSpaceIdNotInteger", custom("1 0 0 1", 3, space({{"NSID", str("7")}}))},
        {"ComponentsTooMany", custom("0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 1", 3, space({}))},
        {"ComponentsWithoutAlpha", custom("0.5", 3, space({}))},
        {"LargerThanAMebibyte", custom("1 0 0 1", 3, space({{"NSICC", bytes(profile)}}))},
        {"CatalogColor", rgb("1 0 0", integer(6))},
        {"PatternColor", rgb("1 0 0", integer(10))},
        {"SpaceZero", rgb("1 0 0", integer(0))},
        {"SpaceNegative", rgb("1 0 0", integer(-1))},
        {"SpaceNotInteger", rgb("1 0 0", str("1"))},
        {"SpaceMissing", rgb("1 0 0", nullptr)},
        {"RgbMissing", colorArchive(integer(1), "NSWhite", bytes("1"))},
        {"RgbNotText", colorArchive(integer(1), "NSRGB", integer(1))},
        {"RgbTooFew", rgb("0.1 0.2")},
        {"RgbTooMany", rgb("0.1 0.2 0.3 0.4 0.5")},
        {"RgbNotNumeric", rgb("0.1 abc 0.3")},
        {"RgbTrailingGarbage", rgb("0.1 0.2 0.3x")},
        {"RgbNumbersRunTogether", rgb("0.1 0.2-0.3")},
        {"RgbBytesAfterNul", rgb(std::string_view("0.1 0.2 0.3\0 9", 14))},
        {"RgbNotANumber", rgb("nan 0 0")},
        {"RgbInfinite", rgb("0 inf 0")},
        {"RgbOverflowing", rgb("0 0 1e999")},
        {"RgbHugeText", rgb(std::string(4000, ' ') + "1 0 0")},
        {"WhiteTooMany", colorArchive(integer(3), "NSWhite", bytes("0.5 0.5 0.5"))},
    };
}

class KeyedArchiveRejects : public testing::TestWithParam<Rejection> {};

TEST_P(KeyedArchiveRejects, WithAReason) {
    std::string error;
    EXPECT_FALSE(unarchiveColor(GetParam().data, &error).has_value());
    EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, KeyedArchiveRejects, testing::ValuesIn(rejections()),
                         [](const auto& test) { return test.param.name; });

// A binary property list of hand-made objects (references two bytes wide), for layouts that
// no writer produces.
Data binaryPlist(const std::vector<std::string>& objects, std::uint64_t top) {
    std::string out = "bplist00";
    std::vector<std::uint32_t> offsets;
    for (const auto& object : objects) {
        offsets.push_back(static_cast<std::uint32_t>(out.size()));
        out += object;
    }
    const std::uint64_t tableOffset = out.size();
    for (std::uint32_t offset : offsets) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            out += static_cast<char>((offset >> shift) & 0xFF);
        }
    }
    std::string trailer(6, '\0');
    trailer += '\x04';  // offset width
    trailer += '\x02';  // reference width
    for (std::uint64_t field : {std::uint64_t{objects.size()}, top, tableOffset}) {
        for (int shift = 56; shift >= 0; shift -= 8) {
            trailer += static_cast<char>((field >> shift) & 0xFF);
        }
    }
    out += trailer;
    return Data(out.begin(), out.end());
}

std::string arrayOf(std::vector<std::uint16_t> references) {
    std::string object(1, static_cast<char>(0xA0 | references.size()));
    for (std::uint16_t reference : references) {
        object += static_cast<char>(reference >> 8);
        object += static_cast<char>(reference & 0xFF);
    }
    return object;
}

void expectRejectedQuickly(const Data& data) {
    const auto start = std::chrono::steady_clock::now();
    std::string error;
    EXPECT_FALSE(unarchiveColor(data, &error).has_value());
    EXPECT_FALSE(error.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(KeyedArchiveHostileInput, SharedReferencesThatExpandExponentially) {
    // Each array holds the previous one twice: 40 levels would expand to 2^40 nodes.
    std::vector<std::string> objects = {std::string("\x10\x00", 2)};
    for (std::uint16_t level = 1; level <= 40; ++level) {
        objects.push_back(arrayOf(
            {static_cast<std::uint16_t>(level - 1), static_cast<std::uint16_t>(level - 1)}));
    }
    expectRejectedQuickly(binaryPlist(objects, 40));
}

TEST(KeyedArchiveHostileInput, DeepNestingSelfReferenceAndFalseCounts) {
    std::vector<std::string> chain = {std::string("\x10\x00", 2)};
    for (std::uint16_t level = 1; level < 20000; ++level) {
        chain.push_back(arrayOf({static_cast<std::uint16_t>(level - 1)}));
    }
    expectRejectedQuickly(binaryPlist(chain, chain.size() - 1));
    expectRejectedQuickly(binaryPlist({arrayOf({0})}, 0));
    // An array claiming 2^62 elements in a few bytes.
    expectRejectedQuickly(binaryPlist({std::string("\xAF\x13\x40\0\0\0\0\0\0\0\0\0", 12)}, 0));
}

TEST(KeyedArchiveHostileInput, EveryTruncationIsRejected) {
    const Data whole =
        archiveColor(Color::colorWithCustomSpace({0.1, 0.2, 0.3, 1.0}, 7, {1, 2, 3})).value();
    for (std::size_t length = 0; length < whole.size(); ++length) {
        std::string error;
        EXPECT_FALSE(
            unarchiveColor(Data(whole.begin(), whole.begin() + static_cast<long>(length)), &error)
                .has_value())
            << length;
        EXPECT_FALSE(error.empty()) << length;
    }
}

TEST(KeyedArchiveHostileInput, RandomMutationsGiveAColourOrAReason) {
    const std::vector<Data> bases = {
        archiveColor(Color::colorWithCalibratedRed(0.1, 0.2, 0.3, 0.5)).value(),
        archiveColor(Color::colorWithCustomSpace({0.1, 0.2, 0.3, 1.0}, 7, {1, 2, 3, 4})).value(),
    };
    std::mt19937 random(20240611);
    int accepted = 0;
    int rejected = 0;
    for (int round = 0; round < 4000; ++round) {
        Data data = bases[static_cast<std::size_t>(round) % bases.size()];
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int edit = 0; edit < edits && !data.empty(); ++edit) {
            // Half the edits hit the trailer and offset table, which steer the parser.
            const std::size_t tail = std::min<std::size_t>(data.size(), 48);
            const std::size_t at =
                random() % 2 == 0 ? data.size() - 1 - random() % tail : random() % data.size();
            switch (random() % 4) {
                case 0:
                    data[at] = static_cast<std::uint8_t>(random());
                    break;
                case 1:
                    data[at] ^= static_cast<std::uint8_t>(1U << (random() % 8));
                    break;
                case 2:
                    data.insert(data.begin() + static_cast<long>(at),
                                static_cast<std::uint8_t>(random()));
                    break;
                default:
                    data.erase(data.begin() + static_cast<long>(at));
                    break;
            }
        }
        std::string error;
        const auto color = unarchiveColor(data, &error);
        if (color) {
            ++accepted;
            EXPECT_LE(color->components().size(), 16u);
            for (double component : color->components()) {
                EXPECT_TRUE(std::isfinite(component));
            }
        } else {
            ++rejected;
            EXPECT_FALSE(error.empty()) << round;
        }
    }
    EXPECT_GT(accepted, 0);
    EXPECT_GT(rejected, 0);
}

}  // namespace
