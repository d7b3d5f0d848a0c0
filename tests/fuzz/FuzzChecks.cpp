#include "tests/fuzz/FuzzChecks.h"

#include <plist/plist.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <variant>

#include "platform/common/DefaultsFile.h"
#include "platform/common/KeyedArchive.h"
#include "platform/common/XmlNesting.h"

namespace vellumor::fuzz {

namespace {

namespace fs = std::filesystem;
using platform::Color;
using platform::Data;
using platform::PropertyValue;

// Keys a domain may hold, the colour's first, and the key a write adds.
const char* const kKeys[] = {"selectedBackgroundColor", "", "NSColorSpace", "$objects", "k"};
const char* const kAddedKey = "vellumor.replay";

// Archived components keep ten significant digits.
bool closeEnough(const Color& read, const Color& again) {
    const auto& a = read.components();
    const auto& b = again.components();
    return read.colorSpaceModel() == again.colorSpaceModel() &&
           read.colorSpaceId() == again.colorSpaceId() && read.iccProfile() == again.iccProfile() &&
           std::equal(a.begin(), a.end(), b.begin(), b.end(), [](double x, double y) {
               return x == y || std::fabs(x - y) <= 1e-9 * std::max(std::fabs(x), std::fabs(y));
           });
}

// Whether a value read after a write is the one read before it. Dates are kept to the
// microsecond and within the years a binary file can hold, so only their kind must stay.
bool sameValue(const std::optional<PropertyValue>& before,
               const std::optional<PropertyValue>& after) {
    if (before && after && std::holds_alternative<platform::Date>(*before)) {
        return std::holds_alternative<platform::Date>(*after);
    }
    const double* a = before ? std::get_if<double>(&*before) : nullptr;
    const double* b = after ? std::get_if<double>(&*after) : nullptr;
    return before == after || (a != nullptr && b != nullptr && std::isnan(*a) && std::isnan(*b));
}

// How deeply arrays and dictionaries nest from `node` down, counted to `limit` levels at most.
std::size_t depth(plist_t node, std::size_t limit) {
    const plist_type type = plist_get_node_type(node);
    if (limit == 0 || (type != PLIST_ARRAY && type != PLIST_DICT)) {
        return 0;
    }
    const bool isArray = type == PLIST_ARRAY;
    const std::uint32_t count = isArray ? plist_array_get_size(node) : plist_dict_get_size(node);
    void* iterator = nullptr;
    isArray ? plist_array_new_iter(node, &iterator) : plist_dict_new_iter(node, &iterator);
    std::size_t below = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        plist_t item = nullptr;
        isArray ? plist_array_next_item(node, iterator, &item)
                : plist_dict_next_item(node, iterator, nullptr, &item);
        below = std::max(below, depth(item, limit - 1));
    }
    std::free(iterator);
    return below + 1;
}

// The defaults file the checks write, in a directory of this process's own, in memory where
// the system offers it (every write is synced when its domain is closed), removed at exit.
const fs::path& scratchFile() {
    static const fs::path* const file = [] {
        const fs::path base = fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path();
        std::string pattern = (base / "vellumor-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();  // nowhere to check the defaults file
        }
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(scratchFile().parent_path(), ignored);
        });
        return new fs::path(fs::path(pattern) / "org.vellumor.Vellumor.plist");
    }();
    return *file;
}

std::optional<std::string> checkColorArchive(const Data& bytes, std::optional<Color>* decoded) {
    std::string error;
    const auto color = platform::common::unarchiveColor(bytes, &error);
    *decoded = color;
    if (!color) {
        return error.empty() ? std::optional<std::string>("a refused archive carries no reason")
                             : std::nullopt;
    }
    const auto archived = platform::common::archiveColor(*color, &error);
    if (!archived) {
        // The writer refuses what the reader must never give (a component that is not finite,
        // too many or too few for the space); only a huge ICC profile may make an archive too
        // large to read back.
        return color->iccProfile().size() < 512 * 1024
                   ? std::optional("a colour read cannot be archived again: " + error)
                   : std::nullopt;
    }
    const auto again = platform::common::unarchiveColor(*archived, &error);
    if (!again || !closeEnough(*color, *again)) {
        return "a colour read and archived again does not read back as itself: " + error;
    }
    // After one round the archive is exact.
    const auto rearchived = platform::common::archiveColor(*again, &error);
    if (!rearchived || platform::common::unarchiveColor(*rearchived) != *again) {
        return "a colour archived a second time does not read back exactly";
    }
    return std::nullopt;
}

// Measures how deeply `text` nests before libplist reads it and, when that is shallow enough to
// read safely, checks that libplist builds a tree no deeper.
std::optional<std::string> checkXmlNesting(std::string_view text) {
    // Deep enough to exercise every tag, shallow enough for libplist to free by recursion.
    constexpr std::size_t kReadable = 2000;
    if (text.starts_with("bplist00") || text.size() > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    const std::size_t bound = platform::common::detail::xmlNestingBound(text, kReadable);
    plist_t root = nullptr;
    if (bound <= kReadable) {
        plist_from_xml(text.data(), static_cast<std::uint32_t>(text.size()), &root);
    }
    if (root == nullptr) {
        return std::nullopt;
    }
    if (const std::size_t deeper = depth(root, bound + 1); deeper > bound) {
        // Left allocated: a tree deeper than measured may be too deep to free.
        return "libplist nests " + std::to_string(deeper) + "+ levels where the text measured " +
               std::to_string(bound);
    }
    plist_free(root);
    return std::nullopt;
}

std::optional<std::string> checkDefaultsFile(const Data& bytes, std::optional<Color>* color) {
    if (auto broken =
            checkXmlNesting({reinterpret_cast<const char*>(bytes.data()), bytes.size()})) {
        return broken;
    }
    const fs::path& file = scratchFile();
    if (!std::ofstream(file, std::ios::binary | std::ios::trunc)
             .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()))) {
        return "the input cannot be written to " + file.string();
    }
    platform::common::DefaultsFile defaults(file);
    std::vector<std::optional<PropertyValue>> values;
    for (const char* key : kKeys) {
        values.push_back(defaults.objectForKey(key));
    }
    if (const auto data = defaults.dataForKey(kKeys[0])) {
        if (auto broken = checkColorArchive(*data, color)) {
            return broken;
        }
    }
    std::ifstream in(file, std::ios::binary);
    if (Data(std::istreambuf_iterator<char>(in), {}) != bytes) {
        return "reading the domain changed its file";
    }
    const bool written = defaults.setObject(std::int64_t{42}, kAddedKey);
    const platform::common::DefaultsFile reopened(file);
    if (!written || reopened.objectForKey(kAddedKey) != PropertyValue(std::int64_t{42})) {
        return "a write into a private directory fails, or a fresh reader does not find it";
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!sameValue(values[i], reopened.objectForKey(kKeys[i]))) {
            return std::string("the value under '") + kKeys[i] + "' changed with a write";
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> check(std::string_view target, const Data& bytes,
                                 std::optional<Color>* color) {
    std::optional<Color> ignored;
    color = color != nullptr ? color : &ignored;
    color->reset();
    return target == "unarchive_color" ? checkColorArchive(bytes, color)
           : target == "defaults_file" ? checkDefaultsFile(bytes, color)
                                       : std::optional("no fuzz target " + std::string(target));
}

}  // namespace vellumor::fuzz
