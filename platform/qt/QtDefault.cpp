#include <utility>

#include "platform/qt/QtCommandLine.h"
#include "platform/qt/QtDisplayCheck.h"
#include "platform/qt/QtEarlyDesktop.h"
#include "platform/qt/QtPlatform.h"
#include "platform/qt/QtUserPaths.h"

namespace {
xcb_connection_t* earlyDesktop = nullptr;
}  // namespace

extern "C" void vellumorTakeEarlyDesktop(xcb_connection_t* connection) {
    earlyDesktop = connection;
}

namespace platform {

// A program built on the Linux backend keeps its defaults where the desktop's programs keep
// their settings (see qt::defaultsFilePath). Its command line asks only for help or the
// version, answered without a display; it runs on Wayland where the compositor has the layer
// shell, else on X11, and with neither it ends with a line that says what is missing, before
// Qt would abort it. The stand-ins the launcher showed go once the overlays are shown.
std::unique_ptr<PlatformIntegration> createDefaultPlatformIntegration() {
    qt::obeyCommandLine(qt::ownArguments());
    const qt::WindowSystem system = qt::chooseWindowSystemOrExit();
    return std::make_unique<qt::QtPlatform>(qt::defaultsFilePath(), system,
                                            std::exchange(earlyDesktop, nullptr));
}

}  // namespace platform
