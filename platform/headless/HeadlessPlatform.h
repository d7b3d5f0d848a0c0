#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/PlatformIntegration.h"
#include "platform/common/DefaultsFile.h"
#include "platform/common/SyncSchedule.h"

namespace platform::headless {

class HeadlessWindow;
class HeadlessStatusItem;
class HeadlessColorPanel;

// What a click at one point of the desktop did.
struct ClickResult {
    // The window that took the click, or null when it reached the desktop.
    Window* window = nullptr;
    // Whether the click fell through to the desktop picture and icons.
    bool reachedDesktop = false;
};

// An in-memory window system: displays, windows, the status bar, the colour panel, defaults
// and bundle information, all inspectable and driven by tests as a user and the platform
// would drive a real one. Events that a real platform delivers from its event loop are
// delivered synchronously by the controls below, through the same paths.
class HeadlessPlatform final : public PlatformIntegration {
public:
    // A desktop with the displays `screens` (primary first), whose user defaults live in
    // `defaultsDirectory` (one file per domain, kept across launches).
    explicit HeadlessPlatform(std::filesystem::path defaultsDirectory,
                              std::vector<Rect> screens = {{0.0, 0.0, 1920.0, 1080.0}});
    ~HeadlessPlatform() override;

    // --- Displays. Each change posts the screen-parameters notification, as the platform
    // does, once per call.
    void setScreens(std::vector<Rect> frames);
    void attachScreen(Rect frame);
    // Posts the screen-parameters notification with the displays unchanged.
    void postScreenParametersChanged();

    // --- Windows.
    // Every window that exists now (made and not yet destroyed), in order of creation.
    std::vector<Window*> windows() const;
    // The shown windows, front to back.
    std::vector<Window*> windowsFrontToBack() const;
    // How many windows have been made and destroyed since this platform was made.
    std::size_t windowsCreated() const { return created_; }
    std::size_t windowsDestroyed() const { return destroyed_; }
    // The window system's number for `window`, unique for the life of this platform.
    std::size_t windowNumber(const Window& window) const;
    // Whether `window` has been closed and not shown since.
    bool isClosed(const Window& window) const;
    // The window with keyboard focus, or null; and the main window.
    Window* keyWindow() override;
    Window* mainWindow() const;
    // A user's click at `point` (global coordinates): the front-most shown window there that
    // takes mouse events gets it and, if it can, becomes key and main.
    ClickResult click(Point point);
    // A user's drag of `window` so that its frame's origin moves to `origin`; the window
    // is asked to constrain the new frame. Only windows movable by their background or with
    // a title bar can be dragged; whether it moved.
    bool dragWindow(Window& window, Point origin);
    // A user's click on the close button of a titled, closable window.
    void clickCloseButton(Window& window);

    // --- Status bar.
    // The status items that exist now, in order of creation.
    std::vector<HeadlessStatusItem*> statusItems() const;
    // Makes the platform give new status items no button (true) or a button (false).
    void setStatusItemsHaveNoButton(bool noButton) { statusItemsWithoutButton_ = noButton; }
    // Makes the status bar refuse new items (true), as a desktop without a tray would.
    void setStatusBarUnavailable(bool unavailable) { statusBarUnavailable_ = unavailable; }
    // A user opens the first status item's menu and chooses the entry titled `title`;
    // whether an action was sent.
    bool chooseStatusMenuEntry(const std::string& title);

    // --- Colour panel.
    bool colorPanelVisible() const;
    // The colour the panel shows now.
    std::optional<Color> colorPanelShownColor() const;
    // A user picks `color` in the panel (one action).
    void pickColorInPanel(const Color& color);
    // A user drags through `colors` in the panel: one action per colour, in order.
    void dragColorInPanel(const std::vector<Color>& colors);

    // --- Application.
    std::optional<NSApplicationActivationPolicy> activationPolicy() const { return policy_; }
    // Whether the program is the active (front-most) one.
    bool isActive() const { return active_; }
    // Another program comes to the front.
    void activateOtherApplication();
    bool isTerminated() const { return terminated_; }
    void setApplicationIcon(std::shared_ptr<const Image> icon) { icon_ = std::move(icon); }
    void setSystemSymbolAvailable(const std::string& name, bool available);
    void setInfoDictionaryValue(const std::string& key, std::optional<PropertyValue> value);

