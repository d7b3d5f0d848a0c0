#include "platform/common/KeyedArchive.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/common/PlistSupport.h"

namespace platform::common {

namespace {

using detail::PlistLimits;
using detail::PlistPtr;

// A colour archive is a few hundred bytes, a few kilobytes with an ICC profile; anything far
// beyond that is not one, and refusing it early bounds the work.
constexpr PlistLimits kArchiveLimits{1024 * 1024, 4096, 32};
// Colour spaces have at most 15 components besides alpha.
constexpr std::size_t kMaxComponents = 16;
// Room for kMaxComponents numbers of any length printf-style formatting gives them.
constexpr std::size_t kMaxComponentText = 1024;
// The version NSKeyedArchiver writes.
constexpr std::uint64_t kArchiveVersion = 100000;
// Object indices within archives we write.
constexpr std::uint64_t kColorIndex = 1;
constexpr std::uint64_t kColorClassIndex = 2;
constexpr std::uint64_t kColorSpaceIndex = 3;
constexpr std::uint64_t kColorSpaceClassIndex = 4;

void setError(std::string* error, std::string message) {
    if (error != nullptr) {
        *error = std::move(message);
    }
}

// ---- writing ----

// One number as printf("%.10g") prints it in the C locale, which is how NSColor archives
// store components; std::to_chars does not depend on the process locale.
void appendNumber(std::string& text, double value) {
    char buffer[32];
    const auto result =
        std::to_chars(std::begin(buffer), std::end(buffer), value, std::chars_format::general, 10);
    text.append(buffer, result.ptr);
}

// Components as NSColor archives them: ASCII numbers separated by single spaces, ending in
// one NUL byte.
Data componentText(const std::vector<double>& values) {
    std::string text;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i != 0) {
            text.push_back(' ');
        }
        appendNumber(text, values[i]);
    }
    text.push_back('\0');
    return Data(text.begin(), text.end());
}

// Colour components, with alpha only when the colour is not opaque (the reader takes a
// missing alpha as 1).
Data componentTextWithAlpha(std::vector<double> colour, double alpha) {
    if (alpha != 1.0) {
        colour.push_back(alpha);
    }
    return componentText(colour);
}

