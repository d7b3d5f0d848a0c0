#pragma once

// How deeply an XML property list nests, measured on the text before libplist reads it.

#include <cstddef>
#include <string_view>

namespace platform::common::detail {

// An upper bound on how deeply arrays and dictionaries nest in the tree libplist 2.2 would
// build from `text` (0 when it would build none), found in one pass without recursion or
// building anything. The count stops early: any answer above `enough` means "too deep". Where
// the text strays from the plain layout of property-list writers (comments, CDATA, attributes
// on containers), every later container tag counts as one level deeper, whatever closes it.
std::size_t xmlNestingBound(std::string_view text, std::size_t enough);

}  // namespace platform::common::detail
