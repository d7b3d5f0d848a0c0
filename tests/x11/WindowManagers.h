#pragma once

// Window managers and a tray started on an X11Desktop made bare, for tests that choose the
// session's programs or start, stop and replace them while vellumor runs.

#include <fstream>

#include "tests/x11/X11Desktop.h"

namespace vellumor::x11test {

// Whether an EWMH window manager names itself on the root: the root's check window carries
// the same property, naming itself.
inline bool managerNamed(X11Desktop& desktop) {
    const auto check = desktop.property(desktop.root(), "_NET_SUPPORTING_WM_CHECK");
    return !check.empty() &&
           desktop.property(check[0], "_NET_SUPPORTING_WM_CHECK") == std::vector{check[0]};
}

// Starts a window manager and waits until it manages windows: it is ready once it manages a
// probe, mapped again until it does (openbox 3.6 drops the map requests it gets while it
// starts). Null if it did not get there.
inline std::unique_ptr<Process> startWindowManager(X11Desktop& desktop, const std::string& command,
                                                   const std::string& name) {
    auto manager = std::make_unique<Process>("env " + desktop.environment() + " " + command,
                                             desktop.directory() / (name + ".log"));
    xcb_connection_t* c = desktop.connection();
    const xcb_window_t probe = desktop.createWindow({0, 0, 10, 10}, {}, kNormal);
    const bool managing = waitUntil(
        [&] {
            xcb_map_window(c, probe);
            xcb_flush(c);
            return managerNamed(desktop) &&
                   X11Desktop::contains(desktop.property(desktop.root(), "_NET_CLIENT_LIST"),
                                        probe);
        },
        10s);
    xcb_destroy_window(c, probe);
    xcb_flush(c);
    return managing ? std::move(manager) : nullptr;
}

inline std::unique_ptr<Process> startOpenbox(X11Desktop& desktop) {
    return startWindowManager(desktop, "openbox --sm-disable", "openbox");
}

// i3 with no bar and its IPC socket in the desktop's directory (see i3Command).
inline std::unique_ptr<Process> startI3(X11Desktop& desktop) {
    const auto config = desktop.directory() / "i3.config";
    std::ofstream(config) << "# i3 config file (v4)\n"
                          << "font pango:DejaVu Sans 8\n"
                          << "ipc-socket " << (desktop.directory() / "i3.sock").string() << "\n"
                          << "focus_follows_mouse no\n";
    return startWindowManager(desktop, "i3 -c " + config.string(), "i3");
}

// Starts trayer, the system tray of the test desktop, and waits until it owns the tray
// selection. Null if it did not get there.
inline std::unique_ptr<Process> startTray(X11Desktop& desktop) {
    auto tray = std::make_unique<Process>(
        "env " + desktop.environment() +
            " trayer --edge bottom --align right --widthtype request --height 28"
            " --SetDockType true --transparent false --tint 0x303030",
        desktop.directory() / "trayer.log");
    xcb_connection_t* c = desktop.connection();
    const xcb_atom_t selection = desktop.atom("_NET_SYSTEM_TRAY_S0");
    const bool owned = waitUntil([&] {
        auto* owner =
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
        const bool found = owner != nullptr && owner->owner != XCB_WINDOW_NONE;
        std::free(owner);
        return found;
    });
    return owned ? std::move(tray) : nullptr;
}

// A command line for i3-msg, sent to the running i3; whether it succeeded.
inline bool i3Command(X11Desktop& desktop, const std::string& command) {
    return desktop.run("i3-msg -s " + (desktop.directory() / "i3.sock").string() + " " + command);
}

}  // namespace vellumor::x11test
