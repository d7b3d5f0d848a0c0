#pragma once

#include <string_view>

namespace platform::common::detail {

// A file that must reach stable storage before the process ends. While a watch holds a
// directory, the file of the watched name in it and then the directory itself are fsynced
// when the process exits (exit, or a return from main), and when SIGTERM, SIGINT or SIGHUP
// arrive with their default action, which then ends the process as it would have (the same
// signal, the same wait status). A signal the process ignores or handles itself is left
// alone. Any thread may take the signal.
class ExitSync final {
public:
    // A watch of the file `name` (no directory part); a process has room for a few (see
    // watching).
    explicit ExitSync(std::string_view name);
    ~ExitSync();
    ExitSync(const ExitSync&) = delete;
    ExitSync& operator=(const ExitSync&) = delete;

    // Whether this watch found room, and the name fits. Without it, watch does nothing and
    // the owner must sync at once.
    bool watching() const { return slot_ >= 0; }
    // From now until the next watch or clear, the end of the process syncs the file in
    // `directory` (an open descriptor; -1: none) first.
    void watch(int directory);
    // Nothing to sync any more.
    void clear() { watch(-1); }

private:
    int slot_ = -1;
};

}  // namespace platform::common::detail
