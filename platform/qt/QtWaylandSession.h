#pragma once

#include <string>

#include "platform/qt/QtWaylandRules.h"

namespace platform::qt {

// What the compositor at `display` (a WAYLAND_DISPLAY value, null or empty when unset) offers
// the overlays: it is connected to, its globals are listed once and it is let go. A build
// without the Wayland half answers NotNamed.
WaylandAnswer askWaylandCompositor(const char* display);

// Ends the process with status 0, after saying so on stderr, if another Vellumor of this user
// runs on the Wayland display `display` already; otherwise makes this process that one for as
// long as it runs, by a lock that the system frees when the process ends however it ends.
// Run before anything is shown, so that a second launch leaves the desktop as it was.
void exitIfAlreadyRunningOnWayland(const std::string& display);

}  // namespace platform::qt
