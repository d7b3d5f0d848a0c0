// The rules by which the X11 backend keeps the overlays directly above the desktop windows,
// played on stacks of window ids, with the requests carried out as the X server would.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <vector>

#include "platform/qt/QtStacking.h"

namespace platform::qt {
namespace {

using Kind = StackedWindow::Kind;
using Rule = std::function<std::vector<RestackRequest>(const std::vector<StackedWindow>&)>;

// A stack bottom to top, each window belonging to a program (0: none of ours) and being a
// desktop window or not.
struct Window {
    std::uint32_t id;
    int program;
    bool desktop;
};

// The stack as `program` sees it: its own windows, another Vellumor's, desktop windows.
std::vector<StackedWindow> seenBy(const std::vector<Window>& stack, int program) {
    std::vector<StackedWindow> seen;
    for (const Window& window : stack) {
        Kind kind = Kind::Other;
        if (window.program == program) {
            kind = Kind::Own;
        } else if (window.program != 0) {
            kind = Kind::OtherVellumor;
        } else if (window.desktop) {
            kind = Kind::ForeignDesktop;
        }
        seen.push_back({window.id, kind});
    }
    return seen;
}

// Carries out the requests in order, as the server restacks.
void apply(std::vector<Window>& stack, const std::vector<RestackRequest>& requests) {
    const auto at = [&stack](std::uint32_t id) {
        return std::find_if(stack.begin(), stack.end(),
                            [id](const Window& w) { return w.id == id; });
    };
    for (const RestackRequest& request : requests) {
        const Window moved = *at(request.window);
        stack.erase(at(request.window));
        stack.insert(request.sibling == 0 ? stack.begin() : at(request.sibling) + 1, moved);
    }
}

std::vector<std::uint32_t> ids(const std::vector<Window>& stack) {
    std::vector<std::uint32_t> result;
    for (const Window& window : stack) {
        result.push_back(window.id);
    }
    return result;
}

// The stack once `rule` has been applied for program 1 until it asks nothing more; fails if
// it asks more than twice (each answer must bring the order it wants at once).
std::vector<std::uint32_t> settled(std::vector<Window> stack, const Rule& rule) {
    for (int round = 0; round < 2; ++round) {
        const auto requests = rule(seenBy(stack, 1));
        if (requests.empty()) {
            return ids(stack);
        }
        apply(stack, requests);
    }
    EXPECT_TRUE(rule(seenBy(stack, 1)).empty()) << "the rule asks again after its own answer";
    return ids(stack);
}

// Two Vellumors on one display, each answering the other's moves, for a while: whether both
// end up asking nothing.
bool twoProgramsSettle(std::vector<Window> stack, const Rule& rule) {
    for (int round = 0; round < 10; ++round) {
        bool asked = false;
        for (const int program : {1, 2}) {
            const auto requests = rule(seenBy(stack, program));
            asked = asked || !requests.empty();
            apply(stack, requests);
        }
        if (!asked) {
            return true;
        }
    }
    return false;
}

// Windows: 1x of program 1 (ours), 2x of program 2 (another Vellumor), 5x desktop windows of
// other programs, 9x ordinary windows.
const Window kOurs1{11, 1, true}, kOurs2{12, 1, true};
const Window kTheirs1{21, 2, true}, kTheirs2{22, 2, true};
const Window kIcons{51, 0, true}, kIcons2{52, 0, true};
const Window kEditor{91, 0, false}, kPanel{92, 0, false};

TEST(StackingRulesTest, WhereTheProgramKeepsTheStackOursLieAtTheBottomAboveTheDesktopWindows) {
    const Rule rule = restacksAtBottom;
    // Right as they are: at the bottom, or above the desktop windows at the bottom, with
    // another Vellumor's windows anywhere among them.
    for (const auto& stack :
         std::vector<std::vector<Window>>{{kOurs1, kOurs2, kEditor},
                                          {kIcons, kOurs1, kOurs2, kEditor, kPanel},
                                          {kIcons, kTheirs1, kOurs1, kEditor},
                                          {kIcons, kOurs1, kTheirs1, kOurs2, kEditor},
                                          {kEditor, kPanel},
                                          {}}) {
        EXPECT_TRUE(rule(seenBy(stack, 1)).empty()) << ::testing::PrintToString(ids(stack));
    }
    // A desktop window mapped on top while no manager keeps a layer is not chased over the
    // ordinary windows.
    EXPECT_TRUE(rule(seenBy({kOurs1, kEditor, kIcons}, 1)).empty());

    // An ordinary window below ours: ours go to the very bottom, in their order.
    EXPECT_EQ(settled({kEditor, kOurs1, kPanel, kOurs2}, rule),
              (std::vector<std::uint32_t>{11, 12, 91, 92}));
    // Above the desktop windows at the bottom, also one that came to lie above ours.
    EXPECT_EQ(settled({kIcons, kEditor, kOurs2, kOurs1}, rule),
              (std::vector<std::uint32_t>{51, 12, 11, 91}));
    EXPECT_EQ(settled({kOurs1, kIcons, kOurs2, kIcons2, kEditor}, rule),
              (std::vector<std::uint32_t>{51, 52, 11, 12, 91}));
}

TEST(StackingRulesTest, UnderAManagerOursClimbOverForeignDesktopWindowsOnly) {
    const Rule rule = restacksAboveDesktop;
    EXPECT_TRUE(rule(seenBy({kIcons, kOurs1, kOurs2, kEditor}, 1)).empty());
    // Another Vellumor's windows are left where they are, above or below ours.
    EXPECT_TRUE(rule(seenBy({kOurs1, kTheirs1, kOurs2, kTheirs2, kEditor}, 1)).empty());
    EXPECT_EQ(settled({kOurs1, kIcons, kOurs2, kTheirs1, kEditor}, rule),
              (std::vector<std::uint32_t>{51, 11, 12, 21, 91}));
}

TEST(StackingRulesTest, TwoVellumorsOnOneDisplayNeverClimbOverEachOther) {
    const std::vector<std::vector<Window>> starts{{kOurs1, kTheirs1, kEditor},
                                                  {kTheirs1, kOurs1, kOurs2, kTheirs2, kEditor},
                                                  {kEditor, kOurs1, kTheirs1},
                                                  {kTheirs1, kEditor, kIcons, kOurs1, kPanel},
                                                  {kIcons, kTheirs1, kOurs1, kEditor, kIcons2}};
    for (const auto& start : starts) {
        EXPECT_TRUE(twoProgramsSettle(start, restacksAtBottom))
            << "at the bottom, from " << ::testing::PrintToString(ids(start));
        EXPECT_TRUE(twoProgramsSettle(start, restacksAboveDesktop))
            << "under a manager, from " << ::testing::PrintToString(ids(start));
    }
}

}  // namespace
}  // namespace platform::qt