plist_t dataNode(const Data& bytes) {
    return plist_new_data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

plist_t classNode(const char* name) {
    plist_t node = plist_new_dict();
    plist_dict_set_item(node, "$classname", plist_new_string(name));
    plist_t classes = plist_new_array();
    plist_array_append_item(classes, plist_new_string(name));
    plist_array_append_item(classes, plist_new_string("NSObject"));
    plist_dict_set_item(node, "$classes", classes);
    return node;
}

bool archivable(const Color& color, std::string* error) {
    const auto& components = color.components();
    if (components.empty() || components.size() > kMaxComponents) {
        setError(error, "colour has an unusable number of components");
        return false;
    }
    if (!std::all_of(components.begin(), components.end(),
                     [](double value) { return std::isfinite(value); })) {
        setError(error, "colour has a component that is not a finite number");
        return false;
    }
    return true;
}

// ---- reading ----

bool isWhitespace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Parses archived component text: finite decimal numbers separated by whitespace, optionally
// ending in one NUL byte. Gives between `minimum` and `maximum` numbers or nothing.
std::optional<std::vector<double>> parseComponents(std::string_view text, std::size_t minimum,
                                                   std::size_t maximum, const char* key,
                                                   std::string& error) {
    const std::string name(key);
    if (text.size() > kMaxComponentText) {
        error = name + " is too long";
        return std::nullopt;
    }
    if (!text.empty() && text.back() == '\0') {
        text.remove_suffix(1);
    }
    if (text.find('\0') != std::string_view::npos) {
        error = name + " has bytes after its end";
        return std::nullopt;
    }
    std::vector<double> values;
    const char* position = text.data();
    const char* const end = text.data() + text.size();
    for (;;) {
        while (position != end && isWhitespace(*position)) {
            ++position;
        }
        if (position == end) {
            break;
        }
        if (values.size() == maximum) {
            error = name + " has too many components";
            return std::nullopt;
        }
        double value = 0.0;
        const auto [next, status] =
            std::from_chars(position, end, value, std::chars_format::general);
        if (status != std::errc{} || !std::isfinite(value)) {
            error = name + " has a component that is not a finite number";
            return std::nullopt;
        }
        if (next != end && !isWhitespace(*next)) {
            error = name + " has trailing garbage after a component";
            return std::nullopt;
        }
        values.push_back(value);
        position = next;
    }
    if (values.size() < minimum) {
        error = name + " has too few components";
        return std::nullopt;
    }
    return values;
}

// The text of a component entry: data as NSColor writes it, or a string.
std::optional<std::string_view> textOf(plist_t node) {
    if (auto text = detail::stringValue(node)) {
        return text;
    }
    if (node == nullptr || plist_get_node_type(node) != PLIST_DATA) {
        return std::nullopt;
    }
    std::uint64_t length = 0;
    const char* bytes = plist_get_data_ptr(node, &length);
    if (bytes == nullptr) {
        return std::string_view{};
    }
    return std::string_view(bytes, static_cast<std::size_t>(length));
}

bool isString(plist_t node, std::string_view expected) {
    const auto text = detail::stringValue(node);
    return text && *text == expected;
}

plist_t entry(plist_t dict, const char* key) {
    return plist_get_node_type(dict) == PLIST_DICT ? plist_dict_get_item(dict, key) : nullptr;
}

// Reads an archive's object graph, following references by index into $objects.
class ArchiveReader {
public:
    explicit ArchiveReader(std::string& error) : error_(error) {}

    std::optional<Color> read(const Data& data) {
        root_ = detail::parsePropertyList(data.data(), data.size(), kArchiveLimits, error_);
        if (!root_) {
            return std::nullopt;
        }
        if (plist_get_node_type(root_.get()) != PLIST_DICT) {
            return fail("not a keyed archive (top level is not a dictionary)");
        }
        if (!isString(entry(root_.get(), "$archiver"), "NSKeyedArchiver")) {
            return fail("not a keyed archive ($archiver is not NSKeyedArchiver)");
        }
        if (!detail::integerValue(entry(root_.get(), "$version"))) {
            return fail("not a keyed archive ($version is not an integer)");
        }
        objects_ = entry(root_.get(), "$objects");
        if (objects_ == nullptr || plist_get_node_type(objects_) != PLIST_ARRAY) {
            return fail("not a keyed archive ($objects is not an array)");
        }
        objectCount_ = plist_array_get_size(objects_);
        const plist_t top = entry(root_.get(), "$top");
        if (top == nullptr || plist_get_node_type(top) != PLIST_DICT) {
            return fail("not a keyed archive ($top is not a dictionary)");
        }
        const auto color = follow(plist_dict_get_item(top, "root"), {}, "root object");
        if (!color || !hasClass(*color, {}, "NSColor")) {
            return std::nullopt;
        }
        return readColor(*color);
    }

private:
    struct Object {
        plist_t node;
        std::uint64_t index;
    };
    // The indices of the objects being read around a reference.
    using Chain = std::vector<std::uint64_t>;

    std::nullopt_t fail(std::string message) {
        error_ = std::move(message);
        return std::nullopt;
    }

    // The index a reference holds. Binary archives store UIDs; libplist reads the XML form
    // of a UID ({CF$UID = n}) as a one-entry dictionary, which is accepted as well.
    static std::optional<std::uint64_t> referenceIndex(plist_t node) {
        if (node == nullptr) {
            return std::nullopt;
        }
        if (plist_get_node_type(node) == PLIST_UID) {
            std::uint64_t value = 0;
            plist_get_uid_val(node, &value);
            return value;
        }
        if (plist_get_node_type(node) == PLIST_DICT && plist_dict_get_size(node) == 1) {
            return detail::integerValue(plist_dict_get_item(node, "CF$UID"));
        }
        return std::nullopt;
    }

    // The dictionary object a reference points to. `enclosing` are the objects being read
    // around it; a reference back to one of them would make the graph cyclic.
    std::optional<Object> follow(plist_t reference, const Chain& enclosing,
                                 const std::string& what) {
        const auto target = followAny(reference, enclosing, what);
        if (target && plist_get_node_type(target->node) != PLIST_DICT) {
            return fail(what + " is not an object");
        }
        return target;
    }

    std::optional<Object> followAny(plist_t reference, const Chain& enclosing,
                                    const std::string& what) {
        const auto index = referenceIndex(reference);
        if (!index) {
            return fail(what + " is not an object reference");
        }
        if (*index == 0) {
            return fail(what + " refers to $null");
        }
        if (*index >= objectCount_) {
            return fail(what + " refers to an object that does not exist");
        }
        if (std::find(enclosing.begin(), enclosing.end(), *index) != enclosing.end()) {
            return fail(what + " refers back to an enclosing object (cyclic references)");
        }
        const plist_t node = plist_array_get_item(objects_, static_cast<std::uint32_t>(*index));
        if (node == nullptr) {
            return fail(what + " refers to an object that does not exist");
        }
        return Object{node, *index};
    }

    bool hasClass(const Object& object, Chain enclosing, std::string_view name) {
        enclosing.push_back(object.index);
        const auto classObject =
            follow(plist_dict_get_item(object.node, "$class"), enclosing, "class reference");
        if (!classObject) {
            return false;
        }
        if (!isString(plist_dict_get_item(classObject->node, "$classname"), name)) {
            error_ = "object is not of class " + std::string(name);
            return false;
        }
        return true;
    }

    std::optional<Color> readColor(const Object& color) {
        const auto space = detail::integerValue(plist_dict_get_item(color.node, "NSColorSpace"));
        if (!space) {
            return fail("colour has no NSColorSpace number");
        }
        if (*space < static_cast<std::uint64_t>(ColorSpaceModel::CalibratedRGB) ||
            *space > static_cast<std::uint64_t>(ColorSpaceModel::Custom)) {
            // Catalog and pattern colours name things outside the archive.
            return fail("colour space " + std::to_string(*space) + " is not supported");
        }
        const auto model = static_cast<ColorSpaceModel>(static_cast<int>(*space));

        // A colour in a colour space of its own carries its true components in NSComponents
        // and a converted fallback in NSRGB or NSWhite for readers that lack the space.
        const plist_t components = plist_dict_get_item(color.node, "NSComponents");
        const plist_t customSpace = plist_dict_get_item(color.node, "NSCustomColorSpace");
        if (components != nullptr && customSpace != nullptr) {
            return readCustomColor(color, components, customSpace);
        }

        switch (model) {
            case ColorSpaceModel::CalibratedRGB:
            case ColorSpaceModel::DeviceRGB:
                return readRgb(color, model);
            case ColorSpaceModel::CalibratedWhite:
            case ColorSpaceModel::DeviceWhite:
                return readWhite(color, model);
            default:
                // Components missing: the fallback is all that can be shown.
                if (plist_dict_get_item(color.node, "NSRGB") != nullptr) {
                    return readRgb(color, ColorSpaceModel::CalibratedRGB);
                }
                if (plist_dict_get_item(color.node, "NSWhite") != nullptr) {
                    return readWhite(color, ColorSpaceModel::CalibratedWhite);
                }
                return fail("custom-space colour has neither components nor a fallback");
        }
    }

    std::optional<std::vector<double>> componentsOf(const Object& color, const char* key,
                                                    std::size_t minimum, std::size_t maximum) {
        const auto text = textOf(plist_dict_get_item(color.node, key));
        if (!text) {
            error_ = std::string("colour has no usable ") + key;
            return std::nullopt;
        }
        return parseComponents(*text, minimum, maximum, key, error_);
    }

    std::optional<Color> readRgb(const Object& color, ColorSpaceModel model) {
        const auto values = componentsOf(color, "NSRGB", 3, 4);
        if (!values) {
            return std::nullopt;
        }
        const double alpha = values->size() == 4 ? (*values)[3] : 1.0;
        const auto& v = *values;
        return model == ColorSpaceModel::DeviceRGB
                   ? Color::colorWithDeviceRed(v[0], v[1], v[2], alpha)
                   : Color::colorWithCalibratedRed(v[0], v[1], v[2], alpha);
    }

    std::optional<Color> readWhite(const Object& color, ColorSpaceModel model) {
        const auto values = componentsOf(color, "NSWhite", 1, 2);
        if (!values) {
            return std::nullopt;
        }
        const double alpha = values->size() == 2 ? (*values)[1] : 1.0;
        return model == ColorSpaceModel::DeviceWhite
                   ? Color::colorWithDeviceWhite((*values)[0], alpha)
                   : Color::colorWithCalibratedWhite((*values)[0], alpha);
    }

    std::optional<Color> readCustomColor(const Object& color, plist_t componentsNode,
                                         plist_t spaceReference) {
        const auto text = textOf(componentsNode);
        if (!text) {
            return fail("colour has no usable NSComponents");
        }
        // At least one component and alpha, which NSComponents always includes.
        auto components = parseComponents(*text, 2, kMaxComponents, "NSComponents", error_);
        if (!components) {
            return std::nullopt;
        }
        const auto space = follow(spaceReference, {color.index}, "NSCustomColorSpace");
        if (!space || !hasClass(*space, {color.index}, "NSColorSpace")) {
            return std::nullopt;
        }

        std::int64_t spaceId = 0;
        if (const plist_t idNode = plist_dict_get_item(space->node, "NSID")) {
            const auto value = detail::integerValue(idNode);
            if (!value) {
                return fail("colour space NSID is not an integer");
            }
            // Integers are stored as 64-bit two's complement.
            spaceId = static_cast<std::int64_t>(*value);
        }

        Data icc;
        if (const plist_t iccNode = plist_dict_get_item(space->node, "NSICC")) {
            auto profile = readProfile(iccNode, {color.index, space->index});
            if (!profile) {
                return std::nullopt;
            }
            icc = std::move(*profile);
        }
        return Color::colorWithCustomSpace(std::move(*components), spaceId, std::move(icc));
    }

    // An ICC profile stored inline as data, or as a separate NSData object: either plain data
    // or an NSMutableData/NSData object holding it under NS.data.
    std::optional<Data> readProfile(plist_t node, const Chain& enclosing) {
        if (auto inlineData = detail::dataValue(node)) {
            return inlineData;
        }
        const auto target = followAny(node, enclosing, "NSICC");
        if (!target) {
            return std::nullopt;
        }
        if (auto plain = detail::dataValue(target->node)) {
            return plain;
        }
        if (auto wrapped = detail::dataValue(entry(target->node, "NS.data"))) {
            return wrapped;
        }
        error_ = "colour space NSICC holds no data";
        return std::nullopt;
    }

    std::string& error_;
    PlistPtr root_;
    plist_t objects_ = nullptr;
    std::uint64_t objectCount_ = 0;
};

}  // namespace

