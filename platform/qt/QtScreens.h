#pragma once

#include <xcb/xcb.h>

#include <vector>

#include "platform/Geometry.h"
#include "platform/qt/QtConversions.h"
#include "platform/qt/QtScreenChangeNotice.h"
#include "platform/qt/QtX11.h"

namespace platform::qt {

// The attached displays as RandR monitors, and the one change notice per configuration
// change. Qt 6.4's screen list misses some monitor changes (a monitor set anew under the
// same name with another geometry leaves QScreen as it was), so the monitors are read from
// the server and its change events are watched here.
class QtScreens final {
public:
    explicit QtScreens(X11Connection& x11);
    QtScreens(const QtScreens&) = delete;
    QtScreens& operator=(const QtScreens&) = delete;

    // The monitors, primary first, in X11 pixels. Without RandR monitors, the whole root
    // window is the one monitor. The server is asked only after an event has marked the
    // list stale (see noteEvent), so placing every overlay of a rebuild costs no round trip.
    std::vector<Monitor> monitors();
    // The monitors' frames in platform coordinates, primary first.
    std::vector<Rect> frames();
    // The X11 rectangle that platform coordinates are relative to: the primary monitor of the
    // current list (see toPlatformRect).
    QRect reference();

    // Whether `event` may mean that the monitors changed; if so, the list is stale from now
    // on and is read again, at once for the first such event in a pass of the event loop
    // and on the next pass for later ones; the screen-parameters notification is posted
    // when the monitors differ from those last announced. Called from the native event
    // filter, before Qt sees the event. Whether the notification was posted meanwhile.
    bool noteEvent(const xcb_generic_event_t& event);

private:
    // Reads the monitors from the server into current_.
    void read();
    // The reference rectangle of the monitor list `current` (see reference).
    QRect referenceOf(const std::vector<Monitor>& current) const;

    X11Connection& x11_;
    std::uint8_t randrFirstEvent_ = 0;
    bool hasMonitors_ = false;
    // The monitors last read, and whether an event came since that may have changed them.
    std::vector<Monitor> current_;
    bool stale_ = true;
    ScreenChangeNotice notice_;
};

}  // namespace platform::qt
