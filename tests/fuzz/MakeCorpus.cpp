// Writes the fuzzers' seed inputs: colour archives of every space the reader takes, as we
// write them and as other writers lay them out, defaults domains around them, and broken
// ones. Usage: make_corpus <tests/fuzz/corpus>. Names tell the replay what to expect:
// "ok-" must give a colour, "bad-" must not, anything else may do either.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/common/KeyedArchive.h"
#include "tests/common/PlistBuilders.h"

namespace {

namespace fs = std::filesystem;
using platform::Color;
using platform::Data;
using namespace test;

fs::path archives;
fs::path domains;

void save(const fs::path& file, const Data& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void save(const fs::path& file, const std::string& text) {
    save(file, Data(text.begin(), text.end()));
}

Data ours(const Color& color) {
    const auto bytes = platform::common::archiveColor(color);
    if (!bytes) {
        std::fprintf(stderr, "cannot archive a seed colour\n");
        std::exit(1);
    }
    return *bytes;
}

// Saves a binary archive and its XML form.
void saveBoth(const std::string& name, const Data& binary) {
    save(archives / (name + ".bplist"), binary);
    const Plist parsed = parse(binary);
    save(archives / (name + ".xml"), toXml(parsed.get()));
}

plist_t colorObject(std::initializer_list<std::pair<const char*, plist_t>> entries,
                    std::uint64_t classIndex) {
    plist_t node = dict(entries);
    plist_dict_set_item(node, "$class", uid(classIndex));
    return node;
}

Data oneColor(std::initializer_list<std::pair<const char*, plist_t>> entries) {
    return keyedArchive({colorObject(entries, 2), classObject("NSColor")});
}

// A domain holding `archive` under the colour key beside a value of every other kind.
Data domainWith(const Data& archive, bool xml) {
    const Plist domain(dict({
        {"selectedBackgroundColor",
         plist_new_data(reinterpret_cast<const char*>(archive.data()), archive.size())},
        {"NSNavLastRootDirectory", str("~/Desktop")},
        {"launchCount", integer(-3)},
        {"scale", plist_new_real(1.5)},
        {"enabled", plist_new_bool(1)},
        {"lastLaunch", plist_new_date(700000000, 250000)},
        {"window", dict({{"frame", array({integer(0), integer(10), str("x\xC3\xA9")})}})},
    }));
    if (xml) {
        return [&] {
            const std::string text = toXml(domain.get());
            return Data(text.begin(), text.end());
        }();
    }
    return toBinary(domain.get());
}

// A binary property list of hand-made objects (four-byte offsets, two-byte references), for
// layouts no writer produces.
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
            out += static_cast<char>((offset >> shift) & 0xFFU);
        }
    }
    out += std::string(6, '\0') + "\x04\x02";
    for (std::uint64_t field : {std::uint64_t{objects.size()}, top, tableOffset}) {
        for (int shift = 56; shift >= 0; shift -= 8) {
            out += static_cast<char>((field >> shift) & 0xFFU);
        }
    }
    return Data(out.begin(), out.end());
}

std::string arrayOfTwice(std::uint16_t reference) {
    std::string object(1, static_cast<char>(0xA2));
    for (int i = 0; i < 2; ++i) {
        object += static_cast<char>(reference >> 8);
        object += static_cast<char>(reference & 0xFFU);
    }
    return object;
}

