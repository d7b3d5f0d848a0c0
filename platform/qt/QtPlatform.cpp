#include "platform/qt/QtPlatform.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QTimer>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/common/FileReplacement.h"
#include "platform/common/KeyedArchive.h"
#include "platform/common/WindowLevels.h"
#include "platform/qt/QtBuildInfo.h"
#include "platform/qt/QtColorPanel.h"
#include "platform/qt/QtImages.h"
#include "platform/qt/QtSingleInstance.h"
#include "platform/qt/QtStatusItem.h"
#include "platform/qt/QtUserPaths.h"
#include "platform/qt/QtWindow.h"
#if VELLUMOR_WAYLAND
#include "platform/qt/QtWaylandConnection.h"
#include "platform/qt/QtWaylandSession.h"
#include "platform/qt/QtWaylandWindow.h"
#endif

namespace platform::qt {

namespace {
// Qt takes a command line; the program reads none, so Qt is given only the program's name.
int fakeArgc = 1;
char fakeName[] = "vellumor";
std::array<char*, 2> fakeArgv{fakeName, nullptr};
}  // namespace

// Sees every X event before Qt does and passes each on. A change of the monitors is followed
// at once (see QtScreens::noteEvent); everything else is only noted, and the work is done on
// the next pass of the event loop.
class RootEventFilter final : public QAbstractNativeEventFilter {
public:
    explicit RootEventFilter(QtPlatform& platform) : platform_(platform) {}

