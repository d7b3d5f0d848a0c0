#pragma once

#include <unistd.h>

#include <utility>

namespace platform::common::detail {

// Closes a descriptor on every path out of a scope, or wherever it is handed on to.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        FileDescriptor old(std::exchange(fd_, std::exchange(other.fd_, -1)));
        return *this;
    }

    int get() const { return fd_; }
    // Closes now, reporting whether the data reached the file system.
    bool close() {
        const int fd = std::exchange(fd_, -1);
        return fd >= 0 && ::close(fd) == 0;
    }

private:
    int fd_;
};

}  // namespace platform::common::detail
