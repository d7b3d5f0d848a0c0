#pragma once

// The promises the common stores make about any input, checked the same way by the fuzz
// targets and by the ordinary test suite's replay of the kept inputs.

#include <optional>
#include <string>
#include <string_view>

#include "platform/Color.h"
#include "platform/PropertyValue.h"

namespace vellumor::fuzz {

// Gives the first promise `bytes` break as the input of fuzz target `target`, or nothing;
// `color` receives the colour read, if any.
// "unarchive_color": read as a colour archive. A refusal carries a reason; a colour is one
// that archives again and reads back as itself (to the ten significant digits archives keep).
// "defaults_file": made the defaults file (in a private scratch directory), read as the
// program reads it, left as it was, then written with one more key that a fresh reader finds
// beside everything read before. XML is also measured for nesting before libplist reads it, and
// when shallow enough to read safely, libplist must build a tree no deeper.
std::optional<std::string> check(std::string_view target, const platform::Data& bytes,
                                 std::optional<platform::Color>* color = nullptr);

}  // namespace vellumor::fuzz
