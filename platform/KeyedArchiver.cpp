#include "platform/KeyedArchiver.h"

#include "platform/PlatformIntegration.h"

namespace platform {

std::optional<Data> KeyedArchiver::archivedDataWithRootObject(const Color& color,
                                                              bool /*requiringSecureCoding*/,
                                                              std::string* error) {
    return platformIntegration().archiveColor(color, error);
}

std::optional<Color> KeyedUnarchiver::unarchivedColorFromData(const Data& data,
                                                              std::string* error) {
    return platformIntegration().unarchiveColor(data, error);
}

}  // namespace platform
