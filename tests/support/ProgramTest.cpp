#include "tests/support/ProgramTest.h"

#include <stdlib.h>

#include "main/ColorManager.h"
#include "platform/Application.h"
#include "platform/NotificationCenter.h"
#include "platform/PlatformIntegration.h"

namespace vellumor::testing {

using platform::headless::HeadlessPlatform;

ProgramTest::ProgramTest() {
    std::string name = std::filesystem::temp_directory_path() / "vellumor-test-XXXXXX";
    defaultsDirectory_ = ::mkdtemp(name.data());
}

ProgramTest::~ProgramTest() {
    delegate_.reset();  // the program's objects go before the platform they were made on
    platform::installPlatformIntegration(nullptr);
    std::filesystem::remove_all(defaultsDirectory_);
}

HeadlessPlatform& ProgramTest::launch(std::vector<Rect> screens, const Setup& setup) {
    delegate_.reset();
    platform::installPlatformIntegration(nullptr);
    auto desktop = std::make_unique<HeadlessPlatform>(defaultsDirectory_, std::move(screens));
    desktop_ = desktop.get();
    if (setup) {
        setup(*desktop);
    }
    platform::installPlatformIntegration(std::move(desktop));
    // The entry point's steps.
    delegate_ = std::make_unique<AppDelegate>();
    platform::Application::sharedApplication().setDelegate(delegate_.get());
    platform::Application::sharedApplication().run();
    return *desktop_;
}

ColorChanges::ColorChanges() {
    addMethod("changed",
              [this](Object*) { seen.push_back(ColorManager::shared().currentColor()); });
    platform::NotificationCenter::defaultCenter().addObserver(
        *this, "changed", notification::colorDidChange, nullptr);
}

}  // namespace vellumor::testing
