#include "platform/headless/HeadlessPlatform.h"

#include <algorithm>

#include "platform/ColorPanel.h"
#include "platform/NotificationCenter.h"
#include "platform/common/KeyedArchive.h"
#include "platform/common/WindowLevels.h"
#include "platform/headless/HeadlessWindow.h"

namespace platform::headless {

namespace {
// The height the window system gives a title bar, added to a titled window's content.
constexpr double kTitleBarHeight = 28.0;

bool contains(const Rect& rect, Point point) {
    return point.x >= rect.x && point.x < rect.x + rect.width && point.y >= rect.y &&
           point.y < rect.y + rect.height;
}

// The program's windows behind `windows`, in the same order.
std::vector<Window*> owners(const std::vector<HeadlessWindow*>& windows) {
    std::vector<Window*> result;
    result.reserve(windows.size());
    for (HeadlessWindow* window : windows) {
        result.push_back(&window->owner());
    }
    return result;
}
}  // namespace

// The shared colour panel: shown or not, and the colour it shows.
class HeadlessColorPanel final : public PlatformColorPanel {
public:
    HeadlessColorPanel(HeadlessPlatform& platform, ColorPanel& panel)
        : platform_(platform), panel_(panel) {}
    void setColor(const Color& color) override {
        platform_.record("colorPanel setColor");
        shown_ = color;
    }
    void orderFront() override {
        platform_.record("colorPanel orderFront");
        visible_ = true;
    }
    bool isVisible() const override { return visible_; }

