#pragma once

#include <filesystem>

namespace platform::qt {

// Where the program's defaults live: $XDG_CONFIG_HOME/vellumor/org.vellumor.Vellumor.plist,
// with XDG_CONFIG_HOME an absolute path or else ~/.config, home being an absolute HOME or the
// user's home directory. The platform's convention, as ~/Library/Preferences is on macOS.
std::filesystem::path defaultsFilePath();

// Where the look of the last overlays is kept for the next start (see QtEarlyDesktop.h):
// $XDG_CACHE_HOME/vellumor/desktop-look, by the same rules with ~/.cache.
std::filesystem::path desktopLookPath();

}  // namespace platform::qt
