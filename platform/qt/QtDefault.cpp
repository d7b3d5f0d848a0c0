#include "platform/qt/QtPlatform.h"

namespace platform {

// A program built on the X11 backend keeps its defaults where the desktop's programs keep
// their settings (see qt::defaultsFilePath).
std::unique_ptr<PlatformIntegration> createDefaultPlatformIntegration() {
    return std::make_unique<qt::QtPlatform>(qt::defaultsFilePath());
}

}  // namespace platform
