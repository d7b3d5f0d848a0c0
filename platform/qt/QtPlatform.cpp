#include "platform/qt/QtPlatform.h"

#include <pwd.h>
#include <unistd.h>

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QTimer>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "platform/common/KeyedArchive.h"
#include "platform/common/WindowLevels.h"
#include "platform/qt/QtBuildInfo.h"
#include "platform/qt/QtColorPanel.h"
#include "platform/qt/QtImages.h"
#include "platform/qt/QtStacking.h"
#include "platform/qt/QtStatusItem.h"
#include "platform/qt/QtWindow.h"

namespace platform::qt {

namespace {
// Qt takes a command line; the program reads none, so Qt is given only the program's name.
int fakeArgc = 1;
char fakeName[] = "vellumor";
std::array<char*, 2> fakeArgv{fakeName, nullptr};

// EWMH _NET_RESTACK_WINDOW: the request comes from a pager-like tool, which managers obey
// without applying focus-stealing or stacking policies meant for applications.
constexpr std::uint32_t kSourcePager = 2;
constexpr std::uint32_t kStackAbove = 0;

// How often, and for how long, a map request is checked on (see desktopWindowMapped).
constexpr std::chrono::milliseconds kMapCheckInterval{250};
constexpr int kMapChecks = 60;
}  // namespace

std::filesystem::path defaultsFilePath() {
    std::filesystem::path base;
    // The XDG base directory rules ignore a relative XDG_CONFIG_HOME; a relative home is
    // ignored as well, or the colour would follow the working directory. The last resort
    // lies in a shared directory, where the defaults file refuses a directory someone else
    // made first.
    if (const char* config = std::getenv("XDG_CONFIG_HOME");
        config != nullptr && config[0] == '/') {
        base = config;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        base = std::filesystem::path(home) / ".config";
    } else if (const passwd* user = ::getpwuid(::getuid());
               user != nullptr && user->pw_dir != nullptr && user->pw_dir[0] == '/') {
        base = std::filesystem::path(user->pw_dir) / ".config";
    } else {
        std::error_code noTemporaryDirectory;
        base = std::filesystem::temp_directory_path(noTemporaryDirectory);
        if (noTemporaryDirectory) {
            base = "/tmp";
        }
        base /= "vellumor-" + std::to_string(::getuid());
    }
    return base / "vellumor" / "org.vellumor.Vellumor.plist";
}

// Sees every X event before Qt does and passes each on. It only notes what happened; the
// work is done on the next pass of the event loop.
class RootEventFilter final : public QAbstractNativeEventFilter {
public:
    explicit RootEventFilter(QtPlatform& platform) : platform_(platform) {}

