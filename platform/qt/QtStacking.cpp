#include "platform/qt/QtStacking.h"

#include <algorithm>

namespace platform::qt {

std::vector<RestackRequest> restacksAboveDesktop(const std::vector<StackedWindow>& bottomToTop) {
    const auto topForeign =
        std::find_if(bottomToTop.rbegin(), bottomToTop.rend(), [](const StackedWindow& entry) {
            return entry.kind == StackedWindow::Kind::ForeignDesktop;
        });
    if (topForeign == bottomToTop.rend()) {
        return {};
    }
    std::vector<RestackRequest> requests;
    std::uint32_t anchor = topForeign->window;
    for (auto entry = bottomToTop.begin(); entry != topForeign.base() - 1; ++entry) {
        if (entry->kind == StackedWindow::Kind::Own) {
            requests.push_back({entry->window, anchor});
            anchor = entry->window;
        }
    }
    return requests;
}

std::vector<RestackRequest> restacksAtBottom(const std::vector<StackedWindow>& bottomToTop) {
    using Kind = StackedWindow::Kind;
    const auto isOwn = [](const StackedWindow& entry) { return entry.kind == Kind::Own; };
    const auto runEnd =
        std::find_if(bottomToTop.begin(), bottomToTop.end(),
                     [](const StackedWindow& entry) { return entry.kind == Kind::Other; });
    bool inOrder = std::none_of(runEnd, bottomToTop.end(), isOwn);
    bool ownSeen = false;
    std::uint32_t anchor = 0;
    for (auto entry = bottomToTop.begin(); entry != runEnd; ++entry) {
        if (entry->kind == Kind::Own) {
            ownSeen = true;
        } else if (entry->kind == Kind::ForeignDesktop) {
            anchor = entry->window;
            inOrder = inOrder && !ownSeen;
        }
    }
    if (inOrder) {
        return {};
    }
    std::vector<RestackRequest> requests;
    for (const StackedWindow& entry : bottomToTop) {
        if (isOwn(entry)) {
            requests.push_back({entry.window, anchor});
            anchor = entry.window;
        }
    }
    return requests;
}

}  // namespace platform::qt
