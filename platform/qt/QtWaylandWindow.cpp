#include "platform/qt/QtWaylandWindow.h"

#include "platform/Screen.h"
#include "platform/Window.h"
#include "platform/qt/QtConversions.h"
#include "platform/qt/QtWaylandConnection.h"

namespace platform::qt {

QtWaylandWindow::QtWaylandWindow(QtPlatform& platform, WaylandConnection& connection, Window& owner,
                                 Rect contentRect)
    : platform_(platform),
      connection_(connection),
      owner_(owner),
      frame_(contentRect),
      widget_(platform, owner, contentRect) {}

QtWaylandWindow::~QtWaylandWindow() = default;

bool QtWaylandWindow::wantsLayer() const {
    return belongsToDesktopStack(owner_.styleMask(), owner_.level());
}

Rect QtWaylandWindow::frame() const {
    return wantsLayer() ? frame_ : widget_.frame();
}

void QtWaylandWindow::backgroundColorChanged() {
    if (layer_) {
        layer_->setColor(owner_.backgroundColor());
    }
    widget_.backgroundColorChanged();
}

void QtWaylandWindow::levelChanged() {
    if (wantsLayer()) {
        // The widget, if any, goes; the window comes back as a layer surface where it was.
        const bool shown = widget_.isVisible();
        widget_.orderOut();
        widget_.levelChanged();
        if (shown) {
            orderFront(false);
        }
        return;
    }
    const bool shown = layer_ && layer_->isShown();
    layer_.reset();
    widget_.levelChanged();
    if (shown) {
        widget_.orderFront(false);
    }
}

void QtWaylandWindow::collectionBehaviorChanged() {
    if (!wantsLayer()) {
        widget_.collectionBehaviorChanged();
    }
}

void QtWaylandWindow::ignoresMouseEventsChanged() {
    if (layer_) {
        layer_->setTakesClicks(!owner_.ignoresMouseEvents());
    }
    if (!wantsLayer()) {
        widget_.ignoresMouseEventsChanged();
    }
}

void QtWaylandWindow::decorationChanged() {
    widget_.decorationChanged();
}

void QtWaylandWindow::contentViewChanged() {
    widget_.contentViewChanged();
}

void QtWaylandWindow::contentTreeChanged() {
    widget_.contentTreeChanged();
}

void QtWaylandWindow::orderFront(bool makeKey) {
    if (!wantsLayer()) {
        widget_.orderFront(makeKey);
        return;
    }
    if (!layer_) {
        const QRect logical = toX11Rect(frame_, connection_.reference());
        layer_ = std::make_unique<WaylandLayerSurface>(
            connection_, connection_.outputUnder(logical), owner_.backgroundColor());
        layer_->setTakesClicks(!owner_.ignoresMouseEvents());
    }
    layer_->show();
}

void QtWaylandWindow::orderOut() {
    if (layer_) {
        layer_->hide();
    }
    widget_.orderOut();
}

bool QtWaylandWindow::isVisible() const {
    return wantsLayer() ? layer_ && layer_->isShown() : widget_.isVisible();
}

void QtWaylandWindow::close() {
    layer_.reset();
    widget_.close();
}

void QtWaylandWindow::center() {
    if (!wantsLayer()) {
        widget_.center();
        return;
    }
    const auto screens = Screen::screens();
    if (screens.empty()) {
        return;
    }
    const Rect area = screens.front().frame();
    const Rect centred{area.x + (area.width - frame_.width) / 2.0,
                       area.y + (area.height - frame_.height) / 2.0, frame_.width, frame_.height};
    frame_ = owner_.constrainFrameRect(centred, &screens.front());
}

}  // namespace platform::qt
