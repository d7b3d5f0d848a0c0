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

}  // namespace platform::qt
