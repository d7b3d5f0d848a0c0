#pragma once

#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

#include <memory>

#include "platform/PlatformIntegration.h"
#if VELLUMOR_WAYLAND
#include "platform/qt/QtWaylandTray.h"
#endif

namespace platform::qt {

class QtPlatform;

// The status item as a tray icon: a StatusNotifierItem where the session has a watcher for
// one, an XEmbed icon in the system tray otherwise. It is shown once realised and appears
// whenever a tray does, also one started after the program (on Wayland, where it can only be
// a StatusNotifierItem, the icon is made once a host is there). When no tray has come a few
// seconds after it was realised, one line on stderr says so and how to end the program.
class QtStatusItem final : public PlatformStatusItem {
public:
    // Holds the image and menu it is given until it is realised: the platform realises it on
    // the pass of the event loop after the overlays were put on screen (see QtPlatform::run).
    explicit QtStatusItem(QtPlatform& platform);
    ~QtStatusItem() override;
    QtStatusItem(const QtStatusItem&) = delete;
    QtStatusItem& operator=(const QtStatusItem&) = delete;

    // A tray icon always has a face to show an image on.
    bool hasButton() const override { return true; }
    // Shows the image as the icon; its description becomes the tooltip and accessible name.
    void setImage(const std::shared_ptr<const Image>& image) override;
    // A click (either button) on the icon opens a menu showing `menu` as it is at that
    // moment: its titles, separators and each entry's enabled state.
    void setMenu(Menu* menu) override;

    // Makes the menu and the tray icon, with the image and menu given so far, and shows the
    // icon; on Wayland the icon waits for a StatusNotifierItem host. Does nothing a second
    // time, or after releaseNative.
    void realize();

    // Gives up the Qt objects while Qt is still there; the item does nothing afterwards.
    void releaseNative();

private:
    // Fills the Qt menu from the platform menu.
    void rebuildMenu();
    // Asks each entry again whether it is enabled, just before the menu opens. The entries
    // keep their Qt actions, and so the ids a panel knows them by over D-Bus.
    void refreshMenu();
    // Tells the user, once, that no tray shows the icon, if none does.
    void reportMissingTray();
    // Makes the tray icon, with the menu and the image given so far, and shows it.
    void makeTray();
    // Shows `image_` as the icon, its description as the tooltip.
    void applyImage();

    QtPlatform* platform_;
    std::shared_ptr<const Image> image_;
    Menu* menu_ = nullptr;
    std::unique_ptr<QMenu> qmenu_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    std::unique_ptr<QTimer> trayCheck_;
#if VELLUMOR_WAYLAND
    std::unique_ptr<StatusNotifierHostWait> hostWait_;
#endif
};

}  // namespace platform::qt
