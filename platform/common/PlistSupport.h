#pragma once

// Shared property-list plumbing of the common stores: ownership of libplist trees and a
// reader that keeps hostile input from costing more than its size.

#include <plist/plist.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/PropertyValue.h"

namespace platform::common::detail {

struct PlistFree {
    void operator()(void* node) const { plist_free(node); }
};

// Owns a libplist tree (plist_t is an untyped pointer).
using PlistPtr = std::unique_ptr<std::remove_pointer_t<plist_t>, PlistFree>;

// Frees what libplist hands over with malloc: iterators and dictionary keys.
struct FreeWithLibc {
    void operator()(void* memory) const { std::free(memory); }
};

// What one reader accepts. A binary property list may share objects, so a small file can
// describe a huge tree; node and depth limits apply to the tree it expands to.
struct PlistLimits {
    std::size_t maxBytes;
    std::size_t maxNodes;
    std::size_t maxDepth;
};

// Parses a binary or XML property list within `limits`. Gives nothing and a reason in
// `error` when the bytes are not a property list or would exceed the limits.
PlistPtr parsePropertyList(const std::uint8_t* bytes, std::size_t size, const PlistLimits& limits,
                           std::string& error);

// The binary property-list form of `root`, or nothing if libplist cannot write it.
std::optional<Data> writeBinaryPropertyList(plist_t root);

// The unsigned value of an integer node, or nothing for another type.
std::optional<std::uint64_t> integerValue(plist_t node);

// The text of a string node (empty if libplist holds none), or nothing for another type. It
// points into the node and lasts as long as the node does.
std::optional<std::string_view> stringValue(plist_t node);

// The bytes of a data node, or nothing for another type.
std::optional<Data> dataValue(plist_t node);

}  // namespace platform::common::detail
