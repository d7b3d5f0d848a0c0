#include "platform/common/FileReplacement.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <random>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/common/FileDescriptor.h"
#include "platform/common/FileSizeSignalGuard.h"

namespace platform::common::detail {

namespace {

namespace fs = std::filesystem;

// Temporary files are named ".<target>.XXXXXX", six characters from this set, as mkstemp
// names them (which earlier versions used).
constexpr std::string_view kNameCharacters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kSuffixLength = 6;

// `step` followed by the system's reason for the failure that just happened.
std::string because(const std::string& step) {
    return step + ": " + std::strerror(errno);
}

bool writeAll(int fd, const Data& bytes) {
    const FileSizeSignalGuard guard;
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            if (count == 0) {
                errno = EIO;
            }
            return false;
        }
        written += static_cast<std::size_t>(count);
    }
    return true;
}

// Creates `directory` and its missing parents, private to the user like a preferences
// folder.
std::optional<std::string> ensureDirectory(const fs::path& directory) {
    fs::path prefix;
    for (const auto& part : directory) {
        prefix /= part;
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
            return because("cannot create " + prefix.string());
        }
    }
    return std::nullopt;
}

// The directory the file goes in: the user's, and nobody else may add, rename or remove
// what is in it.
std::optional<std::string> checkOwnDirectory(int directory, const fs::path& path) {
    struct stat status {};
    if (::fstat(directory, &status) != 0) {
        return because("cannot examine " + path.string());
    }
    if (status.st_uid != ::geteuid()) {
        return path.string() + " belongs to another user";
    }
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return path.string() + " can be written by other users";
    }
    return std::nullopt;
}

// The directories above it, as the system resolves them: each the user's or root's, and
// writable by others only when sticky (as /tmp is), where nobody renames what is not theirs.
// Otherwise someone else could put their own directory in its place.
std::optional<std::string> checkAncestors(const fs::path& path) {
    std::error_code error;
    const fs::path real = fs::canonical(path, error);
    if (error) {
        return "cannot resolve " + path.string() + ": " + error.message();
    }
    fs::path prefix;
    for (const auto& part : real.parent_path()) {
        prefix /= part;
        struct stat status {};
        if (::lstat(prefix.c_str(), &status) != 0) {
            return because("cannot examine " + prefix.string());
        }
        if (status.st_uid != ::geteuid() && status.st_uid != 0) {
            return prefix.string() + " belongs to another user";
        }
        if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (status.st_mode & S_ISVTX) == 0) {
            return prefix.string() + " can be written by other users";
        }
    }
    return std::nullopt;
}

std::string temporaryName(const std::string& target) {
    thread_local std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<std::size_t> pick(0, kNameCharacters.size() - 1);
    std::string name = "." + target + ".";
    for (std::size_t i = 0; i < kSuffixLength; ++i) {
        name += kNameCharacters[pick(random)];
    }
    return name;
}

bool isTemporaryName(std::string_view name, const std::string& target) {
    const std::string prefix = "." + target + ".";
    return name.size() == prefix.size() + kSuffixLength && name.starts_with(prefix) &&
           name.substr(prefix.size()).find_first_not_of(kNameCharacters) == std::string_view::npos;
}

// Removes the temporary files of writers that died before putting theirs in place: this
// program's name pattern only, regular files of the user only, links never followed.
void removeStaleTemporaries(int directory, const std::string& target) {
    const int listed = ::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listed < 0) {
        return;
    }
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(::fdopendir(listed), &::closedir);
    if (!listing) {
        ::close(listed);
        return;
    }
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(listing.get())) {
        struct stat status {};
        if (isTemporaryName(entry->d_name, target) &&
            ::fstatat(directory, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode) && status.st_uid == ::geteuid()) {
            stale.emplace_back(entry->d_name);
        }
    }
    for (const std::string& name : stale) {
        ::unlinkat(directory, name.c_str(), 0);
    }
}

}  // namespace

