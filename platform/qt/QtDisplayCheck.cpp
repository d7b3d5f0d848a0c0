#include "platform/qt/QtDisplayCheck.h"

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>

#include "platform/qt/QtWaylandSession.h"

namespace platform::qt {

std::optional<std::string> xDisplayProblem(const char* display) {
    if (display == nullptr || display[0] == '\0') {
        return std::string("no X display");
    }
    // libxcb checks the screen number only when asked for it.
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(display, &screen);
    const int error = xcb_connection_has_error(connection);
    // Also frees a connection that failed.
    xcb_disconnect(connection);
    if (error == XCB_CONN_CLOSED_INVALID_SCREEN) {
        return std::string("the X display \"") + display + "\" has no such screen";
    }
    if (error != 0) {
        return std::string("no X display at \"") + display + "\"";
    }
    return std::nullopt;
}

WindowSystem chooseWindowSystemOrExit() {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const WaylandAnswer answer = askWaylandCompositor(wayland);
    // The X server is asked only when Wayland will not do: a Wayland session's XWayland may be
    // started on demand, and a connection would start it for nothing.
    const std::optional<std::string> xProblem = answer.kind == WaylandAnswer::Kind::Usable
                                                    ? std::nullopt
                                                    : xDisplayProblem(std::getenv("DISPLAY"));
    const auto choice = chooseWindowSystem(wayland == nullptr ? "" : wayland, answer, xProblem);
    if (const auto* line = std::get_if<std::string>(&choice)) {
        std::fprintf(stderr, "%s\n", line->c_str());
        std::exit(EXIT_FAILURE);
    }
    return std::get<WindowSystem>(choice);
}

}  // namespace platform::qt