    bool nativeEventFilter(const QByteArray& eventType, void* message,
                           qintptr* /*result*/) override {
        if (eventType != "xcb_generic_event_t" || message == nullptr) {
            return false;
        }
        const auto& event = *static_cast<const xcb_generic_event_t*>(message);
        platform_.screens().noteEvent(event);
        if ((event.response_type & 0x7F) == XCB_PROPERTY_NOTIFY) {
            const auto& notice = reinterpret_cast<const xcb_property_notify_event_t&>(event);
            if (notice.window == platform_.x11().root()) {
                platform_.rootPropertyChanged(notice.atom);
            }
        }
        return false;
    }

private:
    QtPlatform& platform_;
};

QtPlatform::QtPlatform(std::filesystem::path defaultsFile)
    : defaults_(std::move(defaultsFile)),
      restack_([this] { restackDesktop(); }),
      endActivation_([this] { activationRequested_ = false; }) {
    // The backend speaks X11; in a Wayland session it runs on the session's X server.
    qputenv("QT_QPA_PLATFORM", "xcb");
    QCoreApplication::setApplicationName(QStringLiteral("Vellumor"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("vellumor.org"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.vellumor.Vellumor"));
    application_ = std::make_unique<QApplication>(fakeArgc, fakeArgv.data());
    // As on macOS, closing the last window does not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(iconForImage(kAppIconName));

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
    screens_ = std::make_unique<QtScreens>(*x11_);
    // The manager's stacking list and its check window are root properties; interned now,
    // not inside the filter.
    clientListStacking_ = x11_->atom("_NET_CLIENT_LIST_STACKING");
    supportingWmCheck_ = x11_->atom("_NET_SUPPORTING_WM_CHECK");
    x11_->addRootEvents(XCB_EVENT_MASK_PROPERTY_CHANGE);
    x11_->flush();
    filter_ = std::make_unique<RootEventFilter>(*this);
    application_->installNativeEventFilter(filter_.get());
    mapCheck_ = std::make_unique<QTimer>();
    mapCheck_->setSingleShot(true);
    mapCheck_->setInterval(kMapCheckInterval);
    QObject::connect(mapCheck_.get(), &QTimer::timeout, mapCheck_.get(),
                     [this] { checkDesktopWindowsMapped(); });
}

QtPlatform::~QtPlatform() {
    // The program's objects may outlive the platform (static destruction runs in reverse
    // order of construction).
    releaseNativeObjects();
    mapCheck_.reset();
    application_->removeNativeEventFilter(filter_.get());
    filter_.reset();
    screens_.reset();
    x11_.reset();
    application_.reset();
}

// --- Application ----------------------------------------------------------------------------

void QtPlatform::run(Application& app) {
    if (terminated_) {
        return;
    }
    QTimer::singleShot(0, application_.get(), [&app] { app.finishLaunching(); });
    QApplication::exec();
    // The program's objects are destroyed at process exit, after Qt's own process-wide state
    // is gone: a menu that held the keyboard focus would reach it from its destructor.
    releaseNativeObjects();
}

void QtPlatform::releaseNativeObjects() {
    for (QtWindow* window : std::exchange(windows_, {})) {
        window->releaseNative();
    }
    for (QtStatusItem* item : std::exchange(statusItems_, {})) {
        item->releaseNative();
    }
    colorPanel_.reset();
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
    return screens_->frames();
}

QRect QtPlatform::toQtLogical(const QRect& x11) const {
    const double ratio = application_->devicePixelRatio();
    if (ratio <= 1.0) {
        return x11;
    }
    const auto scale = [ratio](int value) { return static_cast<int>(std::lround(value / ratio)); };
    return {scale(x11.x()), scale(x11.y()), scale(x11.width()), scale(x11.height())};
}

QRect QtPlatform::fromQtLogical(const QRect& logical) const {
    const double ratio = application_->devicePixelRatio();
    if (ratio <= 1.0) {
        return logical;
    }
    const auto scale = [ratio](int value) { return static_cast<int>(std::lround(value * ratio)); };
    return {scale(logical.x()), scale(logical.y()), scale(logical.width()),
            scale(logical.height())};
}

std::unique_ptr<PlatformWindow> QtPlatform::createWindow(Window& owner, Rect contentRect) {
    return std::make_unique<QtWindow>(*this, owner, contentRect);
}

void QtPlatform::windowDestroyed(QtWindow* window) {
    std::erase(windows_, window);
}

void QtPlatform::rootPropertyChanged(xcb_atom_t property) {
    if (property == supportingWmCheck_) {
        // A manager started, ended or was replaced: the desktop stack is placed anew under
        // whoever keeps it now.
        windowManagerRuns_.reset();
        restack_.request();
    } else if (property == clientListStacking_) {
        restack_.request();
    }
}

bool QtPlatform::windowManagerRuns() {
    if (!windowManagerRuns_) {
        windowManagerRuns_ = x11_->hasWindowManager();
    }
    return *windowManagerRuns_;
}

void QtPlatform::sendRestack(xcb_window_t window, xcb_window_t sibling) {
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = x11_->atom("_NET_RESTACK_WINDOW");
    message.data.data32[0] = kSourcePager;
    message.data.data32[1] = sibling;
    message.data.data32[2] = kStackAbove;
    x11_->sendToRoot(message);
}

void QtPlatform::desktopWindowMapped() {
    // openbox 3.6 names its check window before its startup is over and drops the map
    // requests that reach it until then, so a window mapped while the session starts would
    // stay off screen for good. The map is checked a few times and made again if dropped.
    mapChecksLeft_ = kMapChecks;
    mapCheck_->start();
}

void QtPlatform::checkDesktopWindowsMapped() {
    bool remapped = false;
    for (QtWindow* window : windows_) {
        remapped = window->remapIfDropped() || remapped;
    }
    // Checked until every window was seen mapped once or the time is up.
    if (remapped && --mapChecksLeft_ > 0) {
        mapCheck_->start();
    }
}

void QtPlatform::raiseInDesktopStack(xcb_window_t window) {
    if (windowManagerRuns()) {
        sendRestack(window, XCB_WINDOW_NONE);
        x11_->flush();
    }
}

void QtPlatform::restackDesktop() {
    std::vector<xcb_window_t> ours;
    for (QtWindow* window : windows_) {
        if (const xcb_window_t id = window->desktopStackWindow(); id != XCB_WINDOW_NONE) {
            ours.push_back(id);
        }
    }
    if (ours.empty()) {
        return;
    }
    if (!windowManagerRuns()) {
        // Nobody keeps a desktop layer: the stack goes to the bottom of the root's children.
        const std::uint32_t below = XCB_STACK_MODE_BELOW;
        for (const xcb_window_t id : ours) {
            xcb_configure_window(x11_->connection(), id, XCB_CONFIG_WINDOW_STACK_MODE, &below);
        }
        x11_->flush();
        return;
    }
    const auto stacking = x11_->property32(x11_->root(), clientListStacking_, XCB_ATOM_WINDOW);
    if (!stacking) {
        return;
    }
    const xcb_atom_t typeProperty = x11_->atom("_NET_WM_WINDOW_TYPE");
    const xcb_atom_t desktopType = x11_->atom("_NET_WM_WINDOW_TYPE_DESKTOP");
    // The list changes with every raise; a window's type is read once while it is listed,
    // and the types of the windows listed anew (the last overlays, just destroyed, after a
    // rebuild) in one round trip.
    std::map<xcb_window_t, bool> listedTypes;
    std::vector<xcb_window_t> unknown;
    for (const std::uint32_t id : *stacking) {
        if (std::find(ours.begin(), ours.end(), id) != ours.end()) {
            continue;
        }
        if (const auto known = desktopTypes_.find(id); known != desktopTypes_.end()) {
            listedTypes.emplace(id, known->second);
        } else if (!listedTypes.contains(id)) {
            unknown.push_back(id);
            listedTypes.emplace(id, false);
        }
    }
    const auto types = x11_->property32OfEach(unknown, typeProperty, XCB_ATOM_ATOM);
    for (std::size_t index = 0; index < unknown.size(); ++index) {
        const auto& listed = types[index];
        listedTypes[unknown[index]] =
            listed && std::find(listed->begin(), listed->end(), desktopType) != listed->end();
    }
    std::vector<StackedWindow> entries;
    entries.reserve(stacking->size());
    for (const std::uint32_t id : *stacking) {
        auto kind = StackedWindow::Kind::Other;
        if (std::find(ours.begin(), ours.end(), id) != ours.end()) {
            kind = StackedWindow::Kind::Own;
        } else if (listedTypes[id]) {
            kind = StackedWindow::Kind::ForeignDesktop;
        }
        entries.push_back({id, kind});
    }
    desktopTypes_ = std::move(listedTypes);
    for (const RestackRequest& request : restacksAboveDesktop(entries)) {
        sendRestack(request.window, request.sibling);
    }
    x11_->flush();
}

// --- Status bar and colour panel ------------------------------------------------------------

std::unique_ptr<PlatformStatusItem> QtPlatform::createStatusItem(double /*length*/) {
    return std::make_unique<QtStatusItem>(*this);
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
}

std::optional<Data> QtPlatform::archiveColor(const Color& color, std::string* error) {
    return common::archiveColor(color, error);
}

std::optional<Color> QtPlatform::unarchiveColor(const Data& data, std::string* error) {
    return common::unarchiveColor(data, error);
}

}  // namespace platform::qt