PlacedFile::PlacedFile(FileDescriptor directory, std::string directoryName, std::string name)
    : directory_(std::move(directory)),
      directoryName_(std::move(directoryName)),
      name_(std::move(name)) {}

std::optional<std::string> PlacedFile::sync() {
    if (!pending()) {
        return std::nullopt;
    }
    std::optional<std::string> failed;
    // O_NONBLOCK: whatever another program may have put under the name, opening it must not
    // wait (a FIFO); fsync of anything but a file only fails, harmlessly.
    const FileDescriptor file(::openat(directory_.get(), name_.c_str(),
                                       O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.get() >= 0 && ::fsync(file.get()) != 0 && errno != EINVAL) {
        failed = because("cannot write to " + directoryName_);
    }
    // The name last: once it is durable, so must be what it names.
    ::fsync(directory_.get());
    directory_.close();
    return failed;
}

std::optional<std::string> replaceFile(const fs::path& target, const Data& bytes,
                                       PlacedFile& placed) {
    if (!target.has_filename()) {
        return "the path names no file";
    }
    const fs::path directory = target.has_parent_path() ? target.parent_path() : fs::path(".");
    if (auto failed = ensureDirectory(directory)) {
        return failed;
    }
    // Everything below happens through this descriptor, so the directory checked is the one
    // written, whatever is renamed meanwhile.
    FileDescriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dir.get() < 0) {
        // O_NOFOLLOW with O_DIRECTORY fails on a link to a directory with ENOTDIR or ELOOP.
        const int error = errno;
        struct stat status {};
        if (::lstat(directory.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
            return directory.string() + " is a symbolic link";
        }
        errno = error;
        return because("cannot open " + directory.string());
    }
    if (auto refused = checkOwnDirectory(dir.get(), directory)) {
        return refused;
    }
    if (auto refused = checkAncestors(directory)) {
        return refused;
    }
    // Writers share the directory's lock from before they create a temporary file until it
    // is in place, and the lock goes with a killed process; so whoever holds it alone knows
    // that every temporary file there is a dead writer's. Where locks are not supported,
    // nothing is swept.
    const bool locked = ::flock(dir.get(), LOCK_SH) == 0;

    // The temporary file lives beside the target, because a rename is only atomic within one
    // file system; the rename also replaces a symbolic link at the target itself rather than
    // the file it points to, so a write never lands outside the domain's own path.
    const std::string name = target.filename().string();
    std::string temporary;
    int created = -1;
    for (int attempt = 0; attempt < 100 && created < 0; ++attempt) {
        temporary = temporaryName(name);
        created = ::openat(dir.get(), temporary.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (created < 0 && errno != EEXIST) {
            break;
        }
    }
    FileDescriptor file(created);
    if (file.get() < 0) {
        return because("cannot create a file in " + directory.string());
    }
    // No fsync here: the rename alone keeps readers and a killed process to the old or the new
    // file, and the caller makes it durable later, once for a burst of writes (PlacedFile).
    std::optional<std::string> failed;
    if (::fchmod(file.get(), 0600) != 0 || !writeAll(file.get(), bytes) || !file.close()) {
        failed = because("cannot write to " + directory.string());
    } else if (::renameat(dir.get(), temporary.c_str(), dir.get(), name.c_str()) != 0) {
        failed = because("cannot replace the file");
    }
    if (failed) {
        ::unlinkat(dir.get(), temporary.c_str(), 0);
        return failed;
    }
    if (locked && ::flock(dir.get(), LOCK_EX | LOCK_NB) == 0) {
        removeStaleTemporaries(dir.get(), name);
    }
    // The directory stays open for the sync, but other writers' sweeps must not wait for it.
    if (locked) {
        ::flock(dir.get(), LOCK_UN);
    }
    placed = PlacedFile(std::move(dir), directory.string(), name);
    return std::nullopt;
}

}  // namespace platform::common::detail
