#pragma once

#include "platform/PlatformIntegration.h"

namespace platform::headless {

class HeadlessPlatform;

// One window of the in-memory window system.
class HeadlessWindow final : public PlatformWindow {
public:
    HeadlessWindow(HeadlessPlatform& platform, Window& owner, Rect frame, std::size_t number);
    ~HeadlessWindow() override;

    Rect frame() const override { return frame_; }
    void backgroundColorChanged() override;
    void levelChanged() override;
    void collectionBehaviorChanged() override;
    void ignoresMouseEventsChanged() override;
    void decorationChanged() override;
    void contentViewChanged() override;
    void orderFront(bool makeKey) override;
    void orderOut() override;
    bool isVisible() const override { return visible_; }
    void close() override;
    void center() override;

    Window& owner() const { return owner_; }
    std::size_t number() const { return number_; }
    bool isClosed() const { return closed_; }
    // Places the window at `frame` after asking the owner to constrain it.
    void place(Rect frame);

private:
    std::string tag() const { return "#" + std::to_string(number_); }
    HeadlessPlatform& platform_;
    Window& owner_;
    Rect frame_;
    std::size_t number_;
    bool visible_ = false;
    bool closed_ = false;
};

}  // namespace platform::headless
