#pragma once

#include <optional>
#include <string>

#include "platform/PropertyValue.h"

namespace platform {

// The current user's defaults for this program (NSUserDefaults).
class UserDefaults final {
public:
    // The defaults of the current user and program.
    static UserDefaults& standardUserDefaults();
    // The data stored under `key`; nothing when the key is absent or its value is not data.
    std::optional<Data> dataForKey(const std::string& key) const;
    // The value stored under `key`, or nothing.
    std::optional<PropertyValue> objectForKey(const std::string& key) const;
    // Replaces the value under `key` at once: the next read in the process gives it back,
    // and it outlives the process.
    void setObject(const PropertyValue& value, const std::string& key);
};

}  // namespace platform
