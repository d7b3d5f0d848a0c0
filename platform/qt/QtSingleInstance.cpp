#include "platform/qt/QtSingleInstance.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/qt/QtEarlyDesktop.h"

namespace platform::qt {

bool claimInstanceSelection(X11Connection& x11) {
    xcb_connection_t* connection = x11.connection();
    const xcb_atom_t selection = x11.atom(instanceSelectionName(x11.screenNumber()));
    // The owner is a window that is never shown; it lives as long as the connection.
    const xcb_window_t owner = xcb_generate_id(connection);
    const std::uint32_t overrideRedirect = 1;
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, owner, x11.root(), -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT,
                      &overrideRedirect);
    // With the server grabbed, no other client can claim the selection between the look and
    // the claim: of two programs started together exactly one finds it free.
    xcb_grab_server(connection);
    const auto current = reply<xcb_get_selection_owner_reply_t>(
        connection, xcb_get_selection_owner_reply, xcb_get_selection_owner(connection, selection));
    // Without an answer the connection is gone, which the start-up path reports itself.
    const bool free = !current || current->owner == XCB_WINDOW_NONE;
    if (free) {
        xcb_set_selection_owner(connection, owner, selection, XCB_CURRENT_TIME);
    } else {
        xcb_destroy_window(connection, owner);
    }
    xcb_ungrab_server(connection);
    x11.flush();
    return free;
}

void exitIfAlreadyRunning(X11Connection& x11) {
    if (claimInstanceSelection(x11)) {
        return;
    }
    std::fputs("vellumor: Vellumor is already running on this display\n", stderr);
    std::exit(EXIT_SUCCESS);
}

}  // namespace platform::qt
