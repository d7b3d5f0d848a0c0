#pragma once

#include <cstdint>
#include <vector>

namespace platform::qt {

// One managed window as the window manager stacks it.
struct StackedWindow {
    enum class Kind {
        // A window of ours kept in the desktop stack (an overlay).
        Own,
        // Someone else's desktop window, such as a file manager's icons.
        ForeignDesktop,
        // A window of another Vellumor (another user's on the same display): never a desktop
        // window to climb above, since that one would climb back.
        OtherVellumor,
        // Any other window.
        Other,
    };
    std::uint32_t window = 0;
    Kind kind = Kind::Other;
};

// A request to put `window` directly above `sibling`; with no sibling (0), at the very bottom.
struct RestackRequest {
    std::uint32_t window = 0;
    std::uint32_t sibling = 0;
    friend bool operator==(const RestackRequest&, const RestackRequest&) = default;
};

// What keeps our desktop-stack windows directly above every foreign desktop window, given the
// manager's stacking order from bottom to top (_NET_CLIENT_LIST_STACKING). Each own window
// below the topmost foreign desktop window is moved above it, keeping the own windows'
// order among themselves; nothing is asked when the order is already right, so that the
// answer to our own restacking is no further request.
std::vector<RestackRequest> restacksAboveDesktop(const std::vector<StackedWindow>& bottomToTop);

// What keeps our windows at the bottom of the stack where the program keeps them there itself,
// given the root window's children from bottom to top: each own window is to lie in the run of
// windows at the bottom that are desktop windows or this program's (a window of any other
// kind ends the run), above every foreign desktop window of that run. When one is not, all
// own windows go directly above the run's topmost foreign desktop window, or to the very
// bottom if it has none, keeping their order among themselves. Another Vellumor's windows
// may lie above or below ours, so that two such programs both find their order right.
std::vector<RestackRequest> restacksAtBottom(const std::vector<StackedWindow>& bottomToTop);

}  // namespace platform::qt
