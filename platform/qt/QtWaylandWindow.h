#pragma once

#include <memory>

#include "platform/PlatformIntegration.h"
#include "platform/qt/QtWaylandSurface.h"
#include "platform/qt/QtWindow.h"

namespace platform::qt {

class QtPlatform;
class WaylandConnection;

// A window on Wayland. Borderless windows below the normal level (the overlays) are layer
// surfaces on the output they cover; all others are Qt widgets, as on X11, which Qt's own
// Wayland platform shows as ordinary top-level windows. The kind is chosen when the window is
// first shown, since the program sets the level after making the window.
class QtWaylandWindow final : public PlatformWindow {
public:
    QtWaylandWindow(QtPlatform& platform, WaylandConnection& connection, Window& owner,
                    Rect contentRect);
    ~QtWaylandWindow() override;
    QtWaylandWindow(const QtWaylandWindow&) = delete;
    QtWaylandWindow& operator=(const QtWaylandWindow&) = delete;

    // A layer surface's frame is the one it was made with: the compositor gives it its
    // output's size and place. A widget's is Qt's.
    Rect frame() const override;
    // A layer surface attaches a pixel of the new colour; a widget repaints.
    void backgroundColorChanged() override;
    // Moves the window between the bottom layer and ordinary windows as the level asks.
    void levelChanged() override;
    // Nothing for a layer surface, which is on every workspace of its output by nature.
    void collectionBehaviorChanged() override;
    // A layer surface takes its clicks with its whole surface, or lets them all through.
    void ignoresMouseEventsChanged() override;
    // Shows the title on a widget; a layer surface has none.
    void decorationChanged() override;
    // The new view tree is drawn on a widget when it is next shown (at once if it is shown).
    void contentViewChanged() override;
    // As on X11 (the widget reads the tree when it is shown).
    void contentTreeChanged() override;
    // Maps a layer surface on the output its frame covers most (never focused: it takes no
    // keyboard); shows a widget as on X11.
    void orderFront(bool makeKey) override;
    // Unmaps the window, keeping it for a later orderFront.
    void orderOut() override;
    // Whether the window is shown.
    bool isVisible() const override;
    // Destroys a layer surface (made anew if shown again); hides a widget.
    void close() override;
    // Centres the window on the primary output, asking the owner to constrain the frame.
    void center() override;

private:
    bool wantsLayer() const;

    QtPlatform& platform_;
    WaylandConnection& connection_;
    Window& owner_;
    Rect frame_;
    // The widget side, which stays empty while the window is a layer surface.
    QtWindow widget_;
    std::unique_ptr<WaylandLayerSurface> layer_;
};

}  // namespace platform::qt
