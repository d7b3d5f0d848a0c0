// Stands in for CoreGraphics' CGWindowLevelForKey (CGWindowLevel.h), which GNUstep lacks: the
// window server's number for each named level, as macOS gives them.
#include <climits>

extern "C" CGWindowLevel CGWindowLevelForKey(CGWindowLevelKey key) {
    constexpr CGWindowLevel base = INT_MIN;
    constexpr CGWindowLevel minimum = base + 2;
    constexpr CGWindowLevel desktop = minimum + 20;
    switch (key) {
        case kCGBaseWindowLevelKey:
            return base;
        case kCGMinimumWindowLevelKey:
            return minimum;
        case kCGDesktopWindowLevelKey:
            return desktop;
        case kCGDesktopIconWindowLevelKey:
            return desktop + 20;
        case kCGBackstopMenuLevelKey:
            return -20;
        case kCGNormalWindowLevelKey:
            return 0;
        case kCGFloatingWindowLevelKey:
        case kCGTornOffMenuWindowLevelKey:
            return 3;
        case kCGModalPanelWindowLevelKey:
            return 8;
        case kCGUtilityWindowLevelKey:
            return 19;
        case kCGDockWindowLevelKey:
            return 20;
        case kCGMainMenuWindowLevelKey:
            return 24;
        case kCGStatusWindowLevelKey:
            return 25;
        case kCGPopUpMenuWindowLevelKey:
            return 101;
        case kCGOverlayWindowLevelKey:
            return 102;
        case kCGHelpWindowLevelKey:
            return 200;
        case kCGDraggingWindowLevelKey:
            return 500;
        case kCGScreenSaverWindowLevelKey:
            return 1000;
        case kCGAssistiveTechHighWindowLevelKey:
            return 1500;
        case kCGCursorWindowLevelKey:
            return INT_MAX - 1;
        case kCGMaximumWindowLevelKey:
            return INT_MAX - 16;
    }
    return 0;
}
