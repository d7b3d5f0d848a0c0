#pragma once

#include <optional>
#include <string>

#include "platform/qt/QtWaylandRules.h"

namespace platform::qt {

// Why no X11 backend can run on `display` (a DISPLAY value, null when unset), as the part of a
// line that names the problem ("no X display at ..."); nothing when an X server there accepts
// a connection and has the screen named.
std::optional<std::string> xDisplayProblem(const char* display);

// The window system this session offers the program: Wayland where WAYLAND_DISPLAY leads to a
// compositor with the layer shell, else X11 where DISPLAY leads to an X server. With neither,
// ends the process with status 1 and one line on stderr that says what is missing. Makes no
// Qt object: Qt 6.4 aborts the process when it finds no display.
WindowSystem chooseWindowSystemOrExit();

}  // namespace platform::qt
