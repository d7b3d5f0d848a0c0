// The rules by which the X11 backend keeps the overlays directly above the desktop windows,
// played on stacks of window ids, with the requests carried out as the X server would.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "platform/qt/QtStacking.h"

namespace platform::qt {
namespace {

using Ids = std::vector<std::uint32_t>;
using Rule = std::function<std::vector<RestackRequest>(const std::vector<StackedWindow>&)>;

// A stack bottom to top by window id: 1x are program 1's (ours), 2x program 2's (another
// Vellumor), 5x desktop windows of other programs, 9x ordinary windows.
std::vector<StackedWindow> seenBy(const Ids& stack, std::uint32_t program) {
    std::vector<StackedWindow> seen;
    for (const std::uint32_t id : stack) {
        const std::uint32_t owner = id / 10;
        seen.push_back({id, owner == program           ? StackedWindow::Kind::Own
                            : owner == 1 || owner == 2 ? StackedWindow::Kind::OtherVellumor
                            : owner == 5               ? StackedWindow::Kind::ForeignDesktop
                                                       : StackedWindow::Kind::Other});
    }
    return seen;
}

// Applies `rule` for each program in turn, carrying out its requests in order as the server
// restacks, until none asks anything (the stack then) or `rounds` pass (an empty stack).
Ids settled(Ids stack, const Rule& rule, const Ids& programs = {1}, int rounds = 1) {
    for (int round = 0; round <= rounds; ++round) {
        bool asked = false;
        for (const std::uint32_t program : programs) {
            for (const RestackRequest& request : rule(seenBy(stack, program))) {
                asked = true;
                stack.erase(std::find(stack.begin(), stack.end(), request.window));
                const auto sibling = std::find(stack.begin(), stack.end(), request.sibling);
                stack.insert(request.sibling == 0 ? stack.begin() : sibling + 1, request.window);
            }
        }
        if (!asked) {
            return stack;
        }
    }
    return {};
}

TEST(StackingRulesTest, OursEndDirectlyAboveTheDesktopWindowsAtOnceAndRightStacksStay) {
    // Where the program keeps the stack: at the bottom or above the desktop windows there,
    // another Vellumor's windows anywhere among them; a desktop window mapped on top while no
    // manager keeps a layer is not chased over the ordinary windows.
    for (const Ids& right :
         {Ids{11, 12, 91}, Ids{51, 11, 21, 12, 91, 92}, Ids{11, 91, 51}, Ids{}}) {
        EXPECT_TRUE(restacksAtBottom(seenBy(right, 1)).empty()) << ::testing::PrintToString(right);
    }
    // Each answer brings the order at once: one round, then nothing more is asked.
    EXPECT_EQ(settled({91, 11, 92, 12}, restacksAtBottom), (Ids{11, 12, 91, 92}));
    EXPECT_EQ(settled({51, 91, 12, 11}, restacksAtBottom), (Ids{51, 12, 11, 91}));
    EXPECT_EQ(settled({11, 51, 12, 52, 91}, restacksAtBottom), (Ids{51, 52, 11, 12, 91}));
    // Under a manager: ours climb over foreign desktop windows only.
    EXPECT_TRUE(restacksAboveDesktop(seenBy({11, 21, 12, 22, 91}, 1)).empty());
    EXPECT_EQ(settled({11, 51, 12, 21, 91}, restacksAboveDesktop), (Ids{51, 11, 12, 21, 91}));
}

TEST(StackingRulesTest, TwoVellumorsOnOneDisplayNeverClimbOverEachOther) {
    for (const Ids& start : {Ids{21, 11, 12, 22, 91}, Ids{91, 11, 21}, Ids{21, 91, 51, 11, 92},
                             Ids{51, 21, 11, 91, 52}}) {
        for (const Rule& rule : {Rule(restacksAtBottom), Rule(restacksAboveDesktop)}) {
            EXPECT_FALSE(settled(start, rule, {1, 2}, 10).empty())
                << "no end from " << ::testing::PrintToString(start);
        }
    }
}

}  // namespace
}  // namespace platform::qt
