#include "bench/support/BenchProgram.h"

#include <sys/vfs.h>
#include <unistd.h>

#include "platform/Application.h"
#include "platform/PlatformIntegration.h"

namespace vellumor::bench {

namespace {
// statfs's magic number for tmpfs (linux/magic.h).
constexpr long kTmpfsMagic = 0x01021994;
}  // namespace

ScratchDirectory::ScratchDirectory(const std::filesystem::path& base, const std::string& name)
    : path_(base / ("vellumor-bench-" + std::to_string(::getpid()) + "-" + name)) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
}

ScratchDirectory::~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path defaultsBase(DefaultsPlace place) {
    if (place == DefaultsPlace::Disk) {
        return std::filesystem::temp_directory_path();
    }
    struct statfs info {};
    if (::statfs("/dev/shm", &info) == 0 && static_cast<long>(info.f_type) == kTmpfsMagic) {
        return "/dev/shm";
    }
    return {};
}

const char* placeName(DefaultsPlace place) {
    return place == DefaultsPlace::Disk ? "disk" : "tmpfs";
}

std::vector<platform::Rect> displayGrid(int count) {
    std::vector<platform::Rect> frames;
    for (int index = 0; index < count; ++index) {
        frames.push_back({3840.0 * (index % 4), 2160.0 * (index / 4), 3840.0, 2160.0});
    }
    return frames;
}

BenchProgram::BenchProgram(const std::filesystem::path& defaultsDirectory,
                           std::vector<platform::Rect> screens) {
    auto desktop = std::make_unique<platform::headless::HeadlessPlatform>(defaultsDirectory,
                                                                          std::move(screens));
    desktop_ = desktop.get();
    platform::installPlatformIntegration(std::move(desktop));

    // The entry point's steps.
    platform::Application& app = platform::Application::sharedApplication();
    delegate_ = std::make_unique<AppDelegate>();
    app.setDelegate(delegate_.get());
    app.run();
}

BenchProgram::~BenchProgram() {
    // The program's objects go before the platform that they were made on.
    delegate_.reset();
    platform::installPlatformIntegration(nullptr);
}

}  // namespace vellumor::bench
