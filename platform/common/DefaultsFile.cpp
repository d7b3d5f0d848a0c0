#include "platform/common/DefaultsFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <limits>
#include <mutex>
#include <set>
#include <string_view>
#include <type_traits>
#include <utility>

#include "platform/common/ExitSync.h"
#include "platform/common/FileDescriptor.h"
#include "platform/common/FileReplacement.h"
#include "platform/common/FileSizeSignalGuard.h"
#include "platform/common/PlistSupport.h"

namespace platform::common {

namespace {

using detail::FileDescriptor;
using detail::PlistLimits;
using detail::PlistPtr;

// A preferences domain of a few settings is a few kilobytes; a file far larger is not ours to
// load into memory.
constexpr PlistLimits kDomainLimits{4 * 1024 * 1024, 1 << 18, 100};

// Property-list dates count from 2001-01-01 00:00:00 UTC.
constexpr std::int64_t kReferenceDateUnixSeconds = 978307200;
constexpr std::int64_t kMicrosPerSecond = 1000000;

// The contents of a regular file of at most `limit` bytes; nothing for anything else. A
// FIFO or device in place of the file must not block or flood the reader.
std::optional<Data> readSmallRegularFile(const std::filesystem::path& file, std::size_t limit) {
    const FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) {
        return std::nullopt;
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 0 ||
        static_cast<std::uint64_t>(status.st_size) > limit) {
        return std::nullopt;
    }
    // Room for the size fstat gave plus one byte, to notice a file that grew since; a grown
    // file is read on up to one byte beyond the limit. The buffer follows the file, not the
    // limit, so that opening a small domain does not clear megabytes.
    Data bytes(static_cast<std::size_t>(status.st_size) + 1);
    std::size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            if (bytes.size() > limit) {
                break;
            }
            bytes.resize(std::min(limit + 1, bytes.size() * 2));
        }
        const ssize_t count = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return std::nullopt;
        }
        if (count == 0) {
            break;
        }
        filled += static_cast<std::size_t>(count);
    }
    if (filled > limit) {
        return std::nullopt;
    }
    bytes.resize(filled);
    return bytes;
}

