#include "platform/qt/QtWindow.h"

#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

#include <cmath>

#include "platform/Screen.h"
#include "platform/View.h"
#include "platform/qt/QtConversions.h"
#include "platform/qt/QtPlatform.h"
#include "platform/qt/QtViewRenderer.h"

namespace platform::qt {

// --- QtWindowWidget -------------------------------------------------------------------------

QtWindowWidget::QtWindowWidget(QtWindow& window, Qt::WindowFlags flags, bool translucent)
    : QWidget(nullptr, flags), window_(window) {
    // Must precede the native window, whose visual it chooses.
    setAttribute(Qt::WA_TranslucentBackground, translucent);
}

void QtWindowWidget::paintEvent(QPaintEvent* /*event*/) {
    // With a content view the views draw the whole window; without one the window shows its
    // background colour.
    if (window_.owner().contentView() != nullptr) {
        return;
    }
    QPainter painter(this);
    painter.fillRect(rect(), toQColor(window_.owner().backgroundColor()));
}

void QtWindowWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !window_.owner().isMovableByWindowBackground()) {
        QWidget::mousePressEvent(event);
        return;
    }
    // The window manager moves the window itself where it can (_NET_WM_MOVERESIZE), which
    // keeps its snapping and edge rules; elsewhere the widget follows the pointer.
    if (windowHandle() != nullptr && windowHandle()->startSystemMove()) {
        return;
    }
    dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void QtWindowWidget::mouseMoveEvent(QMouseEvent* event) {
    if (dragOffset_) {
        move(event->globalPosition().toPoint() - *dragOffset_);
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void QtWindowWidget::mouseReleaseEvent(QMouseEvent* event) {
    dragOffset_.reset();
    QWidget::mouseReleaseEvent(event);
}

void QtWindowWidget::keyPressEvent(QKeyEvent* event) {
    // As small windows on Linux desktops do, a window with a close button also closes with
    // Escape and with the desktop's close shortcut (Ctrl+W); closing hides it, as the button
    // does.
    const bool closable = (window_.owner().styleMask() & NSWindowStyleMaskClosable) != 0;
    const bool escape = event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier;
    if (closable && (escape || event->matches(QKeySequence::Close))) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

// --- QtWindow -------------------------------------------------------------------------------

QtWindow::QtWindow(QtPlatform& platform, Window& owner, Rect contentRect)
    : platform_(&platform),
      owner_(owner),
      frame_(contentRect),
      contentSize_{contentRect.width, contentRect.height} {
    platform_->windowCreated(this);
}

QtWindow::~QtWindow() {
    if (platform_ != nullptr) {
        platform_->windowDestroyed(this);
    }
    releaseNative();
}

void QtWindow::releaseNative() {
    widget_.reset();
    bare_.reset();
    platform_ = nullptr;
}

QtWindow::Kind QtWindow::wantedKind() const {
    return belongsToDesktopStack(owner_.styleMask(), owner_.level()) ? Kind::Bare : Kind::Widget;
}

Rect QtWindow::frame() const {
    if (widget_ && platform_ != nullptr) {
        return toPlatformRect(platform_->fromQtLogical(widget_->frameGeometry()),
                              platform_->screenReference());
    }
    if (platform_ != nullptr && wantedKind() == Kind::Widget) {
        // Not made yet: as large as the widget will be made.
        const QSize pixels = contentPixels();
        return {frame_.x, frame_.y, static_cast<double>(pixels.width()),
                static_cast<double>(pixels.height())};
    }
    return frame_;
}

QSize QtWindow::contentPoints() const {
    return {static_cast<int>(std::lround(contentSize_.width)),
            static_cast<int>(std::lround(contentSize_.height))};
}

QSize QtWindow::contentPixels() const {
    return platform_->fromQtLogical(QRect(QPoint(), contentPoints())).size();
}

void QtWindow::realize() {
    if (platform_ == nullptr) {
        return;
    }
    const Kind kind = wantedKind();
    if (kind == Kind::Bare && !bare_) {
        widget_.reset();
        realizeBare();
    } else if (kind == Kind::Widget && !widget_) {
        bare_.reset();
        realizeWidget();
    }
}

void QtWindow::realizeBare() {
    frame_ = constrained(frame_);
    bare_ = std::make_unique<QtBareWindow>(platform_->x11(), platform_->desktopStack(),
                                           toX11Rect(frame_, platform_->screenReference()));
    bare_->setBackground(owner_.backgroundColor());
}

bool QtWindow::takeOverParked() {
    if (platform_ == nullptr || bare_ || wantedKind() != Kind::Bare) {
        return false;
    }
    const Rect frame = constrained(frame_);
    bare_ = platform_->desktopStack().takeParked(
        toX11Rect(frame, platform_->screenReference()),
        platform_->x11().pixelFor(owner_.backgroundColor()), bareHints());
    if (!bare_) {
        return false;
    }
    frame_ = frame;
    widget_.reset();
    return true;
}

void QtWindow::realizeWidget() {
    const auto style = owner_.styleMask();
    Qt::WindowFlags flags = Qt::Window;
    if ((style & NSWindowStyleMaskTitled) != 0) {
        flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
        if ((style & NSWindowStyleMaskClosable) != 0) {
            flags |= Qt::WindowCloseButtonHint;
        }
        if ((style & NSWindowStyleMaskMiniaturizable) != 0) {
            flags |= Qt::WindowMinimizeButtonHint;
        }
        if ((style & NSWindowStyleMaskResizable) != 0) {
            flags |= Qt::WindowMaximizeButtonHint;
        }
    } else {
        flags |= Qt::FramelessWindowHint;
    }
    if (owner_.level() > NSNormalWindowLevel) {
        flags |= Qt::WindowStaysOnTopHint;
    } else if (owner_.level() < NSNormalWindowLevel) {
        flags |= Qt::WindowStaysOnBottomHint;
    }
    if (!owner_.canBecomeKey()) {
        flags |= Qt::WindowDoesNotAcceptFocus;
    }
    if (owner_.ignoresMouseEvents()) {
        flags |= Qt::WindowTransparentForInput;
    }
    // Only a content view of the platform's translucent material asks for a see-through
    // window, and only a compositor can show one.
    const bool translucent =
        dynamic_cast<const VisualEffectView*>(owner_.contentView()) != nullptr &&
        platform_->hasCompositor();
    widget_ = std::make_unique<QtWindowWidget>(*this, flags, translucent);
    applyTitle();
    // Sized in points, which Qt lays the content out in; placed in X11 pixels, as the
    // displays are.
    const QSize pixels = contentPixels();
    const Rect content{frame_.x, frame_.y, static_cast<double>(pixels.width()),
                       static_cast<double>(pixels.height())};
    const QPoint topLeft =
        platform_->toQtLogical(toX11Rect(content, platform_->screenReference())).topLeft();
    if ((style & NSWindowStyleMaskResizable) == 0) {
        widget_->setFixedSize(contentPoints());
    } else {
        widget_->resize(contentPoints());
    }
    widget_->move(topLeft);
    contentStale_ = true;
}

void QtWindow::place(Rect frame) {
    frame_ = constrained(frame);
    if (platform_ == nullptr) {
        return;
    }
    const QRect x11 = toX11Rect(frame_, platform_->screenReference());
    if (bare_) {
        bare_->setGeometry(x11);
    } else if (widget_) {
        widget_->move(platform_->toQtLogical(x11).topLeft());
    }
}

Rect QtWindow::constrained(Rect frame) const {
    const auto screens = Screen::screens();
    const Screen* screen = screens.empty() ? nullptr : &screens.front();
    // The display the window lies on most, as the platform asks about.
    double best = 0.0;
    for (const Screen& candidate : screens) {
        const Rect area = candidate.frame();
        const double overlapWidth =
            std::min(area.x + area.width, frame.x + frame.width) - std::max(area.x, frame.x);
        const double overlapHeight =
            std::min(area.y + area.height, frame.y + frame.height) - std::max(area.y, frame.y);
        if (overlapWidth > 0.0 && overlapHeight > 0.0 && overlapWidth * overlapHeight > best) {
            best = overlapWidth * overlapHeight;
            screen = &candidate;
        }
    }
    return owner_.constrainFrameRect(frame, screen);
}

BareWindowHints QtWindow::bareHints() const {
    BareWindowHints hints;
    hints.states = netWmStates(owner_.level(), owner_.collectionBehavior());
    hints.allDesktops =
        (owner_.collectionBehavior() & NSWindowCollectionBehaviorCanJoinAllSpaces) != 0;
    hints.acceptsFocus = owner_.canBecomeKey();
    // X11 without the shape extension cannot hand a click to the window below; a window
    // that ignores clicks lets them go to the desktop (the root window) instead.
    hints.takesClicks = !owner_.ignoresMouseEvents();
    hints.managed = platform_->desktopStack().keptByWindowManager();
    return hints;
}

void QtWindow::applyBareHints() {
    if (!bare_ || platform_ == nullptr) {
        return;
    }
    const BareWindowHints hints = bareHints();
    if (bare_->isMapped()) {
        // A manager reads states and type when a window is mapped.
        bare_->unmap();
        bare_->setHints(hints);
        bare_->map();
        platform_->desktopStack().changed();
    } else {
        bare_->setHints(hints);
    }
}

void QtWindow::backgroundColorChanged() {
    if (bare_) {
        bare_->setBackground(owner_.backgroundColor());
    } else if (widget_) {
        widget_->update();
    }
}

void QtWindow::levelChanged() {
    if (platform_ == nullptr) {
        return;
    }
    const bool shown = isVisible();
    const bool kindChanges =
        (bare_ && wantedKind() != Kind::Bare) || (widget_ && wantedKind() != Kind::Widget);
    if (kindChanges || widget_) {
        // Qt fixes a widget's stacking hints when it makes the native window, so a new one
        // is made where the old one was.
        const Rect current = frame();
        frame_.x = current.x;
        frame_.y = current.y;
        widget_.reset();
        bare_.reset();
        if (shown) {
            orderFront(false);
        }
        return;
    }
    applyBareHints();
}

void QtWindow::collectionBehaviorChanged() {
    applyBareHints();
}

void QtWindow::ignoresMouseEventsChanged() {
    if (widget_) {
        widget_->setWindowFlag(Qt::WindowTransparentForInput, owner_.ignoresMouseEvents());
        return;
    }
    applyBareHints();
}

void QtWindow::decorationChanged() {
    applyTitle();
}

void QtWindow::applyTitle() {
    if (!widget_) {
        return;
    }
    // For an empty title, Qt 6.4 writes the program's name and openbox 3.6 shows "Unnamed
    // Window"; a lone space is a name that shows no text.
    const std::string& title = owner_.title();
    widget_->setWindowTitle(QString::fromStdString(title.empty() ? std::string(" ") : title));
}

void QtWindow::contentViewChanged() {
    contentStale_ = true;
    if (widget_ && widget_->isVisible() && owner_.contentView() != nullptr) {
        renderContent();
    }
}

void QtWindow::renderContent() {
    QtViewRenderer::render(*owner_.contentView(), *widget_,
                           widget_->testAttribute(Qt::WA_TranslucentBackground));
    contentStale_ = false;
}

void QtWindow::orderFront(bool makeKey) {
    // A window taken over is on screen where it was, in its place in the stack.
    if (takeOverParked()) {
        return;
    }
    realize();
    if (platform_ == nullptr) {
        return;
    }
    if (bare_) {
        if (bare_->isMapped()) {
            // In front of the others of its level: the desktop stack is ours alone.
            platform_->desktopStack().raise(bare_->id());
        } else {
            applyBareHints();
            bare_->map();
        }
        platform_->desktopStack().changed();
        return;
    }
    if (contentStale_ && owner_.contentView() != nullptr) {
        renderContent();
    }
    const bool activate = owner_.canBecomeKey() && (makeKey || platform_->activationRequested());
    // A window shown without becoming key must not take the focus on mapping either.
    widget_->setAttribute(Qt::WA_ShowWithoutActivating, !activate);
    widget_->show();
    widget_->raise();
    if (activate) {
        widget_->activateWindow();
    }
    platform_->widgetShown(widget_.get());
}

void QtWindow::orderOut() {
    if (bare_) {
        bare_->unmap();
    } else if (widget_) {
        widget_->hide();
    }
}

bool QtWindow::isVisible() const {
    if (bare_) {
        return bare_->isMapped();
    }
    return widget_ && widget_->isVisible();
}

void QtWindow::close() {
    if (bare_ && bare_->isMapped() && platform_ != nullptr) {
        platform_->desktopStack().park(std::move(bare_));
    }
    bare_.reset();
    if (widget_) {
        widget_->hide();
    }
}

xcb_window_t QtWindow::desktopStackWindow() const {
    return bare_ && bare_->isMapped() ? bare_->id() : xcb_window_t{XCB_WINDOW_NONE};
}

void QtWindow::desktopKeeperChanged() {
    applyBareHints();
}

bool QtWindow::isKey() const {
    return widget_ && widget_->isActiveWindow();
}

void QtWindow::center() {
    const auto screens = Screen::screens();
    if (screens.empty()) {
        return;
    }
    const Rect area = screens.front().frame();
    const Rect current = frame();
    place({area.x + (area.width - current.width) / 2.0,
           area.y + (area.height - current.height) / 2.0, current.width, current.height});
}

}  // namespace platform::qt
