#pragma once

#include <optional>
#include <string>

#include "platform/Color.h"
#include "platform/PropertyValue.h"

namespace platform::common {

// Writes `color` as an NSKeyedArchiver archive (binary property list) whose root object is
// an NSColor, laid out as macOS writes it. Gives nothing, with a reason in `error`, when the
// colour cannot be archived so that a later read would give it back (non-finite components).
std::optional<Data> archiveColor(const Color& color, std::string* error = nullptr);

// Reads an NSKeyedArchiver archive whose root object is an NSColor, as macOS or we wrote it.
// Anything else (not a property list, not a keyed archive, another root class, broken object
// references, absurd sizes, unusable components) gives nothing and a reason in `error`;
// never crashes, and takes time and memory bounded by the size of `data`.
std::optional<Color> unarchiveColor(const Data& data, std::string* error = nullptr);

}  // namespace platform::common
