#pragma once

#include <QMetaObject>
#include <QObject>

#include <functional>
#include <utility>

namespace platform::qt {

// Runs a function once on the next pass of the event loop however often it is requested
// before then. A window system reports one change as a burst of events, which one deferred
// call serves.
class CoalescedCall final {
public:
    explicit CoalescedCall(std::function<void()> function) : function_(std::move(function)) {}
    CoalescedCall(const CoalescedCall&) = delete;
    CoalescedCall& operator=(const CoalescedCall&) = delete;

    // Asks for one call on the next pass of the event loop.
    void request() {
        if (pending_) {
            return;
        }
        pending_ = true;
        // Queued on a context this object owns, so a call still queued when it is
        // destroyed is dropped rather than run on a dead object.
        QMetaObject::invokeMethod(
            &context_,
            [this] {
                pending_ = false;
                function_();
            },
            Qt::QueuedConnection);
    }

private:
    std::function<void()> function_;
    QObject context_;
    bool pending_ = false;
};

}  // namespace platform::qt
