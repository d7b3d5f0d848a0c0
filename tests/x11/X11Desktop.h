#pragma once

// A virtual X11 desktop for end-to-end tests: Xvfb with RandR monitors, openbox as the window
// manager, trayer as the system tray, and the vellumor program, each a child process that
// is stopped by its pid when the test ends, passed or failed.

#include <sys/types.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vellumor::x11test {

using namespace std::chrono_literals;

// One child process, stopped (SIGTERM, then SIGKILL) when this object goes.
class ChildProcess final {
public:
    // Starts `argv` (looked up in PATH) with the given environment overrides (an empty value
    // removes the variable); output goes to `log`. `keepFd` stays open in the child as fd 3.
    ChildProcess(const std::vector<std::string>& argv,
                 const std::map<std::string, std::string>& environment,
                 const std::filesystem::path& log, int keepFd = -1);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Waits up to `timeout` for the process to end by itself; its exit status (as waitpid
    // gives it), or nothing while it still runs.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout);
    // Whether it still runs.
    bool running();
    // Stops it now.
    void stop();

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// Whether every program the desktop needs is installed; the missing ones otherwise.
std::vector<std::string> missingDesktopPrograms();

// Polls `condition` until it holds or `timeout` passes; whether it held.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s);

struct Geometry {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const Geometry&, const Geometry&) = default;
};

struct Rgb {
    int red = 0;
    int green = 0;
    int blue = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

std::ostream& operator<<(std::ostream& out, const Geometry& geometry);
std::ostream& operator<<(std::ostream& out, const Rgb& rgb);

struct MonitorSetup {
    std::string name;
    Geometry geometry;
    bool primary = false;
};

// A running virtual desktop.
class X11Desktop final {
public:
    struct Options {
        std::vector<MonitorSetup> monitors;
        bool startTray = true;
        bool startWindowManager = true;
    };
    // Starts Xvfb, sets its monitors, starts openbox and (if asked) trayer, and waits until
    // each is ready.
    explicit X11Desktop(const Options& options);
    ~X11Desktop();
    X11Desktop(const X11Desktop&) = delete;
    X11Desktop& operator=(const X11Desktop&) = delete;

    const std::string& display() const { return display_; }
    const std::filesystem::path& directory() const { return directory_; }
    xcb_connection_t* connection() const { return connection_; }
    xcb_window_t root() const { return root_; }

    // Starts trayer and waits for it to own the tray selection.
    void startTray();
    // Runs a desktop tool (xrandr, xdotool...) to its end; whether it exited with 0.
    bool run(const std::vector<std::string>& argv);

    // Starts vellumor with its defaults in this desktop's own config directory.
    std::unique_ptr<ChildProcess> launchVellumor();
    // The text vellumor wrote to its output so far.
    std::string vellumorLog() const;

    // --- What a user sees.
    xcb_atom_t atom(const std::string& name);
    std::vector<std::uint32_t> property32(xcb_window_t window, const std::string& property);
    std::string propertyText(xcb_window_t window, const std::string& property);
    std::vector<std::string> atomNames(xcb_window_t window, const std::string& property);
    // The windows the manager manages, bottom to top.
    std::vector<xcb_window_t> managedWindows();
    // Every window with vellumor's WM_CLASS, anywhere in the tree.
    std::vector<xcb_window_t> vellumorWindows();
    // The mapped vellumor windows of desktop type: the overlays on screen.
    std::vector<xcb_window_t> shownOverlays();
    // The window's rectangle in root coordinates.
    Geometry geometry(xcb_window_t window);
    bool isViewable(xcb_window_t window);
    // The events some client takes from the window (all clients' event masks together).
    std::uint32_t selectedEvents(xcb_window_t window);
    // The window's child of the root (its frame, for a managed window).
    xcb_window_t topLevelOf(xcb_window_t window);
    // The root's children bottom to top: the order the server draws in.
    std::vector<xcb_window_t> stackingOrder();
    // Whether `upper` is drawn above `lower`.
    bool isAbove(xcb_window_t upper, xcb_window_t lower);
    // The colour of the screen at one root pixel.
    Rgb pixel(int x, int y);
    // The monitors the server reports now, in its order.
    std::vector<Geometry> monitors();
    // The window with keyboard focus and the manager's active window.
    xcb_window_t inputFocus();
    xcb_window_t activeWindow();

    // --- Windows the test makes itself: a plain window of one colour with the given
    // _NET_WM_WINDOW_TYPE (e.g. "_NET_WM_WINDOW_TYPE_DESKTOP"), placed where asked.
    xcb_window_t createWindow(const Geometry& geometry, const Rgb& color, const std::string& type,
                              bool takesClicks = false);
    // Button presses the test's own windows received since the last call.
    std::vector<xcb_window_t> takeButtonPresses();
    // Plays a window manager that swallows every map request: takes the root's substructure
    // redirection and names a check window, as a starting manager does.
    void swallowMapRequests();
    // Lets go of the redirection; later map requests map at once.
    void stopSwallowingMapRequests();
    // The windows whose map requests were swallowed since the last call.
    std::vector<xcb_window_t> takeMapRequests();
    // From now on, notes every window made as a child of the root.
    void watchWindowCreation();
    // The windows made since the last call, of the client that made `sample`.
    std::vector<xcb_window_t> takeWindowsCreatedByOwnerOf(xcb_window_t sample);

    // The colours down one column of the screen, top to bottom.
    std::vector<Rgb> column(int x, int y, int height);
    // Moves the pointer at once, as a hand on the mouse would.
    void warpPointer(int x, int y);

    // --- Pointer and keyboard, through xdotool.
    void click(int x, int y, int button = 1);
    void moveMouse(int x, int y);
    // Presses the left button at one point, moves in steps to another and releases it.
    void drag(int fromX, int fromY, int toX, int toY);
    void typeText(const std::string& text);
    void key(const std::string& keys);

private:
    std::uint32_t pixelValue(int x, int y);
    Rgb toRgb(std::uint32_t value) const;
    void pumpEvents();

    std::filesystem::path directory_;
    std::string display_;
    std::unique_ptr<ChildProcess> xvfb_;
    std::unique_ptr<ChildProcess> openbox_;
    std::unique_ptr<ChildProcess> tray_;
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
    const xcb_visualtype_t* visual_ = nullptr;
    std::map<std::string, xcb_atom_t> atoms_;
    std::vector<xcb_window_t> ownWindows_;
    std::vector<xcb_window_t> buttonPresses_;
    std::vector<xcb_window_t> created_;
    std::vector<xcb_window_t> mapRequests_;
};

}  // namespace vellumor::x11test
