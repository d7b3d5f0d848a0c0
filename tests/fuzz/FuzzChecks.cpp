#include "tests/fuzz/FuzzChecks.h"

#include <plist/plist.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <utility>
#include <variant>
#include <vector>

#include "platform/common/DefaultsFile.h"
#include "platform/common/KeyedArchive.h"
#include "platform/common/XmlNesting.h"

namespace vellumor::fuzz {

namespace {

using platform::Color;
using platform::ColorSpaceModel;
using platform::Data;
using platform::PropertyValue;

const char* const kColorKey = "selectedBackgroundColor";
// Keys a domain may hold, and the key a write adds.
const char* const kKeys[] = {kColorKey, "", "NSColorSpace", "$objects", "k"};
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
    if (before && after) {
        if (std::holds_alternative<platform::Date>(*before)) {
            return std::holds_alternative<platform::Date>(*after);
        }
        const double* a = std::get_if<double>(&*before);
        const double* b = std::get_if<double>(&*after);
        if (a != nullptr && b != nullptr && std::isnan(*a) && std::isnan(*b)) {
            return true;
        }
    }
    return before == after;
}

// How deeply arrays and dictionaries nest in a tree libplist built, without recursion.
std::size_t containerDepth(plist_t root) {
    std::vector<std::pair<plist_t, std::size_t>> pending{{root, 0}};
    std::size_t deepest = 0;
    while (!pending.empty()) {
        const auto [node, above] = pending.back();
        pending.pop_back();
        const plist_type type = plist_get_node_type(node);
        if (type != PLIST_ARRAY && type != PLIST_DICT) {
            continue;
        }
        deepest = std::max(deepest, above + 1);
        const bool isArray = type == PLIST_ARRAY;
        const std::uint32_t count =
            isArray ? plist_array_get_size(node) : plist_dict_get_size(node);
        plist_dict_iter iterator = nullptr;
        if (!isArray) {
            plist_dict_new_iter(node, &iterator);
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            plist_t item = nullptr;
            if (isArray) {
                item = plist_array_get_item(node, i);
            } else {
                plist_dict_next_item(node, iterator, nullptr, &item);
            }
            pending.emplace_back(item, above + 1);
        }
        std::free(iterator);
    }
    return deepest;
}

Data bytesOf(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return Data(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

std::optional<std::string> checkXmlNesting(std::string_view text) {
    // Deep enough to exercise every tag, shallow enough for libplist to free by recursion.
    constexpr std::size_t kReadable = 2000;
    if (text.starts_with("bplist00") || text.size() > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    const std::size_t bound = platform::common::detail::xmlNestingBound(text, kReadable);
    if (bound > kReadable) {
        return std::nullopt;
    }
    plist_t root = nullptr;
    plist_from_xml(text.data(), static_cast<std::uint32_t>(text.size()), &root);
    if (root == nullptr) {
        return std::nullopt;
    }
    const std::size_t depth = containerDepth(root);
    if (depth > bound) {
        // Left allocated: a tree deeper than measured may be too deep to free.
        return "libplist nests " + std::to_string(depth) + " levels where the text measured " +
               std::to_string(bound);
    }
    plist_free(root);
    return std::nullopt;
}

std::optional<std::string> checkColorArchive(const Data& bytes, std::optional<Color>* decoded) {
    std::string error;
    const auto color = platform::common::unarchiveColor(bytes, &error);
    if (decoded != nullptr) {
        *decoded = color;
    }
    if (!color) {
        return error.empty() ? std::optional<std::string>("a refused archive carries no reason")
                             : std::nullopt;
    }
    const auto& components = color->components();
    const ColorSpaceModel model = color->colorSpaceModel();
    const bool rgb = model == ColorSpaceModel::CalibratedRGB || model == ColorSpaceModel::DeviceRGB;
    const bool white =
        model == ColorSpaceModel::CalibratedWhite || model == ColorSpaceModel::DeviceWhite;
    if (rgb || white ? components.size() != (rgb ? 4u : 2u) : components.size() < 2) {
        return "a colour read has the wrong number of components for its space";
    }
    if (!std::all_of(components.begin(), components.end(),
                     [](double v) { return std::isfinite(v); })) {
        return "a colour read has a component that is not a finite number";
    }
    const auto archived = platform::common::archiveColor(*color, &error);
    if (!archived) {
        // Only a huge ICC profile may make an archive too large to read back.
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

std::optional<std::string> checkDefaultsFile(const std::filesystem::path& file, bool write,
                                             std::optional<Color>* color) {
    const Data before = bytesOf(file);
    platform::common::DefaultsFile defaults(file);
    std::vector<std::optional<PropertyValue>> values;
    for (const char* key : kKeys) {
        values.push_back(defaults.objectForKey(key));
    }
    if (color != nullptr) {
        color->reset();
    }
    if (const auto data = defaults.dataForKey(kColorKey)) {
        if (auto broken = checkColorArchive(*data, color)) {
            return broken;
        }
    }
    if (bytesOf(file) != before) {
        return "reading the domain changed its file";
    }
    if (!write) {
        return std::nullopt;
    }
    if (!defaults.setObject(std::int64_t{42}, kAddedKey)) {
        return "a write into a writable directory failed";
    }
    const platform::common::DefaultsFile reopened(file);
    if (reopened.objectForKey(kAddedKey) != PropertyValue(std::int64_t{42})) {
        return "a fresh reader does not find the key just written";
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!sameValue(values[i], reopened.objectForKey(kKeys[i]))) {
            return std::string("the value under '") + kKeys[i] + "' changed with a write";
        }
    }
    return std::nullopt;
}

}  // namespace vellumor::fuzz
