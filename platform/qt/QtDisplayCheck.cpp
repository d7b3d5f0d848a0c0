#include "platform/qt/QtDisplayCheck.h"

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>

namespace platform::qt {

namespace {
// Wayland sessions offer X11 programs an X server of their own; without one, nothing here can
// draw.
constexpr char kRemedy[] = "set DISPLAY; under Wayland run it through XWayland";
}  // namespace

std::optional<std::string> xDisplayProblem(const char* display) {
    if (display == nullptr || display[0] == '\0') {
        return std::string("vellumor: no X display: ") + kRemedy;
    }
    // libxcb checks the screen number only when asked for it.
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(display, &screen);
    const int error = xcb_connection_has_error(connection);
    // Also frees a connection that failed.
    xcb_disconnect(connection);
    if (error == XCB_CONN_CLOSED_INVALID_SCREEN) {
        return std::string("vellumor: the X display \"") + display +
               "\" has no such screen: " + kRemedy;
    }
    if (error != 0) {
        return std::string("vellumor: no X display at \"") + display + "\": " + kRemedy;
    }
    return std::nullopt;
}

void exitUnlessXDisplay() {
    if (const auto problem = xDisplayProblem(std::getenv("DISPLAY"))) {
        std::fprintf(stderr, "%s\n", problem->c_str());
        std::exit(EXIT_FAILURE);
    }
}

}  // namespace platform::qt
