#pragma once

#include <xcb/xcb.h>

#include <QApplication>
#include <QPointer>
#include <QRect>
#include <QTimer>
#include <QWidget>

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "platform/PlatformIntegration.h"
#include "platform/common/DefaultsFile.h"
#include "platform/common/SyncSchedule.h"
#include "platform/qt/QtCoalescedCall.h"
#include "platform/qt/QtDesktopStack.h"
#include "platform/qt/QtEarlyDesktop.h"
#include "platform/qt/QtScreens.h"
#include "platform/qt/QtWaylandRules.h"
#include "platform/qt/QtX11.h"

namespace platform::qt {

class QtColorPanel;
class QtStatusItem;
class QtWindow;
class RootEventFilter;
class WaylandConnection;

// The Linux desktop: Qt 6 Widgets for what Qt does well (tray icon, menus, the colour dialog,
// titled windows); on X11, xcb where Qt has no API (RandR monitors, the bare windows of the
// desktop stack and their stacking); on Wayland, a connection of its own to the compositor for
// the outputs and the overlays' layer surfaces (QtWayland*).
class QtPlatform final : public PlatformIntegration {
public:
    // Connects to the X server named by DISPLAY, or on Wayland to the compositor named by
    // WAYLAND_DISPLAY, through Qt and through a connection of its own; ends the process with
    // a line on stderr when that fails (Qt ends it when its own connection fails). The
    // defaults domain lives in `defaultsFile`. `earlyDesktop` holds the overlays' stand-ins
    // that the launcher showed (see QtEarlyDesktop.h), if any: they go once the overlays that
    // launching makes are on screen.
    QtPlatform(std::filesystem::path defaultsFile, WindowSystem system,
               xcb_connection_t* earlyDesktop = nullptr);
    ~QtPlatform() override;
    QtPlatform(const QtPlatform&) = delete;
    QtPlatform& operator=(const QtPlatform&) = delete;

    // --- PlatformIntegration.
    // Runs Qt's event loop until terminate; launching finishes on its first pass, the tray
    // icon and the windows' icon follow on the next.
    void run(Application& app) override;
    // Every policy is accepted and changes nothing: X11 has no per-program dock icon or menu
    // bar to add or remove, and the program never ends with its last window whatever the
    // policy (set once, in the constructor).
    bool setActivationPolicy(NSApplicationActivationPolicy policy) override;
    // Raises and focuses the program's window shown last, and any window shown before the
    // event loop next runs.
    void activateIgnoringOtherApps() override;
    // Syncs the defaults, then leaves the event loop, so that run returns and the process
    // ends.
    void terminate() override;
    // The program's own icon (two overlapping squares).
    std::shared_ptr<const Image> applicationIconImage() override;
    // True for the symbols the backend draws itself, false for any other name.
    bool hasSystemSymbol(const std::string& name) override;
    // The window whose widget is Qt's active window, or null.
    Window* keyWindow() override;
    // The RandR monitors, primary first, or on Wayland the outputs, the one at the logical
    // origin first; in platform coordinates.
    std::vector<Rect> screenFrames() override;
    // macOS's level numbers (common/WindowLevels.h).
    std::int32_t windowLevelForKey(WindowLevelKey key) override;
    // A window with nothing native yet: the kind of X window is chosen when it is first shown.
    std::unique_ptr<PlatformWindow> createWindow(Window& owner, Rect contentRect) override;
    // A tray icon; made even while no tray runs, it appears when one starts. One made during
    // launching is shown on the pass after it (see run).
    std::unique_ptr<PlatformStatusItem> createStatusItem(double length) override;
    // The one Qt colour dialog, made on first use.
    PlatformColorPanel& colorPanel(ColorPanel& panel) override;
    // The value in the defaults file (see defaultsFilePath).
    std::optional<PropertyValue> defaultsObjectForKey(const std::string& key) override;
    // Replaces the defaults file before returning, and syncs it from the event loop once the
    // writes pause (common/SyncSchedule.h); a failed write keeps the value for this run.
    void setDefaultsObject(const PropertyValue& value, const std::string& key) override;
    // An NSKeyedArchiver archive, as macOS writes it (common/KeyedArchive.h).
    std::optional<Data> archiveColor(const Color& color, std::string* error) override;
    // The colour of a keyed archive from macOS or from this backend.
    std::optional<Color> unarchiveColor(const Data& data, std::string* error) override;
    // CFBundleName, CFBundleIdentifier, CFBundleShortVersionString and BuildDate.
    std::optional<PropertyValue> infoDictionaryValue(const std::string& key) override;

