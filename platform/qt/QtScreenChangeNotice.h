#pragma once

#include <functional>
#include <utility>
#include <vector>

#include "platform/NotificationCenter.h"
#include "platform/qt/QtCoalescedCall.h"
#include "platform/qt/QtConversions.h"

namespace platform::qt {

// The screen-parameters notification of a window system: the monitors are read once a sign of
// a change has come, and the notification is posted once if they differ from those last
// announced.
class ScreenChangeNotice final {
public:
    // `read` gives the monitors as they are now.
    explicit ScreenChangeNotice(std::function<std::vector<Monitor>()> read)
        : read_(std::move(read)), nextPass_([this] { startPass(); }) {}

    // Takes the monitors as they are now as known to the program: no notice for them.
    void settle() { announced_ = read_(); }
    // The monitors may have changed: looked at on the next pass of the event loop, once
    // however many signs come before then.
    void request() {
        moreSigns_ = true;
        nextPass_.request();
    }
    // The same, except that the first sign in a pass of the event loop is looked at at once.
    // An X server's change reaches Qt's own screen update in the same pass, and the overlays
    // need not wait for it: it reads every output property of every monitor, a round trip
    // each. Whether the notification was posted now.
    bool requestAtOnce() {
        if (checkedInPass_) {
            request();
            return false;
        }
        checkedInPass_ = true;
        nextPass_.request();
        return check();
    }

private:
    void startPass() {
        checkedInPass_ = false;
        if (moreSigns_) {
            moreSigns_ = false;
            check();
        }
    }

    // Whether the notification was posted.
    bool check() {
        auto current = read_();
        if (current == announced_) {
            return false;
        }
        announced_ = std::move(current);
        NotificationCenter::defaultCenter().postNotificationName(
            NSApplicationDidChangeScreenParametersNotification, nullptr);
        return true;
    }

    std::function<std::vector<Monitor>()> read_;
    std::vector<Monitor> announced_;
    // Whether the monitors were looked at in this pass, and whether signs came since that
    // wait for the next.
    bool checkedInPass_ = false;
    bool moreSigns_ = false;
    CoalescedCall nextPass_;
};

}  // namespace platform::qt
