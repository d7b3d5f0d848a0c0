#pragma once

#include <functional>
#include <memory>
#include <type_traits>
#include <vector>

#include "main/AppDelegate.h"
#include "platform/Color.h"
#include "platform/headless/HeadlessPlatform.h"
#include "tests/common/StoreFiles.h"

namespace vellumor::testing {

using platform::Rect;

// Runs the whole program on the in-memory desktop, as a user would. Each launch is a new
// process as far as the program can tell: a fresh platform and delegate, with the same user
// defaults, kept in the test's own directory.
class ProgramTest : public test::ScratchTest {
protected:
    static constexpr Rect kPrimary{0.0, 0.0, 1920.0, 1080.0};
    using Setup = std::function<void(platform::headless::HeadlessPlatform&)>;

    // Ends the program, then removes its defaults.
    void TearDown() override;

    // Ends the running program, if any, then starts it the way its entry point does, on
    // displays `screens`; `setup` prepares the desktop before the program starts.
    platform::headless::HeadlessPlatform& launch(std::vector<Rect> screens = {kPrimary},
                                                 const Setup& setup = {});

    platform::headless::HeadlessPlatform& desktop() const { return *desktop_; }
    AppDelegate& delegate() const { return *delegate_; }
    // `property` of each overlay, in the delegate's order: a member function or a callable.
    template <typename Property>
    auto ofOverlays(Property property) const {
        using Value = std::decay_t<std::invoke_result_t<Property, OverlayWindow&>>;
        std::vector<Value> values;
        for (const auto& overlay : delegate_->overlayWindows()) {
            values.push_back(std::invoke(property, *overlay));
        }
        return values;
    }
    std::vector<OverlayWindow*> overlays() const {
        return ofOverlays([](OverlayWindow& overlay) { return &overlay; });
    }
    std::vector<platform::Color> overlayColors() const {
        return ofOverlays(&OverlayWindow::backgroundColor);
    }
    // The program's defaults file, whether or not a launch has made it.
    std::filesystem::path defaultsFile() const {
        return platform::headless::HeadlessPlatform(dir_, {}).defaultsFilePath();
    }

private:
    platform::headless::HeadlessPlatform* desktop_ = nullptr;
    std::unique_ptr<AppDelegate> delegate_;
};

// Records, at each colorDidChange post from any sender, the colour the store holds then.
class ColorChanges : public platform::Object {
public:
    ColorChanges();
    std::vector<platform::Color> seen;
};

}  // namespace vellumor::testing
