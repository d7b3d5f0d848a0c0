#pragma once

#include <optional>
#include <string>

#include "platform/Color.h"
#include "platform/PropertyValue.h"

namespace platform {

// Keyed archiving of colours (NSKeyedArchiver / NSKeyedUnarchiver).
class KeyedArchiver final {
public:
    // A keyed archive whose root object is `color`; nothing, with the reason in `error`,
    // when the colour cannot be archived.
    static std::optional<Data> archivedDataWithRootObject(const Color& color,
                                                          bool requiringSecureCoding,
                                                          std::string* error);
};

class KeyedUnarchiver final {
public:
    // The colour at the root of the keyed archive `data`; nothing, with the reason in
    // `error`, for anything that is not a keyed archive of a colour.
    static std::optional<Color> unarchivedColorFromData(const Data& data, std::string* error);
};

}  // namespace platform
