#include "tests/support/ProgramTest.h"

#include <unistd.h>

#include "main/ColorManager.h"
#include "platform/Application.h"
#include "platform/Menu.h"
#include "platform/NotificationCenter.h"
#include "platform/PlatformIntegration.h"

namespace vellumor::testing {

using platform::headless::HeadlessPlatform;

ProgramTest::ProgramTest() {
    static int counter = 0;
    defaultsDirectory_ =
        std::filesystem::temp_directory_path() /
        ("vellumor-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(defaultsDirectory_);
    std::filesystem::create_directories(defaultsDirectory_);
}

ProgramTest::~ProgramTest() {
    endProcess();
    std::error_code ignored;
    std::filesystem::remove_all(defaultsDirectory_, ignored);
}

void ProgramTest::endProcess() {
    // The program's objects go before the platform that they were made on.
    delegate_.reset();
    platform::installPlatformIntegration(nullptr);
    desktop_ = nullptr;
}

HeadlessPlatform& ProgramTest::launch(std::vector<Rect> screens, const Setup& setup) {
    endProcess();
    auto desktop = std::make_unique<HeadlessPlatform>(defaultsDirectory_, std::move(screens));
    desktop_ = desktop.get();
    if (setup) {
        setup(*desktop);
    }
    platform::installPlatformIntegration(std::move(desktop));

    // The entry point's steps.
    platform::Application& app = platform::Application::sharedApplication();
    delegate_ = std::make_unique<AppDelegate>();
    app.setDelegate(delegate_.get());
    app.run();
    return *desktop_;
}

std::vector<OverlayWindow*> ProgramTest::overlays() const {
    std::vector<OverlayWindow*> result;
    for (const auto& overlay : delegate_->overlayWindows()) {
        result.push_back(overlay.get());
    }
    return result;
}

std::vector<Rect> ProgramTest::overlayFrames() const {
    std::vector<Rect> frames;
    for (const OverlayWindow* overlay : overlays()) {
        frames.push_back(overlay->frame());
    }
    return frames;
}

std::vector<platform::Color> ProgramTest::overlayColors() const {
    std::vector<platform::Color> colors;
    for (const OverlayWindow* overlay : overlays()) {
        colors.push_back(overlay->backgroundColor());
    }
    return colors;
}

std::vector<std::string> ProgramTest::menuTitles() const {
    std::vector<std::string> titles;
    for (const auto& item : delegate_->statusItem()->menu()->itemArray()) {
        titles.push_back(item->isSeparatorItem() ? "-" : item->title());
    }
    return titles;
}

ColorChanges::ColorChanges() {
    addMethod("changed",
              [this](Object*) { seen.push_back(ColorManager::shared().currentColor()); });
    platform::NotificationCenter::defaultCenter().addObserver(
        *this, "changed", notification::colorDidChange, nullptr);
}

}  // namespace vellumor::testing
