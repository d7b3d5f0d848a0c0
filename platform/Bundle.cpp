#include "platform/Bundle.h"

#include "platform/PlatformIntegration.h"

namespace platform {

Bundle& Bundle::mainBundle() {
    static Bundle bundle;
    return bundle;
}

std::optional<PropertyValue> Bundle::objectForInfoDictionaryKey(const std::string& key) const {
    return platformIntegration().infoDictionaryValue(key);
}

}  // namespace platform
