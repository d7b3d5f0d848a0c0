// The Linux program's executable: it loads the program, a module that links Qt, and runs its
// main. Loading Qt's libraries takes most of a start's time, so the overlays' look from the
// last run is shown first (QtEarlyDesktop.h), by this executable, which needs only libxcb.

#include <dlfcn.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/qt/QtEarlyDesktop.h"
#include "platform/qt/QtUserPaths.h"

namespace {
// The module beside this executable, as it is in the build tree, or where it is installed
// relative to it.
std::filesystem::path programModule() {
    std::array<char, 4096> self{};
    const ssize_t length = ::readlink("/proc/self/exe", self.data(), self.size() - 1);
    const std::filesystem::path directory =
        length > 0
            ? std::filesystem::path(std::string(self.data(), std::size_t(length))).parent_path()
            : std::filesystem::path(".");
    std::error_code unreadable;
    if (std::filesystem::exists(directory / VELLUMOR_PROGRAM_MODULE, unreadable)) {
        return directory / VELLUMOR_PROGRAM_MODULE;
    }
    return (directory / VELLUMOR_PROGRAM_DIRECTORY / VELLUMOR_PROGRAM_MODULE).lexically_normal();
}
}  // namespace

int main(int argc, char** /*argv*/) {
    // A command line asks for help or the version, which shows nothing. On Wayland the
    // program may still find no layer shell and run on XWayland; it is then shown a moment
    // later, as it would be without the stand-ins.
    xcb_connection_t* early = nullptr;
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (argc <= 1 && (wayland == nullptr || wayland[0] == '\0')) {
        early = platform::qt::showEarlyDesktop(platform::qt::desktopLookPath());
    }
    const std::filesystem::path module = programModule();
    void* program = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (program == nullptr) {
        std::fprintf(stderr, "vellumor: cannot load the program: %s\n", ::dlerror());
        return EXIT_FAILURE;
    }
    // main/main.cpp's main, which is the program's.
    using Take = void (*)(xcb_connection_t*);
    using Main = int (*)();
    auto* take = reinterpret_cast<Take>(::dlsym(program, "vellumorTakeEarlyDesktop"));
    auto* run = reinterpret_cast<Main>(::dlsym(program, "main"));
    if (take == nullptr || run == nullptr) {
        std::fprintf(stderr, "vellumor: %s is not the program\n", module.c_str());
        return EXIT_FAILURE;
    }
    take(early);
    return run();
}