std::optional<Data> archiveColor(const Color& color, std::string* error) {
    if (!archivable(color, error)) {
        return std::nullopt;
    }
    const auto& components = color.components();
    const double alpha = color.alphaComponent();

    plist_t colorNode = plist_new_dict();
    PlistPtr colorOwner(colorNode);
    PlistPtr colorSpaceNode;
    const auto model = color.colorSpaceModel();
    switch (model) {
        case ColorSpaceModel::CalibratedRGB:
        case ColorSpaceModel::DeviceRGB:
            if (components.size() != 4) {
                setError(error, "RGB colour does not have three components and alpha");
                return std::nullopt;
            }
            plist_dict_set_item(colorNode, "NSColorSpace",
                                plist_new_uint(static_cast<std::uint64_t>(model)));
            plist_dict_set_item(colorNode, "NSRGB",
                                dataNode(componentTextWithAlpha(
                                    {components[0], components[1], components[2]}, alpha)));
            break;
        case ColorSpaceModel::CalibratedWhite:
        case ColorSpaceModel::DeviceWhite:
            if (components.size() != 2) {
                setError(error, "white colour does not have one component and alpha");
                return std::nullopt;
            }
            plist_dict_set_item(colorNode, "NSColorSpace",
                                plist_new_uint(static_cast<std::uint64_t>(model)));
            plist_dict_set_item(colorNode, "NSWhite",
                                dataNode(componentTextWithAlpha({components[0]}, alpha)));
            break;
        case ColorSpaceModel::Custom: {
            if (components.size() < 2) {
                setError(error, "custom-space colour does not have components and alpha");
                return std::nullopt;
            }
            // Readers without the space take the calibrated RGB fallback.
            plist_dict_set_item(
                colorNode, "NSColorSpace",
                plist_new_uint(static_cast<std::uint64_t>(ColorSpaceModel::CalibratedRGB)));
            plist_dict_set_item(
                colorNode, "NSRGB",
                dataNode(componentTextWithAlpha(
                    {color.displayRed(), color.displayGreen(), color.displayBlue()}, alpha)));
            // Alpha is always included here: without interpreting the space a reader cannot
            // tell how many components precede it.
            plist_dict_set_item(colorNode, "NSComponents", dataNode(componentText(components)));
            plist_dict_set_item(colorNode, "NSCustomColorSpace", plist_new_uid(kColorSpaceIndex));
            colorSpaceNode.reset(plist_new_dict());
            if (color.colorSpaceId() != 0) {
                plist_dict_set_item(
                    colorSpaceNode.get(), "NSID",
                    plist_new_uint(static_cast<std::uint64_t>(color.colorSpaceId())));
            }
            if (!color.iccProfile().empty()) {
                plist_dict_set_item(colorSpaceNode.get(), "NSICC", dataNode(color.iccProfile()));
            }
            plist_dict_set_item(colorSpaceNode.get(), "$class",
                                plist_new_uid(kColorSpaceClassIndex));
            break;
        }
        default:
            // Catalog colours and the like name things outside the archive.
            setError(error, "colours of this kind cannot be archived");
            return std::nullopt;
    }
    plist_dict_set_item(colorNode, "$class", plist_new_uid(kColorClassIndex));

    PlistPtr archive(plist_new_dict());
    plist_dict_set_item(archive.get(), "$archiver", plist_new_string("NSKeyedArchiver"));
    plist_dict_set_item(archive.get(), "$version", plist_new_uint(kArchiveVersion));
    plist_t top = plist_new_dict();
    plist_dict_set_item(top, "root", plist_new_uid(kColorIndex));
    plist_dict_set_item(archive.get(), "$top", top);
    plist_t objects = plist_new_array();
    plist_array_append_item(objects, plist_new_string("$null"));
    plist_array_append_item(objects, colorOwner.release());
    plist_array_append_item(objects, classNode("NSColor"));
    if (colorSpaceNode) {
        plist_array_append_item(objects, colorSpaceNode.release());
        plist_array_append_item(objects, classNode("NSColorSpace"));
    }
    plist_dict_set_item(archive.get(), "$objects", objects);

    auto bytes = detail::writeBinaryPropertyList(archive.get());
    if (!bytes) {
        setError(error, "the property list could not be written");
        return std::nullopt;
    }
    if (bytes->size() > kArchiveLimits.maxBytes) {
        setError(error, "colour archive would be too large to read back (ICC profile)");
        return std::nullopt;
    }
    return bytes;
}

std::optional<Color> unarchiveColor(const Data& data, std::string* error) {
    std::string reason;
    auto color = ArchiveReader(reason).read(data);
    if (!color) {
        setError(error, reason.empty() ? "not a colour archive" : reason);
    }
    return color;
}

}  // namespace platform::common
