#include "platform/qt/QtWaylandSession.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#if VELLUMOR_WAYLAND
#include <wayland-client.h>

#include <QLibraryInfo>
#include <QString>

#include <array>
#endif

namespace platform::qt {

#if VELLUMOR_WAYLAND
namespace {
// The globals the overlays are made of, in the order the user is told of those missing.
constexpr std::array<const char*, 4> kNeeded{"zwlr_layer_shell_v1", "wl_compositor", "wl_shm",
                                             "wp_viewporter"};

void noteGlobal(void* data, wl_registry* /*registry*/, std::uint32_t /*name*/,
                const char* interface, std::uint32_t /*version*/) {
    auto& seen = *static_cast<std::array<bool, kNeeded.size()>*>(data);
    for (std::size_t i = 0; i < kNeeded.size(); ++i) {
        if (std::strcmp(interface, kNeeded[i]) == 0) {
            seen[i] = true;
        }
    }
}

void ignoreGlobalRemoved(void* /*data*/, wl_registry* /*registry*/, std::uint32_t /*name*/) {}

// Whether Qt can show windows on Wayland: its platform plugin comes in a package of its own
// (Debian's qt6-wayland), and without it Qt would abort the process at start.
bool qtHasWaylandPlatform() {
    const QString plugins = QLibraryInfo::path(QLibraryInfo::PluginsPath);
    return std::filesystem::exists((plugins + "/platforms/libqwayland-generic.so").toStdString());
}

constexpr wl_registry_listener kRegistryListener{noteGlobal, ignoreGlobalRemoved};
}  // namespace
#endif

WaylandAnswer askWaylandCompositor(const char* display) {
    WaylandAnswer answer;
    if (display == nullptr || display[0] == '\0') {
        return answer;
    }
#if VELLUMOR_WAYLAND
    wl_display* connection = wl_display_connect(display);
    if (connection == nullptr) {
        answer.kind = WaylandAnswer::Kind::NoCompositor;
        return answer;
    }
    std::array<bool, kNeeded.size()> seen{};
    wl_registry* registry = wl_display_get_registry(connection);
    wl_registry_add_listener(registry, &kRegistryListener, &seen);
    const bool answered = wl_display_roundtrip(connection) >= 0;
    wl_registry_destroy(registry);
    wl_display_disconnect(connection);
    if (!answered) {
        answer.kind = WaylandAnswer::Kind::NoCompositor;
        return answer;
    }
    for (std::size_t i = 0; i < kNeeded.size(); ++i) {
        if (!seen[i]) {
            answer.missing.emplace_back(kNeeded[i]);
        }
    }
    if (!answer.missing.empty()) {
        answer.kind = WaylandAnswer::Kind::Lacking;
    } else if (!qtHasWaylandPlatform()) {
        answer.kind = WaylandAnswer::Kind::NoQtPlatform;
    } else {
        answer.kind = WaylandAnswer::Kind::Usable;
    }
#endif
    return answer;
}

void exitIfAlreadyRunningOnWayland(const std::string& display) {
    // The runtime directory is the user's own and lives as long as the session; a display
    // given as a path is named by its path.
    std::filesystem::path directory;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        runtime != nullptr && runtime[0] == '/') {
        directory = runtime;
    } else {
        directory = "/tmp";
    }
    std::string name = display;
    for (char& c : name) {
        if (c == '/') {
            c = '_';
        }
    }
    const std::filesystem::path lock =
        directory / ("vellumor-" + std::to_string(::getuid()) + "-" + name + ".lock");
    // Kept open for the life of the process: the lock goes with the descriptor. A link planted
    // in its place (in /tmp, say) is not followed.
    const int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        // Without a place for the lock, a second instance is not refused.
        return;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        return;
    }
    ::close(fd);
    std::fputs("vellumor: Vellumor is already running on this display\n", stderr);
    std::exit(EXIT_SUCCESS);
}

}  // namespace platform::qt
