#pragma once

#include <QColorDialog>

#include <memory>

#include "platform/PlatformIntegration.h"

namespace platform::qt {

class QtPlatform;

// The shared colour panel as one non-modal Qt colour dialog, kept for the life of the
// program. Like the platform's panel it has no OK or Cancel: every colour the user sets in it
// is a pick at once. It offers no opacity: overlays are opaque, and every pick is.
class QtColorPanel final : public PlatformColorPanel {
public:
    QtColorPanel(QtPlatform& platform, ColorPanel& panel);
    ~QtColorPanel() override = default;
    QtColorPanel(const QtColorPanel&) = delete;
    QtColorPanel& operator=(const QtColorPanel&) = delete;

    // Shows `color`, opaque, in the dialog; nothing is reported as a pick.
    void setColor(const Color& color) override;
    // Shows the dialog in front and gives it the focus.
    void orderFront() override;
    bool isVisible() const override;

private:
    QtPlatform& platform_;
    std::unique_ptr<QColorDialog> dialog_;
};

}  // namespace platform::qt