void writeArchives() {
    // As we write them, in each space, opaque and not.
    saveBoth("ok-calibrated-rgb", ours(Color::colorWithCalibratedRed(0.1, 0.2, 0.3, 1.0)));
    saveBoth("ok-calibrated-rgb-alpha",
             ours(Color::colorWithCalibratedRed(0.123456789012, 0.5, 1.0, 0.25)));
    saveBoth("ok-device-rgb", ours(Color::colorWithDeviceRed(1.0, 0.0, 0.0, 1.0)));
    saveBoth("ok-device-rgb-alpha", ours(Color::colorWithDeviceRed(0.0, 1.0 / 3.0, 1.0, 0.5)));
    saveBoth("ok-calibrated-white", ours(Color::colorWithCalibratedWhite(0.5, 1.0)));
    saveBoth("ok-calibrated-white-alpha", ours(Color::colorWithCalibratedWhite(0.25, 0.75)));
    saveBoth("ok-device-white", ours(Color::colorWithDeviceWhite(0.0, 1.0)));
    saveBoth("ok-device-white-alpha", ours(Color::colorWithDeviceWhite(1.0, 0.1)));
    saveBoth("ok-custom-space-number",
             ours(Color::colorWithCustomSpace({0.9, 0.4, 0.1, 1.0}, 7, {})));
    saveBoth("ok-custom-icc",
             ours(Color::colorWithCustomSpace({0.2, 0.4, 0.6, 0.8}, 0,
                                              Data{0, 0, 2, 0x0c, 'a', 'p', 'p', 'l'})));
    saveBoth("ok-custom-cmyk",
             ours(Color::colorWithCustomSpace({0.1, 0.2, 0.3, 0.4, 1.0}, 12, {})));

    // Laid out as macOS lays them out: NUL-terminated component text, a colour space object
    // with its ICC profile as a separate NSData object, keys in another order.
    saveBoth("ok-macos-components-space-number",
             keyedArchive({colorObject({{"NSColorSpace", integer(1)},
                                        {"NSRGB", bytes(std::string("0.9 0.4 0.1\0", 12))},
                                        {"NSComponents", bytes(std::string("0.9 0.4 0.1 1\0", 14))},
                                        {"NSCustomColorSpace", uid(3)}},
                                       2),
                           classObject("NSColor"), dict({{"NSID", integer(7)}, {"$class", uid(4)}}),
                           classObject("NSColorSpace")}));
    saveBoth("ok-macos-icc-in-nsdata",
             keyedArchive({colorObject({{"NSColorSpace", integer(1)},
                                        {"NSRGB", bytes(std::string("0.5 0.5 0.5\0", 12))},
                                        {"NSComponents", bytes(std::string("0.5 0.5 0.5 1\0", 14))},
                                        {"NSCustomColorSpace", uid(3)}},
                                       2),
                           classObject("NSColor"),
                           dict({{"NSICC", uid(5)}, {"NSID", integer(9)}, {"$class", uid(4)}}),
                           classObject("NSColorSpace"),
                           dict({{"NS.data", bytes(std::string("\0\0\x02\x30lcms", 8))},
                                 {"$class", uid(6)}}),
                           classObject("NSMutableData")}));
    saveBoth("ok-macos-icc-as-data-object",
             keyedArchive({colorObject({{"NSColorSpace", integer(1)},
                                        {"NSRGB", bytes(std::string("0 0 1 0.5\0", 10))},
                                        {"NSComponents", bytes(std::string("0 0 1 0.5\0", 10))},
                                        {"NSCustomColorSpace", uid(3)}},
                                       2),
                           classObject("NSColor"), dict({{"NSICC", uid(5)}, {"$class", uid(4)}}),
                           classObject("NSColorSpace"), bytes("profile")}));
    saveBoth("ok-custom-fallback-only",
             oneColor({{"NSColorSpace", integer(5)}, {"NSRGB", bytes("0.3 0.2 0.1")}}));
    // Component text as other writers give it: no NUL, six digits, a string, tabs.
    saveBoth("ok-six-digit-text",
             oneColor({{"NSColorSpace", integer(1)}, {"NSRGB", bytes("0.333333 0.666667 1 0.5")}}));
    saveBoth("ok-string-components",
             oneColor({{"NSColorSpace", integer(4)}, {"NSWhite", str("0.5\t0.25")}}));
    saveBoth("ok-exponents",
             oneColor({{"NSColorSpace", integer(2)}, {"NSRGB", bytes("1e-3 2.5E-1 0.1e1")}}));

    // Broken.
    const Data good = ours(Color::colorWithDeviceRed(0.25, 0.5, 0.75, 1.0));
    save(archives / "bad-empty.bin", Data{});
    save(archives / "bad-magic-only.bin", std::string("bplist00"));
    save(archives / "bad-truncated.bplist", Data(good.begin(), good.begin() + good.size() / 2));
    Data trailer = good;
    trailer[trailer.size() - 9] ^= 0x40;  // offset table moved out of bounds
    save(archives / "bad-trailer.bplist", trailer);
    Data counts = good;
    counts[counts.size() - 17] = 0xFF;  // an object count far beyond the file
    save(archives / "bad-object-count.bplist", counts);
    saveBoth("bad-archiver", [] {
        const Plist archive(dict({{"$archiver", str("NSArchiver")},
                                  {"$version", integer(100000)},
                                  {"$top", dict({{"root", uid(1)}})},
                                  {"$objects", array({str("$null")})}}));
        return toBinary(archive.get());
    }());
    saveBoth("bad-root-is-null", keyedArchive({classObject("NSColor")}, uid(0)));
    saveBoth(
        "bad-reference-beyond-objects",
        keyedArchive({colorObject({{"NSColorSpace", integer(1)}, {"NSRGB", bytes("1 1 1")}}, 9)}));
    saveBoth(
        "bad-class-is-itself",
        keyedArchive({colorObject({{"NSColorSpace", integer(1)}, {"NSRGB", bytes("1 1 1")}}, 1)}));
    saveBoth("bad-space-refers-to-colour",
             keyedArchive({colorObject({{"NSColorSpace", integer(1)},
                                        {"NSComponents", bytes("1 1 1 1")},
                                        {"NSCustomColorSpace", uid(1)}},
                                       2),
                           classObject("NSColor")}));
    saveBoth("bad-not-a-colour",
             keyedArchive({colorObject({{"NS.string", str("red")}}, 2), classObject("NSString")}));
    saveBoth("bad-catalog-colour", oneColor({{"NSColorSpace", integer(6)},
                                             {"NSCatalogName", str("System")},
                                             {"NSColorName", str("labelColor")}}));
    saveBoth("bad-nan", oneColor({{"NSColorSpace", integer(1)}, {"NSRGB", bytes("nan 0 0")}}));
    saveBoth("bad-infinite",
             oneColor({{"NSColorSpace", integer(1)}, {"NSRGB", bytes("1e999 0 0")}}));
    saveBoth("bad-garbage-after",
             oneColor({{"NSColorSpace", integer(1)}, {"NSRGB", bytes("0.5x 0 0")}}));
    saveBoth("bad-bytes-after-end", oneColor({{"NSColorSpace", integer(3)},
                                              {"NSWhite", bytes(std::string("0.5\0 1", 6))}}));
    saveBoth("bad-too-few", oneColor({{"NSColorSpace", integer(1)}, {"NSRGB", bytes("0.5 0.5")}}));
    saveBoth("bad-too-many",
             oneColor({{"NSColorSpace", integer(3)}, {"NSWhite", bytes("0.5 1 0.5")}}));
    saveBoth("bad-space-negative",
             oneColor({{"NSColorSpace", integer(-1)}, {"NSRGB", bytes("1 1 1")}}));

    // Shared references: each array holds the one before twice, 40 levels in a few hundred
    // bytes that a naive reader would expand to 2^40 nodes.
    std::vector<std::string> objects = {std::string("\x10\x00", 2)};
    for (std::uint16_t level = 1; level <= 40; ++level) {
        objects.push_back(arrayOfTwice(static_cast<std::uint16_t>(level - 1)));
    }
    save(archives / "bad-expands-exponentially.bplist", binaryPlist(objects, 40));
    // An array claiming 2^62 elements.
    save(archives / "bad-false-count.bplist",
         binaryPlist({std::string("\xAF\x13\x40\0\0\0\0\0\0\0\0\0", 12)}, 0));
    std::string deep =
        "<plist><dict><key>$archiver</key><string>NSKeyedArchiver</string>"
        "<key>$objects</key>";
    for (int i = 0; i < 2000; ++i) {
        deep += "<array>";
    }
    for (int i = 0; i < 2000; ++i) {
        deep += "</array>";
    }
    deep += "</dict></plist>";
    save(archives / "bad-deep-nesting.xml", deep);
}

