#pragma once

#include <QDBusServiceWatcher>
#include <QTimer>

#include <functional>

namespace platform::qt {

// Waits for a StatusNotifierItem host (waybar, swaybar, Plasma's panel) on the session bus.
// On Wayland, the tray icon can only be a StatusNotifierItem, and Qt 6.4 decides once per
// process, when the first tray icon is made, whether one can be: an icon made before a host
// runs never appears. So the icon is made once a host is there.
class StatusNotifierHostWait final {
public:
    // Calls `ready` once, from the event loop, as soon as a host is registered with the
    // session's StatusNotifierWatcher (on the next pass if one is already); never when there
    // is no session bus.
    explicit StatusNotifierHostWait(std::function<void()> ready);
    StatusNotifierHostWait(const StatusNotifierHostWait&) = delete;
    StatusNotifierHostWait& operator=(const StatusNotifierHostWait&) = delete;

private:
    // Whether the session's StatusNotifierWatcher has a host registered now (one call on the
    // bus, answered within a second or taken as no).
    static bool hostRegistered();
    void check();

    std::function<void()> ready_;
    bool called_ = false;
    QDBusServiceWatcher watcher_;
    // Started by the watcher's coming and its StatusNotifierHostRegistered signal: the check
    // runs once on the next pass however many of them arrive. No polling while none comes.
    QTimer nextPass_;
};

}  // namespace platform::qt
