#pragma once

#include <optional>
#include <string>

#include "platform/PropertyValue.h"

namespace platform {

// The program's bundle (NSBundle).
class Bundle final {
public:
    // The bundle of the running program.
    static Bundle& mainBundle();
    // The value stored under `key` in the bundle's information, or nothing.
    std::optional<PropertyValue> objectForInfoDictionaryKey(const std::string& key) const;
};

}  // namespace platform
