#pragma once

#include <algorithm>
#include <chrono>
#include <optional>

namespace platform::common {

// When an event loop syncs the defaults written in a burst of picks (DefaultsFile::sync): once
// the writes have paused for kQuiet, so that a drag through the colour panel costs one sync
// instead of one per colour, and at the latest kLongest after the first write not yet synced,
// so that a drag that never pauses is not left to a power cut for long.
class SyncSchedule final {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::duration kQuiet = std::chrono::milliseconds(500);
    static constexpr Clock::duration kLongest = std::chrono::seconds(5);

    // A write happened at `now`; when the sync falls due.
    Clock::time_point wrote(Clock::time_point now) {
        if (!firstUnsynced_) {
            firstUnsynced_ = now;
        }
        due_ = std::min(now + kQuiet, *firstUnsynced_ + kLongest);
        return due_;
    }
    // When the sync falls due, or nothing when every write has been synced.
    std::optional<Clock::time_point> due() const {
        return firstUnsynced_ ? std::optional(due_) : std::nullopt;
    }
    // The writes so far have been synced.
    void synced() { firstUnsynced_.reset(); }

private:
    std::optional<Clock::time_point> firstUnsynced_;
    Clock::time_point due_{};
};

}  // namespace platform::common
