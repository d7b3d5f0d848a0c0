#include "platform/WindowLevel.h"

#include "platform/PlatformIntegration.h"

namespace platform {

std::int32_t CGWindowLevelForKey(WindowLevelKey key) {
    return platformIntegration().windowLevelForKey(key);
}

}  // namespace platform
