#pragma once

#include <optional>
#include <string>

namespace platform::qt {

// Why the X11 backend cannot run on `display` (a DISPLAY value, null when unset), as one line
// for the user; nothing when an X server there accepts a connection and has the screen named.
std::optional<std::string> xDisplayProblem(const char* display);

// Ends the process with status 1 and that line on stderr when DISPLAY leads to no X display.
// Makes no Qt object: Qt 6.4 aborts the process when it finds no display.
void exitUnlessXDisplay();

}  // namespace platform::qt