// Whether `text` can be stored as a property-list string: libplist takes NUL-terminated
// UTF-8 and converts it to UTF-16 for binary files, garbling malformed sequences.
bool storableText(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        std::uint32_t codePoint = 0;
        if (lead == 0) {
            return false;
        } else if (lead < 0x80) {
            length = 1;
            codePoint = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            codePoint = lead & 0x1FU;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            codePoint = lead & 0x0FU;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            codePoint = lead & 0x07U;
        } else {
            return false;
        }
        if (text.size() - i < length) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            codePoint = (codePoint << 6) | (next & 0x3FU);
        }
        constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (codePoint < kSmallest[length] || codePoint > 0x10FFFF ||
            (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

std::optional<PropertyValue> toValue(plist_t node) {
    switch (plist_get_node_type(node)) {
        case PLIST_STRING:
            return std::string(detail::stringValue(node).value_or(std::string_view{}));
        case PLIST_UINT:
            // Integers are stored as 64-bit two's complement.
            return static_cast<std::int64_t>(detail::integerValue(node).value_or(0));
        case PLIST_REAL: {
            double value = 0.0;
            plist_get_real_val(node, &value);
            return value;
        }
        case PLIST_BOOLEAN: {
            std::uint8_t value = 0;
            plist_get_bool_val(node, &value);
            return value != 0;
        }
        case PLIST_DATA:
            return detail::dataValue(node).value_or(Data{});
        case PLIST_DATE: {
            std::int32_t seconds = 0;
            std::int32_t micros = 0;
            plist_get_date_val(node, &seconds, &micros);
            // libplist splits a negative time into a truncated second and the magnitude of
            // the fraction: -1.25 s reads as (-1, 250000).
            std::int64_t total = std::int64_t{seconds} * kMicrosPerSecond;
            total += seconds < 0 ? -std::int64_t{micros} : std::int64_t{micros};
            total += kReferenceDateUnixSeconds * kMicrosPerSecond;
            return Date(
                std::chrono::duration_cast<Date::duration>(std::chrono::microseconds(total)));
        }
        default:
            return std::nullopt;
    }
}

plist_t toNode(const PropertyValue& value) {
    return std::visit(
        [](const auto& v) -> plist_t {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::string>) {
                return plist_new_string(v.c_str());
            } else if constexpr (std::is_same_v<T, std::int64_t>) {
                return plist_new_uint(static_cast<std::uint64_t>(v));
            } else if constexpr (std::is_same_v<T, double>) {
                return plist_new_real(v);
            } else if constexpr (std::is_same_v<T, bool>) {
                return plist_new_bool(v ? 1 : 0);
            } else if constexpr (std::is_same_v<T, Data>) {
                return plist_new_data(reinterpret_cast<const char*>(v.data()), v.size());
            } else {
                // Microseconds since the reference date, split into a floored second and a
                // non-negative fraction; libplist holds seconds in 32 bits, which covers the
                // years 1933 to 2069, and dates beyond are pinned to that range.
                const auto micros =
                    std::chrono::floor<std::chrono::microseconds>(v.time_since_epoch()).count() -
                    kReferenceDateUnixSeconds * kMicrosPerSecond;
                std::int64_t seconds = micros / kMicrosPerSecond;
                std::int64_t fraction = micros % kMicrosPerSecond;
                if (fraction < 0) {
                    seconds -= 1;
                    fraction += kMicrosPerSecond;
                }
                constexpr auto kLow = std::numeric_limits<std::int32_t>::min();
                constexpr auto kHigh = std::numeric_limits<std::int32_t>::max();
                if (seconds < kLow || seconds > kHigh) {
                    fraction = 0;
                }
                seconds = std::clamp<std::int64_t>(seconds, kLow, kHigh);
                return plist_new_date(static_cast<std::int32_t>(seconds),
                                      static_cast<std::int32_t>(fraction));
            }
        },
        value);
}

// A copy of `node` without the strings (keys included) that are not UTF-8, and without the
// dictionary entries and list items holding them. libplist reads such strings from a file
// (another writer, a damaged file), but writes them as something it cannot read back, so that
// one bad key would make every later write turn the whole domain unreadable.
plist_t writableCopy(plist_t node) {
    switch (plist_get_node_type(node)) {
        case PLIST_STRING:
            return storableText(detail::stringValue(node).value_or(std::string_view{}))
                       ? plist_copy(node)
                       : nullptr;
        case PLIST_DICT: {
            plist_t copy = plist_new_dict();
            plist_dict_iter raw = nullptr;
            plist_dict_new_iter(node, &raw);
            const std::unique_ptr<void, detail::FreeWithLibc> iterator(raw);
            for (;;) {
                char* rawKey = nullptr;
                plist_t value = nullptr;
                plist_dict_next_item(node, raw, &rawKey, &value);
                const std::unique_ptr<char, detail::FreeWithLibc> key(rawKey);
                if (value == nullptr) {
                    break;
                }
                if (key == nullptr || !storableText(key.get())) {
                    continue;
                }
                if (plist_t item = writableCopy(value)) {
                    plist_dict_set_item(copy, key.get(), item);
                }
            }
            return copy;
        }
        case PLIST_ARRAY: {
            plist_t copy = plist_new_array();
            const std::uint32_t count = plist_array_get_size(node);
            for (std::uint32_t i = 0; i < count; ++i) {
                if (plist_t item = writableCopy(plist_array_get_item(node, i))) {
                    plist_array_append_item(copy, item);
                }
            }
            return copy;
        }
        default:
            return plist_copy(node);
    }
}

PlistPtr loadDomain(const std::filesystem::path& file) {
    if (const auto bytes = readSmallRegularFile(file, kDomainLimits.maxBytes)) {
        std::string ignored;
        const PlistPtr root =
            detail::parsePropertyList(bytes->data(), bytes->size(), kDomainLimits, ignored);
        if (root && plist_get_node_type(root.get()) == PLIST_DICT) {
            return PlistPtr(writableCopy(root.get()));
        }
    }
    return PlistPtr(plist_new_dict());
}

// Whether `bytes` read back as a domain; a file that would not is never put in place.
bool readsBack(const Data& bytes) {
    std::string ignored;
    const PlistPtr root =
        detail::parsePropertyList(bytes.data(), bytes.size(), kDomainLimits, ignored);
    return root && plist_get_node_type(root.get()) == PLIST_DICT;
}

}  // namespace

