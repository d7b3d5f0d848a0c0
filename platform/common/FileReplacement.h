#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/PropertyValue.h"

namespace platform::common::detail {

// Replaces `target` with `bytes` so that readers see either the old or the new file, never a
// part of one, and only inside a directory that is the user's alone: its own (not a symbolic
// link), writable by nobody else, reached through directories that only the user or root can
// change. Missing directories are made, private to the user. After a write, the temporary
// files that killed writers left beside the target are removed. Gives nothing once the file
// is in place, or else why it is not, in words that name the step and the system's reason.
std::optional<std::string> replaceFile(const std::filesystem::path& target, const Data& bytes);

}  // namespace platform::common::detail