    // A user's pick: the panel shows it and reports it.
    void pick(const Color& color) {
        shown_ = color;
        panel_.userDidPickColor(color);
    }
    const std::optional<Color>& shown() const { return shown_; }

private:
    HeadlessPlatform& platform_;
    ColorPanel& panel_;
    bool visible_ = false;
    std::optional<Color> shown_;
};

HeadlessPlatform::HeadlessPlatform(std::filesystem::path defaultsDirectory,
                                   std::vector<Rect> screens)
    : screens_(std::move(screens)),
      defaults_(std::move(defaultsDirectory) / "org.vellumor.Vellumor.plist") {}

HeadlessPlatform::~HeadlessPlatform() = default;

// --- Displays -------------------------------------------------------------------------------

void HeadlessPlatform::setScreens(std::vector<Rect> frames) {
    screens_ = std::move(frames);
    postScreenParametersChanged();
}

void HeadlessPlatform::attachScreen(Rect frame) {
    screens_.push_back(frame);
    postScreenParametersChanged();
}

void HeadlessPlatform::postScreenParametersChanged() {
    record("screens changed");
    NotificationCenter::defaultCenter().postNotificationName(
        NSApplicationDidChangeScreenParametersNotification, nullptr);
}

// --- Windows --------------------------------------------------------------------------------

std::unique_ptr<PlatformWindow> HeadlessPlatform::createWindow(Window& owner, Rect contentRect) {
    Rect frame = contentRect;
    if ((owner.styleMask() & NSWindowStyleMaskTitled) != 0) {
        frame.height += kTitleBarHeight;
    }
    auto window = std::make_unique<HeadlessWindow>(*this, owner, frame, ++created_);
    record("createWindow #" + std::to_string(window->number()));
    windows_.push_back(window.get());
    return window;
}

void HeadlessPlatform::windowDestroyed(HeadlessWindow* window) {
    ++destroyed_;
    removeFromStack(window);
    std::erase(windows_, window);
}

void HeadlessPlatform::removeFromStack(HeadlessWindow* window) {
    std::erase(stack_, window);
    if (key_ == window) {
        key_ = nullptr;
    }
    if (main_ == window) {
        main_ = nullptr;
    }
}

void HeadlessPlatform::bringToFront(HeadlessWindow* window) {
    std::erase(stack_, window);
    // In front of every shown window of the same or a lower level, behind the higher ones.
    const auto position = std::find_if(stack_.begin(), stack_.end(), [&](HeadlessWindow* other) {
        return other->owner().level() <= window->owner().level();
    });
    stack_.insert(position, window);
}

std::vector<Window*> HeadlessPlatform::windows() const {
    return owners(windows_);
}

std::vector<Window*> HeadlessPlatform::windowsFrontToBack() const {
    return owners(stack_);
}

std::size_t HeadlessPlatform::windowNumber(const Window& window) const {
    return static_cast<const HeadlessWindow&>(window.platformWindow()).number();
}

bool HeadlessPlatform::isClosed(const Window& window) const {
    return static_cast<const HeadlessWindow&>(window.platformWindow()).isClosed();
}

Window* HeadlessPlatform::keyWindow() {
    return key_ ? &key_->owner() : nullptr;
}

Window* HeadlessPlatform::mainWindow() const {
    return main_ ? &main_->owner() : nullptr;
}

ClickResult HeadlessPlatform::click(Point point) {
    for (HeadlessWindow* window : stack_) {
        Window& owner = window->owner();
        if (owner.ignoresMouseEvents() || !contains(window->frame(), point)) {
            continue;
        }
        record("click #" + std::to_string(window->number()));
        if (owner.canBecomeKey()) {
            key_ = window;
        }
        if (owner.canBecomeMain()) {
            main_ = window;
        }
        return {&owner, false};
    }
    return {nullptr, true};
}

bool HeadlessPlatform::dragWindow(Window& window, Point origin) {
    const bool titled = (window.styleMask() & NSWindowStyleMaskTitled) != 0;
    if (!titled && !window.isMovableByWindowBackground()) {
        return false;
    }
    auto& headless = static_cast<HeadlessWindow&>(window.platformWindow());
    const Rect frame = headless.frame();
    headless.place({origin.x, origin.y, frame.width, frame.height});
    return true;
}

void HeadlessPlatform::clickCloseButton(Window& window) {
    const auto style = window.styleMask();
    if ((style & NSWindowStyleMaskTitled) != 0 && (style & NSWindowStyleMaskClosable) != 0) {
        window.close();
    }
}

// --- Status bar -----------------------------------------------------------------------------

HeadlessStatusItem::HeadlessStatusItem(HeadlessPlatform& platform, double length, bool hasButton)
    : platform_(platform), length_(length), hasButton_(hasButton) {
    platform_.statusItems_.push_back(this);
}

HeadlessStatusItem::~HeadlessStatusItem() {
    std::erase(platform_.statusItems_, this);
}

void HeadlessStatusItem::setImage(const std::shared_ptr<const Image>& image) {
    platform_.record("statusItem setImage");
    image_ = image;
}

void HeadlessStatusItem::setMenu(Menu* menu) {
    platform_.record("statusItem setMenu");
    menu_ = menu;
}

std::unique_ptr<PlatformStatusItem> HeadlessPlatform::createStatusItem(double length) {
    record("statusItemWithLength " + std::to_string(length));
    if (statusBarUnavailable_) {
        return nullptr;
    }
    return std::make_unique<HeadlessStatusItem>(*this, length, !statusItemsWithoutButton_);
}

std::vector<HeadlessStatusItem*> HeadlessPlatform::statusItems() const {
    return statusItems_;
}

bool HeadlessPlatform::chooseStatusMenuEntry(const std::string& title) {
    if (statusItems_.empty() || statusItems_.front()->menu() == nullptr || terminated_) {
        return false;
    }
    Menu& menu = *statusItems_.front()->menu();
    const auto& items = menu.itemArray();
    for (std::size_t index = 0; index < items.size(); ++index) {
        if (!items[index]->isSeparatorItem() && items[index]->title() == title) {
            return menu.performActionForItemAtIndex(index);
        }
    }
    return false;
}

// --- Colour panel ---------------------------------------------------------------------------

PlatformColorPanel& HeadlessPlatform::colorPanel(ColorPanel& panel) {
    if (!colorPanel_) {
        colorPanel_ = std::make_unique<HeadlessColorPanel>(*this, panel);
    }
    return *colorPanel_;
}

bool HeadlessPlatform::colorPanelVisible() const {
    return colorPanel_ && colorPanel_->isVisible();
}

std::optional<Color> HeadlessPlatform::colorPanelShownColor() const {
    return colorPanel_ ? colorPanel_->shown() : std::nullopt;
}

void HeadlessPlatform::pickColorInPanel(const Color& color) {
    if (colorPanelVisible() && !terminated_) {
        colorPanel_->pick(color);
    }
}

void HeadlessPlatform::dragColorInPanel(const std::vector<Color>& colors) {
    for (const Color& color : colors) {
        pickColorInPanel(color);
    }
}

// --- Application ----------------------------------------------------------------------------

void HeadlessPlatform::run(Application& app) {
    record("run");
    // The in-memory loop has no events of its own: it delivers the launch message and then
    // idles out, returning to the test, which delivers every later event itself.
    app.finishLaunching();
}

bool HeadlessPlatform::setActivationPolicy(NSApplicationActivationPolicy policy) {
    record("setActivationPolicy " + std::to_string(static_cast<int>(policy)));
    policy_ = policy;
    return true;
}

void HeadlessPlatform::activateIgnoringOtherApps() {
    record("activateIgnoringOtherApps");
    active_ = true;
}

void HeadlessPlatform::activateOtherApplication() {
    active_ = false;
    key_ = nullptr;
    main_ = nullptr;
}

void HeadlessPlatform::terminate() {
    record("terminate");
    terminated_ = true;
    // The process ends next; nothing written may be left to a power cut.
    defaults_.sync();
    defaultsSync_.synced();
}

bool HeadlessPlatform::hasSystemSymbol(const std::string& name) {
    return !missingSymbols_.contains(name);
}

void HeadlessPlatform::setSystemSymbolAvailable(const std::string& name, bool available) {
    if (available) {
        missingSymbols_.erase(name);
    } else {
        missingSymbols_.insert(name);
    }
}

std::int32_t HeadlessPlatform::windowLevelForKey(WindowLevelKey key) {
    return common::windowLevelForKey(key);
}

void HeadlessPlatform::setInfoDictionaryValue(const std::string& key,
                                              std::optional<PropertyValue> value) {
    if (value) {
        info_[key] = std::move(*value);
    } else {
        info_.erase(key);
    }
}

std::optional<PropertyValue> HeadlessPlatform::infoDictionaryValue(const std::string& key) {
    const auto found = info_.find(key);
    return found == info_.end() ? std::nullopt : std::optional<PropertyValue>(found->second);
}

// --- Defaults and archiving -----------------------------------------------------------------

std::filesystem::path HeadlessPlatform::defaultsFilePath() const {
    return defaults_.path();
}

std::optional<PropertyValue> HeadlessPlatform::defaultsObjectForKey(const std::string& key) {
    return defaults_.objectForKey(key);
}

void HeadlessPlatform::setDefaultsObject(const PropertyValue& value, const std::string& key) {
    record("defaults setObject " + key);
    defaults_.setObject(value, key);
    if (defaults_.needsSync()) {
        defaultsSync_.wrote(now_);
    }
}

void HeadlessPlatform::advanceTime(std::chrono::milliseconds duration) {
    now_ += duration;
    if (const auto due = defaultsSync_.due(); due && *due <= now_) {
        defaults_.sync();
        defaultsSync_.synced();
    }
}

std::optional<Data> HeadlessPlatform::archiveColor(const Color& color, std::string* error) {
    return common::archiveColor(color, error);
}

std::optional<Color> HeadlessPlatform::unarchiveColor(const Data& data, std::string* error) {
    return common::unarchiveColor(data, error);
}

std::optional<std::size_t> HeadlessPlatform::journalIndex(const std::string& prefix) const {
    for (std::size_t index = 0; index < journal_.size(); ++index) {
        if (journal_[index].rfind(prefix, 0) == 0) {
            return index;
        }
    }
    return std::nullopt;
}

}  // namespace platform::headless
