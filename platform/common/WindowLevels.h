#pragma once

#include <cstdint>
#include <limits>

#include "platform/WindowLevel.h"

namespace platform::common {

// The numeric stacking levels of macOS's window server, which the non-Apple backends use as
// their own so that levels mean the same everywhere.
constexpr std::int32_t windowLevelForKey(WindowLevelKey key) {
    constexpr std::int32_t base = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t minimum = base + 1;
    constexpr std::int32_t maximum = std::numeric_limits<std::int32_t>::max() - 16;
    constexpr std::int32_t desktop = minimum + 20;
    switch (key) {
        case WindowLevelKey::kCGBaseWindowLevelKey:
            return base;
        case WindowLevelKey::kCGMinimumWindowLevelKey:
            return minimum;
        case WindowLevelKey::kCGDesktopWindowLevelKey:
            return desktop;
        case WindowLevelKey::kCGDesktopIconWindowLevelKey:
            return desktop + 20;
        case WindowLevelKey::kCGBackstopMenuLevelKey:
            return -20;
        case WindowLevelKey::kCGNormalWindowLevelKey:
            return 0;
        case WindowLevelKey::kCGFloatingWindowLevelKey:
            return 3;
        case WindowLevelKey::kCGTornOffMenuWindowLevelKey:
            return 3;
        case WindowLevelKey::kCGModalPanelWindowLevelKey:
            return 8;
        case WindowLevelKey::kCGUtilityWindowLevelKey:
            return 19;
        case WindowLevelKey::kCGDockWindowLevelKey:
            return 20;
        case WindowLevelKey::kCGMainMenuWindowLevelKey:
            return 24;
        case WindowLevelKey::kCGStatusWindowLevelKey:
            return 25;
        case WindowLevelKey::kCGPopUpMenuWindowLevelKey:
            return 101;
        case WindowLevelKey::kCGOverlayWindowLevelKey:
            return 102;
        case WindowLevelKey::kCGHelpWindowLevelKey:
            return 200;
        case WindowLevelKey::kCGDraggingWindowLevelKey:
            return 500;
        case WindowLevelKey::kCGScreenSaverWindowLevelKey:
            return 1000;
        case WindowLevelKey::kCGAssistiveTechHighWindowLevelKey:
            return 1500;
        case WindowLevelKey::kCGCursorWindowLevelKey:
            return maximum - 1;
        case WindowLevelKey::kCGMaximumWindowLevelKey:
            return maximum;
    }
    return 0;
}

}  // namespace platform::common