    // --- Defaults.
    // The file the program's defaults domain is kept in.
    std::filesystem::path defaultsFilePath() const;

    // --- Time. The in-memory event loop's clock stands still between the events a test
    // delivers; it moves only here.
    // Lets `duration` pass with no events: what the event loop deferred to a moment within it
    // runs, as a real event loop's timers would (the sync of the defaults a burst wrote).
    void advanceTime(std::chrono::milliseconds duration);

    // --- Journal: the platform calls made, in order, one line each ("orderFront #3").
    const std::vector<std::string>& journal() const { return journal_; }
    // The position of the first journal line starting with `prefix`, if any.
    std::optional<std::size_t> journalIndex(const std::string& prefix) const;
    void record(std::string line) { journal_.push_back(std::move(line)); }
    // Forgets the lines so far, so that a long run keeps only those it looks at.
    void clearJournal() { journal_.clear(); }

    // --- PlatformIntegration.
    void run(Application& app) override;
    bool setActivationPolicy(NSApplicationActivationPolicy policy) override;
    void activateIgnoringOtherApps() override;
    void terminate() override;
    std::shared_ptr<const Image> applicationIconImage() override { return icon_; }
    bool hasSystemSymbol(const std::string& name) override;
    std::vector<Rect> screenFrames() override { return screens_; }
    std::int32_t windowLevelForKey(WindowLevelKey key) override;
    std::unique_ptr<PlatformWindow> createWindow(Window& owner, Rect contentRect) override;
    std::unique_ptr<PlatformStatusItem> createStatusItem(double length) override;
    PlatformColorPanel& colorPanel(ColorPanel& panel) override;
    std::optional<PropertyValue> defaultsObjectForKey(const std::string& key) override;
    void setDefaultsObject(const PropertyValue& value, const std::string& key) override;
    std::optional<Data> archiveColor(const Color& color, std::string* error) override;
    std::optional<Color> unarchiveColor(const Data& data, std::string* error) override;
    std::optional<PropertyValue> infoDictionaryValue(const std::string& key) override;
    void trace(const std::string& event) override { record(event); }

private:
    friend class HeadlessWindow;
    friend class HeadlessStatusItem;
    void windowDestroyed(HeadlessWindow* window);
    void bringToFront(HeadlessWindow* window);
    void removeFromStack(HeadlessWindow* window);

    std::vector<Rect> screens_;
    std::vector<HeadlessWindow*> windows_;  // in order of creation
    std::vector<HeadlessWindow*> stack_;    // shown windows, front to back
    HeadlessWindow* key_ = nullptr;
    HeadlessWindow* main_ = nullptr;
    std::size_t created_ = 0;
    std::size_t destroyed_ = 0;
    std::vector<HeadlessStatusItem*> statusItems_;
    bool statusItemsWithoutButton_ = false;
    bool statusBarUnavailable_ = false;
    std::unique_ptr<HeadlessColorPanel> colorPanel_;
    std::optional<NSApplicationActivationPolicy> policy_;
    bool active_ = false;
    bool terminated_ = false;
    std::shared_ptr<const Image> icon_;
    std::set<std::string> missingSymbols_;
    std::map<std::string, PropertyValue> info_;
    common::DefaultsFile defaults_;
    common::SyncSchedule defaultsSync_;
    common::SyncSchedule::Clock::time_point now_{};
    std::vector<std::string> journal_;
};

// The headless side of one status item, as a test sees it.
class HeadlessStatusItem final : public PlatformStatusItem {
public:
    HeadlessStatusItem(HeadlessPlatform& platform, double length, bool hasButton);
    ~HeadlessStatusItem() override;
    bool hasButton() const override { return hasButton_; }
    void setImage(const std::shared_ptr<const Image>& image) override;
    void setMenu(Menu* menu) override;

    double length() const { return length_; }
    const std::shared_ptr<const Image>& image() const { return image_; }
    Menu* menu() const { return menu_; }

private:
    HeadlessPlatform& platform_;
    double length_;
    bool hasButton_;
    std::shared_ptr<const Image> image_;
    Menu* menu_ = nullptr;
};

}  // namespace platform::headless
