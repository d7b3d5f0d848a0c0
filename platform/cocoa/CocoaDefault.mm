#include "platform/cocoa/CocoaPlatform.h"

namespace platform {

// A program built for macOS runs on AppKit.
std::unique_ptr<PlatformIntegration> createDefaultPlatformIntegration() {
    return std::make_unique<cocoa::CocoaPlatform>();
}

}  // namespace platform
