#pragma once

#include "platform/qt/QtX11.h"

namespace platform::qt {

// Makes this process the one Vellumor of its user on the X screen, for as long as it runs:
// it owns an X selection named for the screen and the user, which the server frees when the
// process ends however it ends. Returns false, claiming nothing, if another process owns it.
bool claimInstanceSelection(X11Connection& x11);

// Ends the process with status 0, after saying so on stderr, if another Vellumor of this user
// runs on the X screen already; otherwise claims the screen (see claimInstanceSelection). Run
// before anything is shown, so that a second launch leaves the screen as it was.
void exitIfAlreadyRunning(X11Connection& x11);

}  // namespace platform::qt
