#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/PropertyValue.h"
#include "platform/common/FileDescriptor.h"

namespace platform::common::detail {

// A file that replaceFile put in place, until its contents and its name are on stable
// storage. Until then every reader sees the file, and it outlives the process however that
// ends, but a power cut may still lose it. Only the directory is kept open: a file held open
// after a later write has unlinked it costs that write the file system's bookkeeping of an
// open, unlinked file, so the file is found again by its name when it is synced.
class PlacedFile {
public:
    PlacedFile() = default;
    PlacedFile(FileDescriptor directory, std::string directoryName, std::string name);

    // Whether there is a file whose sync is still to come.
    bool pending() const { return directory_.get() >= 0; }
    int directory() const { return directory_.get(); }
    // Puts the contents of the file now under the name, then the name, on stable storage and
    // lets go of the directory; gives nothing once the contents are there (or the name holds
    // no file any more), or else why they may not be. A file system that cannot sync
    // directories does not make it a failure.
    std::optional<std::string> sync();

private:
    FileDescriptor directory_;
    std::string directoryName_;
    std::string name_;
};

// Replaces `target` with `bytes` so that readers see either the old or the new file, never a
// part of one, and only inside a directory that is the user's alone: its own (not a symbolic
// link), writable by nobody else, reached through directories that only the user or root can
// change. Missing directories are made, private to the user. After a write, the temporary
// files that killed writers left beside the target are removed. Gives nothing once the file
// is in place, with `placed` holding it for its sync, or else why it is not, in words that
// name the step and the system's reason (`placed` then untouched).
std::optional<std::string> replaceFile(const std::filesystem::path& target, const Data& bytes,
                                       PlacedFile& placed);

}  // namespace platform::common::detail
