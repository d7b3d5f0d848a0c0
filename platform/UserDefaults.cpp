#include "platform/UserDefaults.h"

#include "platform/PlatformIntegration.h"

namespace platform {

UserDefaults& UserDefaults::standardUserDefaults() {
    static UserDefaults defaults;
    return defaults;
}

std::optional<Data> UserDefaults::dataForKey(const std::string& key) const {
    auto value = platformIntegration().defaultsObjectForKey(key);
    if (!value || !std::holds_alternative<Data>(*value)) {
        return std::nullopt;
    }
    return std::get<Data>(std::move(*value));
}

std::optional<PropertyValue> UserDefaults::objectForKey(const std::string& key) const {
    return platformIntegration().defaultsObjectForKey(key);
}

void UserDefaults::setObject(const PropertyValue& value, const std::string& key) {
    platformIntegration().setDefaultsObject(value, key);
}

}  // namespace platform