struct DefaultsFile::State {
    std::filesystem::path file;
    // The domain as last read or set; the file follows it on each successful write.
    PlistPtr domain;
    // Why writes failed so far: each reason is told once, not at every pick.
    std::set<std::string> reported;
    // The last write in place, until it is synced; the earlier ones of a burst are gone.
    detail::PlacedFile unsynced;
    std::optional<detail::ExitSync> atExit;
    mutable std::mutex mutex;

    // The one place a failed save is told: the picked colour is still shown, and would
    // otherwise be gone at the next launch without a word.
    void report(const std::string& reason) {
        if (reported.insert(reason).second) {
            // stderr may be a file on the volume that is full.
            const detail::FileSizeSignalGuard guard;
            std::fprintf(stderr,
                         "vellumor: cannot save to %s: %s; the colour is kept until Vellumor "
                         "quits\n",
                         file.c_str(), reason.c_str());
        }
    }
};

DefaultsFile::DefaultsFile(std::filesystem::path file) : state_(std::make_unique<State>()) {
    state_->file = std::move(file);
    state_->domain = loadDomain(state_->file);
    state_->atExit.emplace(state_->file.filename().native());
}

DefaultsFile::~DefaultsFile() {
    sync();
}

std::optional<PropertyValue> DefaultsFile::objectForKey(const std::string& key) const {
    if (key.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    const std::lock_guard lock(state_->mutex);
    const plist_t node = plist_dict_get_item(state_->domain.get(), key.c_str());
    return node != nullptr ? toValue(node) : std::nullopt;
}

std::optional<Data> DefaultsFile::dataForKey(const std::string& key) const {
    if (key.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    const std::lock_guard lock(state_->mutex);
    return detail::dataValue(plist_dict_get_item(state_->domain.get(), key.c_str()));
}

bool DefaultsFile::setObject(const PropertyValue& value, const std::string& key) {
    // A key or string that a property list cannot hold is refused rather than stored changed.
    if (!storableText(key)) {
        return false;
    }
    if (const auto* text = std::get_if<std::string>(&value); text && !storableText(*text)) {
        return false;
    }
    const std::lock_guard lock(state_->mutex);
    std::optional<std::string> failure;
    detail::PlacedFile placed;
    try {
        plist_dict_set_item(state_->domain.get(), key.c_str(), toNode(value));
        const auto bytes = detail::writeBinaryPropertyList(state_->domain.get());
        failure = bytes && readsBack(*bytes) ? detail::replaceFile(state_->file, *bytes, placed)
                                             : "the settings cannot be written as a property list";
    } catch (const std::exception& error) {
        // Out of memory or a path that cannot be converted: the disk was not written.
        failure = error.what();
    }
    if (failure) {
        state_->report(*failure);
        return false;
    }
    // Watched before the earlier directory descriptor is let go, so that the end of the
    // process always finds one to sync through.
    state_->atExit->watch(placed.directory());
    state_->unsynced = std::move(placed);
    if (!state_->atExit->watching()) {
        syncLocked();
    }
    return true;
}

bool DefaultsFile::needsSync() const {
    const std::lock_guard lock(state_->mutex);
    return state_->unsynced.pending();
}

void DefaultsFile::sync() {
    const std::lock_guard lock(state_->mutex);
    syncLocked();
}

void DefaultsFile::syncLocked() {
    if (const auto failure = state_->unsynced.sync()) {
        state_->report(*failure);
    }
    state_->atExit->clear();
}

const std::filesystem::path& DefaultsFile::path() const {
    return state_->file;
}

}  // namespace platform::common
