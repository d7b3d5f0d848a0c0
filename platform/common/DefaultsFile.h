#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/PropertyValue.h"

namespace platform::common {

// One user-defaults domain kept as a binary property-list file, the way a macOS preferences
// file is kept. Every key of the file is preserved across writes, whatever its type, except
// entries holding text that is not UTF-8, which a property list cannot hold again.
class DefaultsFile final {
public:
    // Opens the domain stored in `file`. A missing, unreadable or corrupt file reads as an
    // empty domain and is left untouched until a write replaces it.
    explicit DefaultsFile(std::filesystem::path file);
    ~DefaultsFile();
    DefaultsFile(const DefaultsFile&) = delete;
    DefaultsFile& operator=(const DefaultsFile&) = delete;

    // The scalar value stored under `key`, or nothing when absent or a container.
    std::optional<PropertyValue> objectForKey(const std::string& key) const;
    // The data stored under `key`, or nothing when absent or not data.
    std::optional<Data> dataForKey(const std::string& key) const;
    // Stores `value` under `key`, replacing any earlier value. The next read sees it at once.
    // Before returning, the file is replaced atomically (temporary file in the same directory,
    // mode 0600, then rename), so it is never torn, and only with contents that read back;
    // only a directory that is the user's alone is written (see replaceFile). From then on the
    // file holds the value for every reader and whatever ends the process, kill -9 included;
    // only a power cut can still take it back, until sync. If the file cannot be written, the
    // value is kept in memory, the old file stays intact, one line on stderr names the file
    // and the reason (once per reason for this object) and false is returned.
    bool setObject(const PropertyValue& value, const std::string& key);
    // Whether a value written is still to be synced.
    bool needsSync() const;
    // Puts the last write on stable storage, so that a power cut keeps it (fsync of the file,
    // then of its directory); one sync serves any number of writes before it. Also done when
    // the object is destroyed, when the process exits, and before SIGTERM, SIGINT or SIGHUP
    // end it by their default action (ExitSync). A failure is told on stderr as a failed
    // write is.
    void sync();

    // Where the domain is stored.
    const std::filesystem::path& path() const;

private:
    void syncLocked();

    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform::common
