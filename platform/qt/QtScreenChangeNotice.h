#pragma once

#include <functional>
#include <utility>
#include <vector>

#include "platform/NotificationCenter.h"
#include "platform/qt/QtCoalescedCall.h"
#include "platform/qt/QtConversions.h"

namespace platform::qt {

// The screen-parameters notification of a window system: after any number of signs of a change
// within a pass of the event loop, the monitors are read once on the next pass, and the
// notification is posted once if they differ from those last announced.
class ScreenChangeNotice final {
public:
    // `read` gives the monitors as they are now.
    explicit ScreenChangeNotice(std::function<std::vector<Monitor>()> read)
        : read_(std::move(read)), check_([this] { check(); }) {}

    // Takes the monitors as they are now as known to the program: no notice for them.
    void settle() { announced_ = read_(); }
    // The monitors may have changed: looked at on the next pass of the event loop.
    void request() { check_.request(); }

private:
    void check() {
        auto current = read_();
        if (current == announced_) {
            return;
        }
        announced_ = std::move(current);
        NotificationCenter::defaultCenter().postNotificationName(
            NSApplicationDidChangeScreenParametersNotification, nullptr);
    }

    std::function<std::vector<Monitor>()> read_;
    std::vector<Monitor> announced_;
    CoalescedCall check_;
};

}  // namespace platform::qt
