#pragma once

#include <xcb/xcb.h>

#include <QPoint>
#include <QPointer>
#include <QSize>
#include <QWidget>

#include <memory>
#include <optional>

#include "platform/PlatformIntegration.h"
#include "platform/qt/QtBareWindow.h"

namespace platform::qt {

class QtPlatform;
class QtWindow;

// The top-level widget of a window that is not kept in the desktop stack (the About window).
class QtWindowWidget final : public QWidget {
public:
    QtWindowWidget(QtWindow& window, Qt::WindowFlags flags, bool translucent);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QtWindow& window_;
    // Where a drag that the window manager does not carry out itself took hold.
    std::optional<QPoint> dragOffset_;
};

// The X11 window behind one platform::Window. Borderless windows below the normal level are
// bare X windows kept directly above the desktop windows; all others are Qt widgets. The
// kind is chosen when the window is first shown, since the program sets the level after
// making the window, and made anew if a later change of style or level moves it across.
class QtWindow final : public PlatformWindow {
public:
    QtWindow(QtPlatform& platform, Window& owner, Rect contentRect);
    ~QtWindow() override;
    QtWindow(const QtWindow&) = delete;
    QtWindow& operator=(const QtWindow&) = delete;

    // The frame in platform coordinates (X11 pixels): the bare window's, or the widget's with
    // the window manager's decorations once it has been shown. A widget's content size is in
    // points, which Qt scales to the display, so its frame grows with the scale.
    Rect frame() const override;
    // Refills a bare window from the server at once; repaints a widget without content.
    void backgroundColorChanged() override;
    // Moves the window between the desktop stack and ordinary windows as the level asks.
    void levelChanged() override;
    // Sticky (all desktops) and out of taskbar and pager, for desktop-stack windows.
    void collectionBehaviorChanged() override;
    // Whether the window takes its clicks (see BareWindowHints::takesClicks).
    void ignoresMouseEventsChanged() override;
    // Shows the title (none for an empty one); movability is read at each press.
    void decorationChanged() override;
    // The new view tree is drawn when the window is next shown (at once if it is shown).
    void contentViewChanged() override;
    // Maps the window on top of its layer; focuses it only if it can become key and either
    // `makeKey` or the program has just asked to come to the front.
    void orderFront(bool makeKey) override;
    // Unmaps the window, keeping it for a later orderFront.
    void orderOut() override;
    // Whether the window is mapped.
    bool isVisible() const override;
    // Unmaps the window. A bare one goes, and is made anew if shown again; one on screen
    // stays there until the end of this pass of the event loop, for a window made in the same
    // pass with the same frame, level and colour to take over (a display change closes every
    // overlay and makes new ones, most of them like the old).
    void close() override;
    // Centres the window on the primary monitor, asking the owner to constrain the frame.
    void center() override;

    Window& owner() const { return owner_; }
    // The bare X window when the window is in the desktop stack and on screen, else none.
    xcb_window_t desktopStackWindow() const;
    // Whether the window has keyboard focus.
    bool isKey() const;
    // Hints a desktop-stack window anew for whoever keeps the stack now (the window manager or
    // the program), mapping it again if it is shown.
    void desktopKeeperChanged();
    // Gives up every native resource while the platform can still free it; the window does
    // nothing afterwards. Called by the platform when it ends before its windows.
    void releaseNative();

private:
    enum class Kind { None, Bare, Widget };
    Kind wantedKind() const;
    // Makes the native window of the wanted kind, replacing one of the other kind.
    void realize();
    void realizeBare();
    // Takes over a closed bare window that looks as this one would (see close); whether
    // there was one.
    bool takeOverParked();
    // What the window manager is told about the bare window.
    BareWindowHints bareHints() const;
    void realizeWidget();
    // Applies level, behaviour and focus rules to the bare window (remapping it if shown).
    void applyBareHints();
    // Shows the owner's title on the widget.
    void applyTitle();
    // Renders the owner's content view into the widget; both must exist.
    void renderContent();
    // The content size the window was made with, in points (Qt's device-independent pixels),
    // and in X11 pixels at the display's scale; the platform must be there.
    QSize contentPoints() const;
    QSize contentPixels() const;
    // Places the window at `frame` (platform coordinates) after asking the owner.
    void place(Rect frame);
    // The frame the owner makes of `frame`, told the display it lies on most.
    Rect constrained(Rect frame) const;

    QtPlatform* platform_;
    Window& owner_;
    // Where the window was made or last placed; for a bare window also its size.
    Rect frame_;
    // The size of the content area the window was made with.
    Size contentSize_;
    std::unique_ptr<QtBareWindow> bare_;
    std::unique_ptr<QtWindowWidget> widget_;
    bool contentStale_ = true;
};

}  // namespace platform::qt
