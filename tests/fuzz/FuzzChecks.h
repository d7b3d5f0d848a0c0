#pragma once

// The promises the common stores make about any input, checked the same way by the fuzz
// targets and by the ordinary test suite's replay of the kept inputs.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Color.h"
#include "platform/PropertyValue.h"

namespace vellumor::fuzz {

// Reads `bytes` as a colour archive. A refusal must carry a reason; a colour must be one
// that archives again and reads back as itself (to the ten significant digits archives
// keep). Gives the first broken promise, or nothing; `decoded` receives the colour.
std::optional<std::string> checkColorArchive(const platform::Data& bytes,
                                             std::optional<platform::Color>* decoded = nullptr);

// Opens the defaults domain in `file` and reads it as the program does. With `write`, also
// stores one more key and checks that a fresh reader finds it and everything read before.
// Gives the first broken promise, or nothing; `color` receives the stored colour, if any.
std::optional<std::string> checkDefaultsFile(const std::filesystem::path& file, bool write,
                                             std::optional<platform::Color>* color = nullptr);

// Measures how deeply `text` nests before libplist reads it and, when that is shallow enough to
// read safely, checks that libplist builds a tree no deeper. Gives the broken promise, or
// nothing.
std::optional<std::string> checkXmlNesting(std::string_view text);

}  // namespace vellumor::fuzz
