#include "platform/Screen.h"

#include "platform/PlatformIntegration.h"

namespace platform {

std::vector<Screen> Screen::screens() {
    std::vector<Screen> result;
    for (const Rect& frame : platformIntegration().screenFrames()) {
        result.emplace_back(frame);
    }
    return result;
}

}  // namespace platform