    bool nativeEventFilter(const QByteArray& eventType, void* message,
                           qintptr* /*result*/) override {
        if (eventType != "xcb_generic_event_t" || message == nullptr) {
            return false;
        }
        const auto& event = *static_cast<const xcb_generic_event_t*>(message);
        if (platform_.screens().noteEvent(event)) {
            // The overlays were rebuilt at once: the windows none took over go now, not
            // after Qt's own screen update.
            platform_.desktopStack().dropParked();
        }
        platform_.desktopStackEvent(event);
        return false;
    }

private:
    QtPlatform& platform_;
};

QtPlatform::QtPlatform(std::filesystem::path defaultsFile, WindowSystem system,
                       xcb_connection_t* earlyDesktop)
    : earlyDesktop_(earlyDesktop, &xcb_disconnect),
      defaults_(std::move(defaultsFile)),
      endActivation_([this] { activationRequested_ = false; }) {
    // Qt runs on the window system chosen, whatever else the session offers.
    qputenv("QT_QPA_PLATFORM", system == WindowSystem::Wayland ? "wayland" : "xcb");
    QCoreApplication::setApplicationName(QStringLiteral("Vellumor"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("vellumor.org"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.vellumor.Vellumor"));
    application_ = std::make_unique<QApplication>(fakeArgc, fakeArgv.data());
    // As on macOS, closing the last window does not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    defaultsSyncTimer_.setSingleShot(true);
    QObject::connect(&defaultsSyncTimer_, &QTimer::timeout, [this] { syncDefaults(); });
#if VELLUMOR_WAYLAND
    if (system == WindowSystem::Wayland) {
        earlyDesktop_.reset();
        startWayland();
        return;
    }
#endif

    auto* native = application_->nativeInterface<QNativeInterface::QX11Application>();
    if (native == nullptr || native->connection() == nullptr) {
        std::fputs("vellumor: the X11 backend needs an X server (set DISPLAY)\n", stderr);
        std::exit(EXIT_FAILURE);
    }
    // The screen DISPLAY names, as Qt connected to it (0 when it names none).
    int screenNumber = 0;
    char* host = nullptr;
    int display = 0;
    if (xcb_parse_display(nullptr, &host, &display, &screenNumber) != 0) {
        std::free(host);
    } else {
        screenNumber = 0;
    }
    x11_ = std::make_unique<X11Connection>(native->connection(), screenNumber);
    exitIfAlreadyRunning(*x11_);
    screens_ = std::make_unique<QtScreens>(*x11_);
    desktopStack_ = std::make_unique<QtDesktopStack>(*x11_, windows_);
    filter_ = std::make_unique<RootEventFilter>(*this);
    application_->installNativeEventFilter(filter_.get());
    keptLook_ = readDesktopLook(desktopLookPath());
}

#if VELLUMOR_WAYLAND
void QtPlatform::startWayland() {
    const QByteArray display = qgetenv("WAYLAND_DISPLAY");
    exitIfAlreadyRunningOnWayland(display.toStdString());
    wayland_ = WaylandConnection::connect(display.toStdString());
    if (!wayland_) {
        std::fprintf(stderr, "vellumor: the Wayland compositor at \"%s\" stopped answering\n",
                     display.constData());
        std::exit(EXIT_FAILURE);
    }
}
#endif

QtPlatform::~QtPlatform() {
    // Before Qt goes, with the timer's event loop.
    syncDefaults();
    // The program's objects may outlive the platform (static destruction runs in reverse
    // order of construction).
    releaseNativeObjects();
#if VELLUMOR_WAYLAND
    wayland_.reset();
#endif
    if (filter_) {
        application_->removeNativeEventFilter(filter_.get());
    }
    filter_.reset();
    desktopStack_.reset();
    screens_.reset();
    x11_.reset();
    application_.reset();
}

// --- Application ----------------------------------------------------------------------------

void QtPlatform::run(Application& app) {
    if (terminated_) {
        return;
    }
    QTimer::singleShot(0, application_.get(), [this, &app] {
        app.finishLaunching();
        launched_ = true;
        // Until the manager shows the overlays, the stand-ins keep the desktop covered.
        endEarlyDesktopOnceCovered();
        // The overlays are what the user waits for at start: launching has mapped them and
        // flushed the requests. The tray icon and the windows' icon follow on the next pass,
        // after the restacking that launching asked for: the tray icon's first showing is
        // the costly part of the shell (icons rendered, the tray's window made, the session
        // bus asked for a StatusNotifierItem watcher).
        QMetaObject::invokeMethod(
            application_.get(), [this] { finishShell(); }, Qt::QueuedConnection);
    });
    // The loop's first pass, which finishes launching, runs before exec: Qt 6.4's exec starts
    // the accessibility bridge, which connects to the session bus and asks it for the
    // accessibility bus, in series, and would hold the overlays back by that. The bridge is
    // still started before any of the program's widgets is shown, so a screen reader reaches
    // the tray menu, the About window and the colour dialog as before.
    QCoreApplication::processEvents();
    if (!terminated_) {
        QApplication::exec();
    }
    // However the loop was left, the process ends soon after.
    syncDefaults();
    // The program's objects are destroyed at process exit, after Qt's own process-wide state
    // is gone: a menu that held the keyboard focus would reach it from its destructor.
    releaseNativeObjects();
}

void QtPlatform::finishShell() {
    if (shellFinished_ || terminated_) {
        return;
    }
    shellFinished_ = true;
    keepDesktopLook();
    QApplication::setWindowIcon(iconForImage(kAppIconName));
    for (QtStatusItem* item : statusItems_) {
        item->realize();
    }
}

void QtPlatform::desktopStackEvent(const xcb_generic_event_t& event) {
    desktopStack_->noteEvent(event);
    endEarlyDesktopOnceCovered();
}

void QtPlatform::endEarlyDesktopOnceCovered() {
    if (earlyDesktop_ && launched_ && desktopStack_->everyMappedWindowShown()) {
        earlyDesktop_.reset();
    }
}

void QtPlatform::keepDesktopLook() {
    if (onWayland() || !desktopStack_) {
        return;
    }
    const std::optional<std::uint32_t> pixel = desktopStack_->backgroundPixel();
    const xcb_visualtype_t* visual = x11_->rootVisual();
    if (!pixel || !hasColourChannels(visual)) {
        return;
    }
    const DesktopLook look{*pixel, visual->red_mask, visual->green_mask, visual->blue_mask};
    if (look == keptLook_) {
        return;
    }
    const std::string text = desktopLookText(look);
    // Only a start's first moment depends on the file, so it is not synced, and a failure
    // leaves that moment as it would be without.
    common::detail::PlacedFile placed;
    if (!common::detail::replaceFile(desktopLookPath(), Data(text.begin(), text.end()), placed)) {
        keptLook_ = look;
    }
}

void QtPlatform::releaseNativeObjects() {
    for (QtWindow* window : std::exchange(windows_, {})) {
        window->releaseNative();
    }
    for (QtStatusItem* item : std::exchange(statusItems_, {})) {
        item->releaseNative();
    }
    colorPanel_.reset();
#if VELLUMOR_WAYLAND
    if (wayland_) {
        wayland_->releaseSurfaces();
    }
#endif
}

bool QtPlatform::setActivationPolicy(NSApplicationActivationPolicy /*policy*/) {
    return true;
}

void QtPlatform::activateIgnoringOtherApps() {
    activationRequested_ = true;
    endActivation_.request();
    QWidget* shown = lastShown_.data();
    if (shown != nullptr && shown->isVisible()) {
        shown->raise();
        shown->activateWindow();
    }
}

void QtPlatform::terminate() {
    terminated_ = true;
    syncDefaults();
    QCoreApplication::quit();
}

std::shared_ptr<const Image> QtPlatform::applicationIconImage() {
    return std::make_shared<const Image>(kAppIconName, "Vellumor");
}

bool QtPlatform::hasSystemSymbol(const std::string& name) {
    return isSystemSymbol(name);
}

Window* QtPlatform::keyWindow() {
    for (QtWindow* window : windows_) {
        if (window->isKey()) {
            return &window->owner();
        }
    }
    return nullptr;
}

std::int32_t QtPlatform::windowLevelForKey(WindowLevelKey key) {
    return common::windowLevelForKey(key);
}

std::optional<PropertyValue> QtPlatform::infoDictionaryValue(const std::string& key) {
    if (key == "BuildDate") {
        return std::string(buildDate());
    }
    if (key == "CFBundleName") {
        return std::string("Vellumor");
    }
    if (key == "CFBundleIdentifier") {
        return std::string("org.vellumor.Vellumor");
    }
    if (key == "CFBundleShortVersionString") {
        return std::string(VELLUMOR_VERSION);
    }
    return std::nullopt;
}

// --- Displays and windows -------------------------------------------------------------------

std::vector<Rect> QtPlatform::screenFrames() {
#if VELLUMOR_WAYLAND
    if (wayland_) {
        return wayland_->frames();
    }
#endif
    return screens_->frames();
}

QRect QtPlatform::screenReference() {
#if VELLUMOR_WAYLAND
    if (wayland_) {
        return wayland_->reference();
    }
#endif
    return screens_->reference();
}

bool QtPlatform::onWayland() const {
#if VELLUMOR_WAYLAND
    return wayland_ != nullptr;
#else
    return false;
#endif
}

bool QtPlatform::hasCompositor() const {
    return onWayland() || x11_->hasCompositor();
}

QRect QtPlatform::toQtLogical(const QRect& x11) const {
    const double ratio = application_->devicePixelRatio();
    if (ratio <= 1.0 || onWayland()) {
        return x11;
    }
    const auto scale = [ratio](int value) { return static_cast<int>(std::lround(value / ratio)); };
    return {scale(x11.x()), scale(x11.y()), scale(x11.width()), scale(x11.height())};
}

QRect QtPlatform::fromQtLogical(const QRect& logical) const {
    const double ratio = application_->devicePixelRatio();
    if (ratio <= 1.0 || onWayland()) {
        return logical;
    }
    const auto scale = [ratio](int value) { return static_cast<int>(std::lround(value * ratio)); };
    return {scale(logical.x()), scale(logical.y()), scale(logical.width()),
            scale(logical.height())};
}

std::unique_ptr<PlatformWindow> QtPlatform::createWindow(Window& owner, Rect contentRect) {
#if VELLUMOR_WAYLAND
    if (wayland_) {
        return std::make_unique<QtWaylandWindow>(*this, *wayland_, owner, contentRect);
    }
#endif
    return std::make_unique<QtWindow>(*this, owner, contentRect);
}

void QtPlatform::windowDestroyed(QtWindow* window) {
    std::erase(windows_, window);
}

// --- Status bar and colour panel ------------------------------------------------------------

std::unique_ptr<PlatformStatusItem> QtPlatform::createStatusItem(double /*length*/) {
    auto item = std::make_unique<QtStatusItem>(*this);
    if (shellFinished_) {
        item->realize();
    }
    return item;
}

void QtPlatform::statusItemDestroyed(QtStatusItem* item) {
    std::erase(statusItems_, item);
}

PlatformColorPanel& QtPlatform::colorPanel(ColorPanel& panel) {
    if (!colorPanel_) {
        colorPanel_ = std::make_unique<QtColorPanel>(*this, panel);
    }
    return *colorPanel_;
}

// --- Defaults and archiving -----------------------------------------------------------------

std::optional<PropertyValue> QtPlatform::defaultsObjectForKey(const std::string& key) {
    return defaults_.objectForKey(key);
}

void QtPlatform::setDefaultsObject(const PropertyValue& value, const std::string& key) {
    // A full disk keeps the value for this run; the defaults file tells stderr why.
    defaults_.setObject(value, key);
    if (defaults_.needsSync()) {
        const auto now = common::SyncSchedule::Clock::now();
        const auto wait =
            std::chrono::ceil<std::chrono::milliseconds>(defaultsSync_.wrote(now) - now);
        defaultsSyncTimer_.start(std::max(wait, std::chrono::milliseconds(0)));
    }
}

void QtPlatform::syncDefaults() {
    defaultsSyncTimer_.stop();
    defaults_.sync();
    defaultsSync_.synced();
    keepDesktopLook();
}

std::optional<Data> QtPlatform::archiveColor(const Color& color, std::string* error) {
    return common::archiveColor(color, error);
}

std::optional<Color> QtPlatform::unarchiveColor(const Data& data, std::string* error) {
    return common::unarchiveColor(data, error);
}

}  // namespace platform::qt
