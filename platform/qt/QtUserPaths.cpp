#include "platform/qt/QtUserPaths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <system_error>

namespace platform::qt {

namespace {
// The XDG base directory named by `variable`, else `underHome` in the user's home.
std::filesystem::path baseDirectory(const char* variable, const char* underHome) {
    // The XDG base directory rules ignore a relative directory; a relative home is ignored as
    // well, or the program's files would follow the working directory. The last resort lies
    // in a shared directory, where the files refuse a directory someone else made first.
    if (const char* base = std::getenv(variable); base != nullptr && base[0] == '/') {
        return base;
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return std::filesystem::path(home) / underHome;
    }
    if (const passwd* user = ::getpwuid(::getuid());
        user != nullptr && user->pw_dir != nullptr && user->pw_dir[0] == '/') {
        return std::filesystem::path(user->pw_dir) / underHome;
    }
    std::error_code noTemporaryDirectory;
    std::filesystem::path shared = std::filesystem::temp_directory_path(noTemporaryDirectory);
    if (noTemporaryDirectory) {
        shared = "/tmp";
    }
    return shared / ("vellumor-" + std::to_string(::getuid()));
}
}  // namespace

std::filesystem::path defaultsFilePath() {
    return baseDirectory("XDG_CONFIG_HOME", ".config") / "vellumor" / "org.vellumor.Vellumor.plist";
}

std::filesystem::path desktopLookPath() {
    return baseDirectory("XDG_CACHE_HOME", ".cache") / "vellumor" / "desktop-look";
}

}  // namespace platform::qt
