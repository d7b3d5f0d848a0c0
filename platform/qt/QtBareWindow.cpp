#include "platform/qt/QtBareWindow.h"

#include <unistd.h>

#include <algorithm>
#include <array>

#include "platform/qt/QtDesktopStack.h"

namespace platform::qt {

namespace {
// ICCCM WM_HINTS: flags, input, initial state and six fields the backend leaves empty.
constexpr std::uint32_t kInputHint = 1U << 0;
constexpr std::uint32_t kStateHint = 1U << 1;
constexpr std::uint32_t kNormalState = 1;
constexpr std::uint32_t kAllDesktops = 0xFFFFFFFF;
// ICCCM WM_NORMAL_HINTS flags.
constexpr std::uint32_t kUserPosition = 1U << 0;
constexpr std::uint32_t kUserSize = 1U << 1;
constexpr std::uint32_t kProgramPosition = 1U << 2;
constexpr std::uint32_t kProgramSize = 1U << 3;
constexpr std::uint32_t kMinSize = 1U << 4;
constexpr std::uint32_t kMaxSize = 1U << 5;
constexpr std::uint32_t kWinGravity = 1U << 9;
constexpr std::uint32_t kStaticGravity = 10;

std::uint32_t eventMask(bool takesClicks) {
    // Selecting the button events makes this client the one that receives them, so a click
    // goes no further: not to the desktop below, nor to the root window's menus. The
    // structure events tell of the window being moved in the stack or given another parent.
    return XCB_EVENT_MASK_STRUCTURE_NOTIFY |
           (takesClicks ? XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE : 0U);
}
}  // namespace

QtBareWindow::QtBareWindow(X11Connection& x11, QtDesktopStack& stack, const QRect& geometry)
    : x11_(x11),
      stack_(stack),
      window_(xcb_generate_id(x11.connection())),
      geometry_(geometry),
      pixel_(x11.screen().black_pixel) {
    const xcb_screen_t& screen = x11_.screen();
    const std::array<std::uint32_t, 2> values{pixel_, eventMask(true)};
    xcb_create_window(x11_.connection(), XCB_COPY_FROM_PARENT, window_, screen.root,
                      static_cast<std::int16_t>(geometry.x()),
                      static_cast<std::int16_t>(geometry.y()),
                      static_cast<std::uint16_t>(std::max(1, geometry.width())),
                      static_cast<std::uint16_t>(std::max(1, geometry.height())), 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen.root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values.data());

    // Who the window belongs to, for window managers, pagers and tools.
    x11_.setProperty8(window_, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, kVellumorWindowClass);
    x11_.setProperty8(window_, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, "Vellumor");
    x11_.setProperty8(window_, x11_.atom("_NET_WM_NAME"), x11_.atom("UTF8_STRING"), "Vellumor");
    x11_.setProperty32(window_, x11_.atom("_NET_WM_PID"), XCB_ATOM_CARDINAL,
                       {static_cast<std::uint32_t>(::getpid())});
    std::array<char, 256> host{};
    if (::gethostname(host.data(), host.size() - 1) == 0) {
        x11_.setProperty8(window_, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, host.data());
    }
    writeSizeHints();
    x11_.flush();
    stack_.bareWindowCreated(*this);
}

QtBareWindow::~QtBareWindow() {
    stack_.bareWindowDestroyed(*this);
    xcb_destroy_window(x11_.connection(), window_);
    x11_.flush();
}

void QtBareWindow::setGeometry(const QRect& geometry) {
    if (geometry == geometry_) {
        return;
    }
    geometry_ = geometry;
    const std::array<std::uint32_t, 4> values{
        static_cast<std::uint32_t>(geometry.x()), static_cast<std::uint32_t>(geometry.y()),
        static_cast<std::uint32_t>(std::max(1, geometry.width())),
        static_cast<std::uint32_t>(std::max(1, geometry.height()))};
    xcb_configure_window(x11_.connection(), window_,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                             XCB_CONFIG_WINDOW_HEIGHT,
                         values.data());
    writeSizeHints();
    x11_.flush();
}

void QtBareWindow::writeSizeHints() {
    // A position given by the user is one that managers keep rather than choosing their own
    // place (openbox 3.6 places a second window elsewhere otherwise); the size is fixed.
    const auto x = static_cast<std::uint32_t>(geometry_.x());
    const auto y = static_cast<std::uint32_t>(geometry_.y());
    const auto width = static_cast<std::uint32_t>(std::max(1, geometry_.width()));
    const auto height = static_cast<std::uint32_t>(std::max(1, geometry_.height()));
    x11_.setProperty32(window_, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS,
                       {kUserPosition | kUserSize | kProgramPosition | kProgramSize | kMinSize |
                            kMaxSize | kWinGravity,
                        x, y, width, height, width, height, width, height, 0, 0, 0, 0, 0, 0, 0, 0,
                        kStaticGravity});
}

void QtBareWindow::setBackground(const Color& color) {
    pixel_ = x11_.pixelFor(color);
    xcb_change_window_attributes(x11_.connection(), window_, XCB_CW_BACK_PIXEL, &pixel_);
    // A changed background shows only where the server repaints: clear all of it now.
    xcb_clear_area(x11_.connection(), 0, window_, 0, 0, 0, 0);
    x11_.flush();
}

void QtBareWindow::setHints(const BareWindowHints& hints) {
    hints_ = hints;
    overrideRedirect_ = !hints.managed;
    // In the order of their flags' bits.
    const std::array<std::uint32_t, 2> attributes{overrideRedirect_ ? 1U : 0U,
                                                  eventMask(hints.takesClicks)};
    xcb_change_window_attributes(x11_.connection(), window_,
                                 XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, attributes.data());

    // Typed as a desktop window: a borderless window exactly the size of a monitor would
    // otherwise be taken for an old-style full-screen window and lifted above docks and
    // ordinary windows (openbox 3.6 does so whatever _NET_WM_STATE says).
    x11_.setProperty32(window_, x11_.atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM,
                       {x11_.atom("_NET_WM_WINDOW_TYPE_DESKTOP")});
    std::vector<std::uint32_t> states;
    for (const std::string& state : hints.states) {
        states.push_back(x11_.atom(state));
    }
    x11_.setProperty32(window_, x11_.atom("_NET_WM_STATE"), XCB_ATOM_ATOM, states);
    // Managers that ignore the sticky state (openbox 3.6) honour the desktop number.
    if (hints.allDesktops) {
        x11_.setProperty32(window_, x11_.atom("_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL,
                           {kAllDesktops});
    } else {
        xcb_delete_property(x11_.connection(), window_, x11_.atom("_NET_WM_DESKTOP"));
    }
    x11_.setProperty32(
        window_, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS,
        {kInputHint | kStateHint, hints.acceptsFocus ? 1U : 0U, kNormalState, 0, 0, 0, 0, 0, 0});
    x11_.flush();
}

void QtBareWindow::map() {
    if (overrideRedirect_) {
        // Mapped where it is in the stack: at the bottom it never shows above another window,
        // and the program's restacking lifts it over the desktop windows.
        const std::uint32_t bottom = XCB_STACK_MODE_BELOW;
        xcb_configure_window(x11_.connection(), window_, XCB_CONFIG_WINDOW_STACK_MODE, &bottom);
    }
    mapped_ = true;
    shown_ = false;
    requestMap();
}

void QtBareWindow::mapAgain() {
    if (mapped_ && unansweredMap_ != 0) {
        requestMap();
    }
}

void QtBareWindow::requestMap() {
    xcb_map_window(x11_.connection(), window_);
    // The server maps an override-redirect window itself; a managed one waits for the manager.
    unansweredMap_ = overrideRedirect_ ? 0 : stack_.mapRequested();
    x11_.flush();
}

void QtBareWindow::unmap() {
    if (!mapped_) {
        return;
    }
    mapped_ = false;
    shown_ = false;
    unansweredMap_ = 0;
    xcb_unmap_window(x11_.connection(), window_);
    // ICCCM 4.1.4: a synthetic UnmapNotify to the root withdraws the window, also where the
    // manager had it iconified and the real unmap changed nothing.
    xcb_unmap_notify_event_t notice{};
    notice.response_type = XCB_UNMAP_NOTIFY;
    notice.event = x11_.root();
    notice.window = window_;
    notice.from_configure = 0;
    x11_.sendToRoot(notice);
    x11_.flush();
}

}  // namespace platform::qt
