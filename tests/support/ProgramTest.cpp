#include "tests/support/ProgramTest.h"

#include "main/ColorManager.h"
#include "platform/Application.h"
#include "platform/NotificationCenter.h"
#include "platform/PlatformIntegration.h"

namespace vellumor::testing {

using platform::headless::HeadlessPlatform;

void ProgramTest::TearDown() {
    delegate_.reset();  // the program's objects go before the platform they were made on
    platform::installPlatformIntegration(nullptr);
    ScratchTest::TearDown();
}

HeadlessPlatform& ProgramTest::launch(std::vector<Rect> screens, const Setup& setup) {
    delegate_.reset();
    platform::installPlatformIntegration(nullptr);
    auto desktop = std::make_unique<HeadlessPlatform>(dir_, std::move(screens));
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
