#include "platform/common/PlistSupport.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <utility>
#include <vector>

#include "platform/common/XmlNesting.h"

namespace platform::common::detail {

namespace {

constexpr std::size_t kMagicSize = 8;
constexpr std::size_t kTrailerSize = 32;

bool isBinaryPropertyList(const std::uint8_t* bytes, std::size_t size) {
    return size >= kMagicSize && std::memcmp(bytes, "bplist00", kMagicSize) == 0;
}

std::uint64_t readBigEndian(const std::uint8_t* bytes, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

// libplist expands every reference of a binary property list into a node of its own, so
// objects shared through references (which the format allows, and which writers use to
// store equal values once) can make a few hundred bytes expand to billions of nodes. Its
// parser also recurses once per nesting level. This walks the object table without building
// anything and measures the tree libplist would build, so that only input within the limits
// reaches libplist. It checks the layout it relies on and leaves the values to libplist.
class BinaryShape {
public:
    BinaryShape(const std::uint8_t* bytes, std::size_t size) : bytes_(bytes), size_(size) {}

    bool check(const PlistLimits& limits, std::string& error) {
        if (!readTrailer(limits, error)) {
            return false;
        }
        return measure(limits, error);
    }

private:
    struct Frame {
        std::uint64_t index;
        std::vector<std::uint64_t> references;
        std::size_t next = 0;
        std::uint64_t nodes = 1;
        std::uint64_t depth = 0;
    };

    bool readTrailer(const PlistLimits& limits, std::string& error) {
        if (size_ < kMagicSize + 1 + kTrailerSize) {
            error = "binary property list is truncated";
            return false;
        }
        const std::uint8_t* trailer = bytes_ + (size_ - kTrailerSize);
        offsetSize_ = trailer[6];
        referenceSize_ = trailer[7];
        objectCount_ = readBigEndian(trailer + 8, 8);
        topObject_ = readBigEndian(trailer + 16, 8);
        tableOffset_ = readBigEndian(trailer + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || referenceSize_ < 1 || referenceSize_ > 8) {
            error = "binary property list has invalid offset or reference sizes";
            return false;
        }
        if (objectCount_ == 0 || objectCount_ > limits.maxNodes) {
            error = "binary property list has an unacceptable number of objects";
            return false;
        }
        if (topObject_ >= objectCount_) {
            error = "binary property list names a top object that does not exist";
            return false;
        }
        const std::uint64_t tableEnd = size_ - kTrailerSize;
        // objectCount_ is at most maxNodes, so the product cannot overflow.
        if (tableOffset_ < kMagicSize || tableOffset_ > tableEnd ||
            objectCount_ * offsetSize_ > tableEnd - tableOffset_) {
            error = "binary property list has its offset table out of bounds";
            return false;
        }
        return true;
    }

    // Bytes available from `position` up to the offset table (which ends the objects).
    std::uint64_t available(std::uint64_t position) const {
        return position <= tableOffset_ ? tableOffset_ - position : 0;
    }

    // Reads the element count of a variable-length object, which is either in the marker's
    // low nibble or in an integer object that follows the marker.
    bool readCount(unsigned info, std::uint64_t& position, std::uint64_t& count,
                   std::string& error) const {
        if (info != 0xF) {
            count = info;
            return true;
        }
        if (available(position) < 1) {
            error = "binary property list object is truncated";
            return false;
        }
        const std::uint8_t marker = bytes_[position];
        const unsigned widthExponent = marker & 0xFU;
        if ((marker >> 4) != 0x1 || widthExponent > 3) {
            error = "binary property list object has an invalid length";
            return false;
        }
        const std::uint64_t width = std::uint64_t{1} << widthExponent;
        if (available(position + 1) < width) {
            error = "binary property list object is truncated";
            return false;
        }
        count = readBigEndian(bytes_ + position + 1, static_cast<std::size_t>(width));
        position += 1 + width;
        return true;
    }

    // Checks that object `index` lies within the object area and gives the objects it refers
    // to (none for scalars; keys then values for dictionaries).
    bool readObject(std::uint64_t index, std::vector<std::uint64_t>& references,
                    std::string& error) const {
        references.clear();
        const std::uint64_t offset = readBigEndian(bytes_ + tableOffset_ + index * offsetSize_,
                                                   static_cast<std::size_t>(offsetSize_));
        if (offset < kMagicSize || offset >= tableOffset_) {
            error = "binary property list object lies outside the object area";
            return false;
        }
        const std::uint8_t marker = bytes_[offset];
        const unsigned type = marker >> 4;
        const unsigned info = marker & 0xFU;
        std::uint64_t position = offset + 1;
        std::uint64_t payload = 0;
        std::uint64_t referenceCount = 0;
        switch (type) {
            case 0x0:  // null, false, true, fill
                if (info != 0x0 && info != 0x8 && info != 0x9 && info != 0xF) {
                    error = "binary property list has an unknown object type";
                    return false;
                }
                break;
            case 0x1:  // integer of 2^info bytes
                if (info > 4) {
                    error = "binary property list integer has an invalid size";
                    return false;
                }
                payload = std::uint64_t{1} << info;
                break;
            case 0x2:  // real of 2^info bytes
                if (info < 2 || info > 3) {
                    error = "binary property list real has an invalid size";
                    return false;
                }
                payload = std::uint64_t{1} << info;
                break;
            case 0x3:  // date
                if (info != 3) {
                    error = "binary property list date has an invalid size";
                    return false;
                }
                payload = 8;
                break;
            case 0x4:  // data
            case 0x5:  // ASCII string
                if (!readCount(info, position, payload, error)) {
                    return false;
                }
                break;
            case 0x6: {  // UTF-16 string: count is in code units
                std::uint64_t units = 0;
                if (!readCount(info, position, units, error)) {
                    return false;
                }
                if (units > available(position) / 2) {
                    error = "binary property list object is truncated";
                    return false;
                }
                payload = units * 2;
                break;
            }
            case 0x8:  // UID of info + 1 bytes, at most 64 bits
                if (info > 7) {
                    error = "binary property list UID has an invalid size";
                    return false;
                }
                payload = std::uint64_t{info} + 1;
                break;
            case 0xA:  // array
            case 0xC:  // set
                if (!readCount(info, position, referenceCount, error)) {
                    return false;
                }
                break;
            case 0xD:  // dictionary: keys, then values
                if (!readCount(info, position, referenceCount, error)) {
                    return false;
                }
                if (referenceCount > available(position) / 2) {
                    error = "binary property list object is truncated";
                    return false;
                }
                referenceCount *= 2;
                break;
            default:
                error = "binary property list has an unknown object type";
                return false;
        }
        if (payload > available(position)) {
            error = "binary property list object is truncated";
            return false;
        }
        if (referenceCount > available(position) / referenceSize_) {
            error = "binary property list object is truncated";
            return false;
        }
        references.reserve(static_cast<std::size_t>(referenceCount));
        for (std::uint64_t i = 0; i < referenceCount; ++i) {
            const std::uint64_t reference = readBigEndian(bytes_ + position + i * referenceSize_,
                                                          static_cast<std::size_t>(referenceSize_));
            if (reference >= objectCount_) {
                error = "binary property list refers to an object that does not exist";
                return false;
            }
            // libplist asserts, ending the process, when asked for a key that holds a NUL.
            if (type == 0xD && i < referenceCount / 2 && stringHoldsNul(reference)) {
                error = "binary property list has a key holding a NUL character";
                return false;
            }
            references.push_back(reference);
        }
        return true;
    }

    // Whether object `index` is a string (ASCII or UTF-16) holding a NUL character. Objects
    // out of bounds are not strings here; reading them as objects reports them.
    bool stringHoldsNul(std::uint64_t index) const {
        const std::uint64_t offset = readBigEndian(bytes_ + tableOffset_ + index * offsetSize_,
                                                   static_cast<std::size_t>(offsetSize_));
        if (offset < kMagicSize || offset >= tableOffset_) {
            return false;
        }
        const unsigned type = bytes_[offset] >> 4;
        if (type != 0x5 && type != 0x6) {
            return false;
        }
        std::uint64_t position = offset + 1;
        std::uint64_t count = 0;
        std::string ignored;
        if (!readCount(bytes_[offset] & 0xFU, position, count, ignored)) {
            return false;
        }
        const std::uint64_t width = type == 0x6 ? 2 : 1;
        if (count > available(position) / width) {
            return false;
        }
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint8_t* unit = bytes_ + position + i * width;
            if (unit[0] == 0 && (width == 1 || unit[1] == 0)) {
                return true;
            }
        }
        return false;
    }

    // Post-order walk from the top object, counting each object once per reference as
    // libplist would, without recursion so that the walk itself cannot exhaust the stack.
    bool measure(const PlistLimits& limits, std::string& error) {
        enum : std::uint8_t { kUnseen, kOpen, kDone };
        const auto count = static_cast<std::size_t>(objectCount_);
        std::vector<std::uint8_t> state(count, kUnseen);
        std::vector<std::uint64_t> nodes(count, 0);
        std::vector<std::uint64_t> depths(count, 0);
        std::vector<Frame> stack;

        const auto open = [&](std::uint64_t index) {
            if (stack.size() >= limits.maxDepth) {
                error = "property list is nested too deeply";
                return false;
            }
            Frame frame{index, {}};
            if (!readObject(index, frame.references, error)) {
                return false;
            }
            state[static_cast<std::size_t>(index)] = kOpen;
            stack.push_back(std::move(frame));
            return true;
        };
        const auto addChild = [&](Frame& parent, std::uint64_t childNodes,
                                  std::uint64_t childDepth) {
            parent.nodes += childNodes;
            parent.depth = std::max(parent.depth, childDepth);
            if (parent.nodes > limits.maxNodes) {
                error = "property list expands to too many objects";
                return false;
            }
            return true;
        };

        if (!open(topObject_)) {
            return false;
        }
        while (!stack.empty()) {
            Frame& frame = stack.back();
            if (frame.next < frame.references.size()) {
                const std::uint64_t child = frame.references[frame.next++];
                const auto slot = static_cast<std::size_t>(child);
                if (state[slot] == kOpen) {
                    error = "property list object contains itself";
                    return false;
                }
                if (state[slot] == kDone) {
                    if (!addChild(frame, nodes[slot], depths[slot])) {
                        return false;
                    }
                } else if (!open(child)) {
                    return false;
                }
                continue;
            }
            const auto slot = static_cast<std::size_t>(frame.index);
            nodes[slot] = frame.nodes;
            depths[slot] = frame.depth + 1;
            state[slot] = kDone;
            stack.pop_back();
            if (!stack.empty() && !addChild(stack.back(), nodes[slot], depths[slot])) {
                return false;
            }
        }
        return true;
    }

    const std::uint8_t* bytes_;
    std::uint64_t size_;
    std::uint64_t offsetSize_ = 0;
    std::uint64_t referenceSize_ = 0;
    std::uint64_t objectCount_ = 0;
    std::uint64_t topObject_ = 0;
    std::uint64_t tableOffset_ = 0;
};

using IteratorPtr = std::unique_ptr<void, FreeWithLibc>;

// Checks a tree that libplist built against the limits, so that later walks and writes over it
// stay bounded too.
bool treeWithinLimits(plist_t root, const PlistLimits& limits, std::string& error) {
    std::deque<std::pair<plist_t, std::size_t>> pending{{root, 1}};
    std::size_t seen = 0;
    while (!pending.empty()) {
        const auto [node, depth] = pending.front();
        pending.pop_front();
        if (++seen > limits.maxNodes) {
            error = "property list has too many objects";
            return false;
        }
        if (depth > limits.maxDepth) {
            error = "property list is nested too deeply";
            return false;
        }
        const plist_type type = plist_get_node_type(node);
        if (type == PLIST_ARRAY) {
            plist_array_iter raw = nullptr;
            plist_array_new_iter(node, &raw);
            const IteratorPtr iterator(raw);
            for (plist_t item = nullptr;;) {
                plist_array_next_item(node, raw, &item);
                if (item == nullptr) {
                    break;
                }
                pending.emplace_back(item, depth + 1);
            }
        } else if (type == PLIST_DICT) {
            plist_dict_iter raw = nullptr;
            plist_dict_new_iter(node, &raw);
            const IteratorPtr iterator(raw);
            for (plist_t item = nullptr;;) {
                plist_dict_next_item(node, raw, nullptr, &item);
                if (item == nullptr) {
                    break;
                }
                pending.emplace_back(item, depth + 1);
            }
        }
    }
    return true;
}

}  // namespace

PlistPtr parsePropertyList(const std::uint8_t* bytes, std::size_t size, const PlistLimits& limits,
                           std::string& error) {
    if (size == 0) {
        error = "no property list (empty input)";
        return nullptr;
    }
    if (size > limits.maxBytes) {
        error = "property list is too large";
        return nullptr;
    }
    // libplist takes 32-bit lengths and a char buffer.
    const auto length = static_cast<std::uint32_t>(size);
    const char* text = reinterpret_cast<const char*>(bytes);
    // libplist only fills an output pointer that starts out null.
    plist_t raw = nullptr;
    if (isBinaryPropertyList(bytes, size)) {
        if (!BinaryShape(bytes, size).check(limits, error)) {
            return nullptr;
        }
        plist_from_bin(text, length, &raw);
    } else {
        // libplist 2.2 reads XML in a loop but copies, writes and frees the tree it built by
        // recursion, one stack frame per level: a few megabytes of nested tags, closed or
        // left open, overflow the stack when the tree is freed.
        if (xmlNestingBound(std::string_view(text, size), limits.maxDepth) > limits.maxDepth) {
            error = "property list is nested too deeply";
            return nullptr;
        }
        plist_from_xml(text, length, &raw);
    }
    PlistPtr root(raw);
    if (!root) {
        error = "not a property list";
        return nullptr;
    }
    if (!treeWithinLimits(root.get(), limits, error)) {
        return nullptr;
    }
    return root;
}

std::optional<Data> writeBinaryPropertyList(plist_t root) {
    char* bytes = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    if (bytes == nullptr) {
        return std::nullopt;
    }
    const auto* begin = reinterpret_cast<const std::uint8_t*>(bytes);
    Data out(begin, begin + length);
    plist_to_bin_free(bytes);
    return out;
}

std::optional<std::uint64_t> integerValue(plist_t node) {
    if (node == nullptr || plist_get_node_type(node) != PLIST_UINT) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    plist_get_uint_val(node, &value);
    return value;
}

std::optional<std::string_view> stringValue(plist_t node) {
    if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) {
        return std::nullopt;
    }
    std::uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    if (text == nullptr) {
        return std::string_view{};
    }
    return std::string_view(text, static_cast<std::size_t>(length));
}

std::optional<Data> dataValue(plist_t node) {
    if (node == nullptr || plist_get_node_type(node) != PLIST_DATA) {
        return std::nullopt;
    }
    std::uint64_t length = 0;
    const char* bytes = plist_get_data_ptr(node, &length);
    if (bytes == nullptr || length == 0) {
        return Data{};
    }
    const auto* begin = reinterpret_cast<const std::uint8_t*>(bytes);
    return Data(begin, begin + length);
}

}  // namespace platform::common::detail