    // --- For the backend's own objects.
    // Whether the program runs on Wayland rather than X11.
    bool onWayland() const;
    // The X11 objects; on X11 only.
    X11Connection& x11() { return *x11_; }
    QtScreens& screens() { return *screens_; }
    // The rectangle that platform coordinates are relative to, in X11 pixels or in Wayland's
    // logical coordinates (see toPlatformRect).
    QRect screenReference();
    // Whether windows may be translucent: on X11 when a compositing manager runs; always on
    // Wayland, where the compositor composites.
    bool hasCompositor() const;
    // Qt's device-independent pixels and X11 pixels: Qt on X11 scales every screen by one
    // factor. On Wayland both sides count logical pixels, and these change nothing.
    QRect toQtLogical(const QRect& x11) const;
    QRect fromQtLogical(const QRect& logical) const;
    // The server told of a change to a window of the desktop stack (see RootEventFilter).
    void desktopStackEvent(const xcb_generic_event_t& event);
    // Where the overlays are kept in the window stack.
    QtDesktopStack& desktopStack() { return *desktopStack_; }
    // Whether activateIgnoringOtherApps asked for the next shown window to be focused.
    bool activationRequested() const { return activationRequested_; }
    // A window or panel of the program was shown.
    void widgetShown(QWidget* widget) { lastShown_ = widget; }
    // Called by the backend objects, which the platform lets go of if it ends first.
    void windowCreated(QtWindow* window) { windows_.push_back(window); }
    void windowDestroyed(QtWindow* window);
    void statusItemCreated(QtStatusItem* item) { statusItems_.push_back(item); }
    void statusItemDestroyed(QtStatusItem* item);

private:
    // The pass after launching: gives windows the program's icon and realises the status
    // items made so far; items made later are realised at once.
    void finishShell();
    // Gives up the Qt objects behind the program's windows, status items and colour panel,
    // while Qt is still whole; the program's own objects stay and go later.
    void releaseNativeObjects();
    // Puts the defaults written so far on stable storage.
    void syncDefaults();
    // Keeps the overlays' look for the launcher's stand-ins at the next start, when it is new.
    void keepDesktopLook();
    // Removes the launcher's stand-ins once launching is done and every overlay it showed is
    // on screen.
    void endEarlyDesktopOnceCovered();
    // Claims the Wayland display for this process and connects to its compositor.
    void startWayland();

    std::unique_ptr<QApplication> application_;
    std::unique_ptr<X11Connection> x11_;
    std::unique_ptr<QtScreens> screens_;
    std::unique_ptr<QtDesktopStack> desktopStack_;
    std::unique_ptr<RootEventFilter> filter_;
    // The launcher's connection, which holds the overlays' stand-ins; null once they are gone.
    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> earlyDesktop_{nullptr,
                                                                               &xcb_disconnect};
    // The look in the file for the next start, as last read or written.
    std::optional<DesktopLook> keptLook_;
#if VELLUMOR_WAYLAND
    std::unique_ptr<WaylandConnection> wayland_;
#endif
    common::DefaultsFile defaults_;
    common::SyncSchedule defaultsSync_;
    QTimer defaultsSyncTimer_;
    std::unique_ptr<QtColorPanel> colorPanel_;
    std::vector<QtWindow*> windows_;
    std::vector<QtStatusItem*> statusItems_;
    QPointer<QWidget> lastShown_;
    bool activationRequested_ = false;
    bool terminated_ = false;
    bool shellFinished_ = false;
    // Whether launching has made the overlays (the stand-ins wait for them).
    bool launched_ = false;
    CoalescedCall endActivation_;
};

}  // namespace platform::qt
