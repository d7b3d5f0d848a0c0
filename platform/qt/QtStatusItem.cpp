#include "platform/qt/QtStatusItem.h"

#include <unistd.h>

#include <QCursor>
#include <QImage>
#include <QPixmap>

#include <chrono>
#include <cstdio>

#include "platform/Menu.h"
#include "platform/qt/QtImages.h"
#include "platform/qt/QtPlatform.h"

namespace platform::qt {

namespace {
// How long a tray has to take the icon before the user is told there is none: a session's
// panel comes up within a few seconds of the programs the session starts with it.
constexpr std::chrono::seconds kTrayWait{5};

// The status menu. Qt 6.4 types a parentless menu's window as a normal one, and makes a new
// native window for each opening; the EWMH popup-menu type, which compositors and tools go
// by, is set on each before it is mapped.
class StatusMenu final : public QMenu {
protected:
    void showEvent(QShowEvent* event) override {
        setAttribute(Qt::WA_X11NetWmWindowTypePopupMenu, false);
        setAttribute(Qt::WA_X11NetWmWindowTypePopupMenu, true);
        QMenu::showEvent(event);
    }
};

// An entry's title as Qt's menu shows it: plain text, an ampersand a character and not a
// mnemonic.
QString menuTitle(const MenuItem& item) {
    return QString::fromStdString(item.title()).replace('&', "&&");
}

// A transparent icon holds the item's place until it is given an image: a tray shows
// nothing for an icon-less item.
QIcon blankIcon() {
    QImage image(22, 22, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return QIcon(QPixmap::fromImage(image));
}
}  // namespace

QtStatusItem::QtStatusItem(QtPlatform& platform) : platform_(&platform) {
    platform_->statusItemCreated(this);
}

void QtStatusItem::realize() {
    if (platform_ == nullptr || qmenu_) {
        return;
    }
    qmenu_ = std::make_unique<StatusMenu>();
    qmenu_->setObjectName("vellumor-status-menu");
    QObject::connect(qmenu_.get(), &QMenu::aboutToShow, qmenu_.get(), [this] { refreshMenu(); });
    rebuildMenu();
#if VELLUMOR_WAYLAND
    if (platform_->onWayland()) {
        hostWait_ = std::make_unique<StatusNotifierHostWait>([this] { makeTray(); });
    } else {
        makeTray();
    }
#else
    makeTray();
#endif
    trayCheck_ = std::make_unique<QTimer>();
    trayCheck_->setSingleShot(true);
    QObject::connect(trayCheck_.get(), &QTimer::timeout, trayCheck_.get(),
                     [this] { reportMissingTray(); });
    trayCheck_->start(kTrayWait);
}

void QtStatusItem::makeTray() {
    tray_ = std::make_unique<QSystemTrayIcon>();
    tray_->setContextMenu(qmenu_.get());
    // Qt opens the context menu for the right button; the platform's status items open
    // their menu for the left one as well.
    QObject::connect(tray_.get(), &QSystemTrayIcon::activated, tray_.get(),
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger && menu_ != nullptr) {
                             qmenu_->popup(QCursor::pos());
                         }
                     });
    applyImage();
    tray_->show();
}

QtStatusItem::~QtStatusItem() {
    if (platform_ != nullptr) {
        platform_->statusItemDestroyed(this);
    }
    releaseNative();
}

void QtStatusItem::releaseNative() {
    trayCheck_.reset();
#if VELLUMOR_WAYLAND
    hostWait_.reset();
#endif
    // Destroying a QMenu leaves the entries of its D-Bus menu (Qt 6.4, the Wayland tray) in
    // memory; taken out of the menu first, they are freed.
    if (qmenu_) {
        qmenu_->clear();
    }
    // The icon refers to the menu, so it goes first.
    tray_.reset();
    qmenu_.reset();
    platform_ = nullptr;
}

void QtStatusItem::reportMissingTray() {
    // The menu is the only way to quit: the line says how else to end the program.
    // With no icon yet, Qt is not asked: its answer would hold for the whole run.
    // On Wayland the icon is made only once a panel's host is on the bus. Qt's answer there is
    // a call to the panel's watcher that holds the event loop until it comes (up to 25 s).
    const bool shown = tray_ && ((platform_ != nullptr && platform_->onWayland()) ||
                                 QSystemTrayIcon::isSystemTrayAvailable());
    if (!shown) {
        std::fprintf(stderr,
                     "vellumor: no system tray shows the Vellumor icon, so its menu cannot be "
                     "reached; the icon appears when a tray starts. To end Vellumor: kill %d\n",
                     static_cast<int>(::getpid()));
    }
}

void QtStatusItem::setImage(const std::shared_ptr<const Image>& image) {
    image_ = image;
    if (tray_) {
        applyImage();
    }
}

void QtStatusItem::applyImage() {
    if (!image_) {
        tray_->setIcon(blankIcon());
        tray_->setToolTip({});
        return;
    }
    tray_->setIcon(iconForImage(image_->name()));
    tray_->setToolTip(QString::fromStdString(image_->accessibilityDescription()));
}

void QtStatusItem::setMenu(Menu* menu) {
    menu_ = menu;
    if (qmenu_) {
        rebuildMenu();
    }
}

void QtStatusItem::refreshMenu() {
    const auto actions = qmenu_->actions();
    if (menu_ == nullptr || std::size_t(actions.size()) != menu_->itemArray().size()) {
        rebuildMenu();
        return;
    }
    for (qsizetype index = 0; index < actions.size(); ++index) {
        const MenuItem& item = *menu_->itemArray()[std::size_t(index)];
        QAction& action = *actions[index];
        // Entries changed since the menu was filled: it is filled anew.
        if (action.isSeparator() != item.isSeparatorItem() ||
            (!item.isSeparatorItem() && action.text() != menuTitle(item))) {
            rebuildMenu();
            return;
        }
        action.setEnabled(item.isEnabled());
    }
}

void QtStatusItem::rebuildMenu() {
    qmenu_->clear();
    if (menu_ == nullptr) {
        return;
    }
    const auto& items = menu_->itemArray();
    for (std::size_t index = 0; index < items.size(); ++index) {
        const MenuItem& item = *items[index];
        if (item.isSeparatorItem()) {
            qmenu_->addSeparator();
            continue;
        }
        QAction* action = qmenu_->addAction(menuTitle(item));
        action->setEnabled(item.isEnabled());
        Menu* menu = menu_;
        QObject::connect(action, &QAction::triggered, action,
                         [menu, index] { menu->performActionForItemAtIndex(index); });
    }
}

}  // namespace platform::qt
