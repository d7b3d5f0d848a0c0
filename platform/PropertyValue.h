#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace platform {

// A byte string (NSData).
using Data = std::vector<std::uint8_t>;

// A point in time (NSDate), as property lists store it.
using Date = std::chrono::system_clock::time_point;

// A scalar value as property lists hold it: what user defaults and bundle information can
// answer for a key. Containers are kept by the stores but not handed out.
using PropertyValue = std::variant<std::string, std::int64_t, double, bool, Data, Date>;

}  // namespace platform
