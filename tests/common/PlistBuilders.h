#pragma once

// Builders for property lists and keyed archives laid out by hand, the way other writers
// (macOS among them) may lay them out, plus access to what our writers produced.

#include <plist/plist.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/PropertyValue.h"

namespace test {

struct PlistFree {
    void operator()(void* node) const { plist_free(node); }
};
using Plist = std::unique_ptr<std::remove_pointer_t<plist_t>, PlistFree>;

inline plist_t dict(std::initializer_list<std::pair<const char*, plist_t>> entries) {
    plist_t node = plist_new_dict();
    for (const auto& [key, value] : entries) {
        plist_dict_set_item(node, key, value);
    }
    return node;
}

inline plist_t array(std::initializer_list<plist_t> items) {
    plist_t node = plist_new_array();
    for (plist_t item : items) {
        plist_array_append_item(node, item);
    }
    return node;
}

inline plist_t bytes(std::string_view text) {
    return plist_new_data(text.data(), text.size());
}

inline plist_t str(const char* text) {
    return plist_new_string(text);
}
inline plist_t uid(std::uint64_t index) {
    return plist_new_uid(index);
}
inline plist_t integer(std::int64_t value) {
    return plist_new_uint(static_cast<std::uint64_t>(value));
}

inline plist_t classObject(const char* name) {
    return dict({{"$classes", array({str(name), str("NSObject")})}, {"$classname", str(name)}});
}

inline platform::Data toBinary(plist_t root) {
    char* out = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(root, &out, &length);
    platform::Data data(out, out + length);
    plist_to_bin_free(out);
    return data;
}

inline std::string toXml(plist_t root) {
    char* out = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(root, &out, &length);
    std::string text(out, length);
    plist_to_xml_free(out);
    return text;
}

// A keyed archive with `objects` after $null, keys in another order than ours. Takes
// ownership of the nodes.
inline platform::Data keyedArchive(std::initializer_list<plist_t> objects, plist_t root = uid(1)) {
    plist_t list = array({str("$null")});
    for (plist_t object : objects) {
        plist_array_append_item(list, object);
    }
    const Plist archive(dict({{"$version", integer(100000)},
                              {"$objects", list},
                              {"$archiver", str("NSKeyedArchiver")},
                              {"$top", dict({{"root", root}})}}));
    return toBinary(archive.get());
}

inline Plist parse(const platform::Data& data) {
    plist_t root = nullptr;
    plist_from_memory(reinterpret_cast<const char*>(data.data()),
                      static_cast<std::uint32_t>(data.size()), &root);
    return Plist(root);
}

inline std::string dataText(plist_t node) {
    std::uint64_t length = 0;
    const char* text = plist_get_data_ptr(node, &length);
    return std::string(text, length);
}

inline std::string stringValue(plist_t node) {
    std::uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    return text != nullptr ? std::string(text, length) : std::string();
}

inline std::uint64_t uidValue(plist_t node) {
    std::uint64_t value = 0;
    plist_get_uid_val(node, &value);
    return value;
}

}  // namespace test
