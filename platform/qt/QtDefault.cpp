#include "platform/qt/QtDisplayCheck.h"
#include "platform/qt/QtPlatform.h"

namespace platform {

// A program built on the X11 backend keeps its defaults where the desktop's programs keep
// their settings (see qt::defaultsFilePath). Without an X display it ends with a line that
// says what is missing, before Qt would abort it.
std::unique_ptr<PlatformIntegration> createDefaultPlatformIntegration() {
    qt::exitUnlessXDisplay();
    return std::make_unique<qt::QtPlatform>(qt::defaultsFilePath());
}

}  // namespace platform
