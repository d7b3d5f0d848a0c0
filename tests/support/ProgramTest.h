#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "main/AppDelegate.h"
#include "platform/Color.h"
#include "platform/headless/HeadlessPlatform.h"

namespace vellumor::testing {

using platform::Rect;

// Runs the whole program on the in-memory desktop, as a user would: launch it, change the
// displays, choose menu entries, quit and launch it again. Each launch is a new process as
// far as the program can tell: a fresh platform and delegate, with the same user defaults.
class ProgramTest : public ::testing::Test {
protected:
    static constexpr Rect kPrimary{0.0, 0.0, 1920.0, 1080.0};

    ProgramTest();
    ~ProgramTest() override;

    using Setup = std::function<void(platform::headless::HeadlessPlatform&)>;

    // Ends the running program, if any, as the end of its process would, then starts it
    // the way its entry point does, on displays `screens`; `setup` prepares the desktop
    // before the program starts.
    platform::headless::HeadlessPlatform& launch(std::vector<Rect> screens = {kPrimary},
                                                 const Setup& setup = {});

    // The running program's desktop and delegate.
    platform::headless::HeadlessPlatform& desktop() const { return *desktop_; }
    AppDelegate& delegate() const { return *delegate_; }
    // The overlays the delegate holds now.
    std::vector<OverlayWindow*> overlays() const;
    // The delegate's overlays' frames, colours and visibility, in list order.
    std::vector<Rect> overlayFrames() const { return ofEachOverlay(&OverlayWindow::frame); }
    std::vector<platform::Color> overlayColors() const {
        return ofEachOverlay(&OverlayWindow::backgroundColor);
    }
    std::vector<bool> overlayVisibility() const { return ofEachOverlay(&OverlayWindow::isVisible); }
    // The titles of the status menu's entries ("-" for a separator).
    std::vector<std::string> menuTitles() const;
    // Whether the status menu entry titled `title` is enabled.
    bool menuEntryEnabled(const std::string& title) const;

    const std::filesystem::path& defaultsDirectory() const { return defaultsDirectory_; }

private:
    void endProcess();
    // What `property` gives for each overlay the delegate holds, in list order.
    template <typename Property,
              typename Value = std::decay_t<std::invoke_result_t<Property, const OverlayWindow&>>>
    std::vector<Value> ofEachOverlay(Property property) const {
        std::vector<Value> values;
        for (const auto& overlay : delegate_->overlayWindows()) {
            values.push_back(std::invoke(property, *overlay));
        }
        return values;
    }

    std::filesystem::path defaultsDirectory_;
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
