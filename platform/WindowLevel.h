#pragma once

#include <cstdint>

namespace platform {

// The window system's named stacking levels (CGWindowLevelKey), with the platform's numbers.
enum class WindowLevelKey : std::int32_t {
    kCGBaseWindowLevelKey = 0,
    kCGMinimumWindowLevelKey = 1,
    kCGDesktopWindowLevelKey = 2,
    kCGBackstopMenuLevelKey = 3,
    kCGNormalWindowLevelKey = 4,
    kCGFloatingWindowLevelKey = 5,
    kCGTornOffMenuWindowLevelKey = 6,
    kCGDockWindowLevelKey = 7,
    kCGMainMenuWindowLevelKey = 8,
    kCGStatusWindowLevelKey = 9,
    kCGModalPanelWindowLevelKey = 10,
    kCGPopUpMenuWindowLevelKey = 11,
    kCGDraggingWindowLevelKey = 12,
    kCGScreenSaverWindowLevelKey = 13,
    kCGMaximumWindowLevelKey = 14,
    kCGOverlayWindowLevelKey = 15,
    kCGHelpWindowLevelKey = 16,
    kCGUtilityWindowLevelKey = 17,
    kCGDesktopIconWindowLevelKey = 18,
    kCGCursorWindowLevelKey = 19,
    kCGAssistiveTechHighWindowLevelKey = 20,
};

// A window's stacking level (NSWindowLevel): higher levels are drawn above lower ones.
using WindowLevel = std::int64_t;

// The level of ordinary application windows.
inline constexpr WindowLevel NSNormalWindowLevel = 0;

// The window system's numeric level for `key` (CGWindowLevelForKey), asked at run time.
std::int32_t CGWindowLevelForKey(WindowLevelKey key);

}  // namespace platform