void writeDomains() {
    const Data rgb = ours(Color::colorWithDeviceRed(0.2, 0.4, 0.6, 0.8));
    const Data custom = ours(Color::colorWithCustomSpace({0.1, 0.9, 0.5, 1.0}, 7, {1, 2, 3}));
    save(domains / "ok-binary.plist", domainWith(rgb, false));
    save(domains / "ok-xml.plist", domainWith(rgb, true));
    save(domains / "ok-custom-colour.plist", domainWith(custom, false));
    save(domains / "ok-only-the-colour.plist", [&] {
        const Plist domain(
            dict({{"selectedBackgroundColor",
                   plist_new_data(reinterpret_cast<const char*>(rgb.data()), rgb.size())}}));
        return toBinary(domain.get());
    }());
    save(domains / "no-colour.plist", [] {
        const Plist domain(dict({{"other", str("value")}, {"n", plist_new_real(-0.0)}}));
        return toBinary(domain.get());
    }());
    save(domains / "bad-colour-is-text.plist", [] {
        const Plist domain(dict({{"selectedBackgroundColor", str("red")}}));
        return toBinary(domain.get());
    }());
    save(domains / "bad-colour-is-garbage.plist", [] {
        const Plist domain(dict({{"selectedBackgroundColor", bytes("\xde\xad\xbe\xef")}}));
        return toBinary(domain.get());
    }());
    save(domains / "bad-list.plist", [] {
        const Plist domain(array({integer(1), str("two")}));
        return toBinary(domain.get());
    }());
    const Data whole = domainWith(rgb, false);
    save(domains / "bad-truncated.plist", Data(whole.begin(), whole.begin() + whole.size() / 2));
    save(domains / "bad-empty.plist", Data{});
    save(domains / "bad-not-a-plist.plist", std::string("selectedBackgroundColor = red;\n"));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
        return 2;
    }
    archives = fs::path(argv[1]) / "unarchive_color";
    domains = fs::path(argv[1]) / "defaults_file";
    fs::create_directories(archives);
    fs::create_directories(domains);
    writeArchives();
    writeDomains();
    return 0;
}
