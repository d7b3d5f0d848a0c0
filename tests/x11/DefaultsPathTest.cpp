// Where the X11 backend keeps the defaults file, from the environment it is started in:
// relative config and home directories are ignored.

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/qt/QtPlatform.h"

namespace {

TEST(DefaultsPath, RelativeConfigAndHomeDirectoriesAreIgnored) {
    namespace fs = std::filesystem;
    const fs::path file = fs::path("vellumor") / "org.vellumor.Vellumor.plist";
    const passwd* user = ::getpwuid(::getuid());
    ASSERT_NE(user, nullptr);
    const fs::path ownHome = fs::path(user->pw_dir) / ".config" / file;
    struct Case {
        const char* config;  // XDG_CONFIG_HOME, unset if null
        const char* home;
        fs::path expected;
    };
    for (const Case& c :
         {Case{"/etc/xdg-elsewhere", "/home/elsewhere", "/etc/xdg-elsewhere" / file},
          Case{"relative/config", "/home/elsewhere", "/home/elsewhere/.config" / file},
          Case{nullptr, "relative/home", ownHome}, Case{nullptr, "", ownHome},
          Case{nullptr, "~", ownHome}}) {
        SCOPED_TRACE(std::string(c.config ? c.config : "unset") + ", HOME=" + c.home);
        c.config ? ::setenv("XDG_CONFIG_HOME", c.config, 1) : ::unsetenv("XDG_CONFIG_HOME");
        ::setenv("HOME", c.home, 1);
        EXPECT_EQ(platform::qt::defaultsFilePath(), c.expected);
    }
}

}  // namespace
