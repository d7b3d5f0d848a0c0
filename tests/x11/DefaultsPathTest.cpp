// Where the X11 backend keeps the defaults file, from the environment it is started in.

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/qt/QtPlatform.h"

namespace {

namespace fs = std::filesystem;

const fs::path kFile = fs::path("vellumor") / "org.vellumor.Vellumor.plist";

// Sets or clears the environment for one test, and puts back what was there.
class Environment {
public:
    Environment(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~Environment() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }
    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(DefaultsPath, RelativeConfigAndHomeDirectoriesAreIgnored) {
    const passwd* user = ::getpwuid(::getuid());
    ASSERT_NE(user, nullptr);
    const fs::path ownHome = fs::path(user->pw_dir) / ".config" / kFile;
    {
        const Environment config("XDG_CONFIG_HOME", "/etc/xdg-elsewhere");
        const Environment home("HOME", "/home/elsewhere");
        EXPECT_EQ(platform::qt::defaultsFilePath(), "/etc/xdg-elsewhere" / kFile);
    }
    {
        const Environment config("XDG_CONFIG_HOME", "relative/config");
        const Environment home("HOME", "/home/elsewhere");
        EXPECT_EQ(platform::qt::defaultsFilePath(), "/home/elsewhere/.config" / kFile);
    }
    for (const char* relative : {"relative/home", "", "~"}) {
        SCOPED_TRACE(relative);
        const Environment config("XDG_CONFIG_HOME", nullptr);
        const Environment home("HOME", relative);
        EXPECT_EQ(platform::qt::defaultsFilePath(), ownHome);
    }
}

}  // namespace
