#pragma once

// The interface a backend implements: the public classes of this layer forward to it. Only
// backends and the layer's own sources include this header; main/ never does.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Application.h"
#include "platform/Color.h"
#include "platform/ColorPanel.h"
#include "platform/Geometry.h"
#include "platform/Image.h"
#include "platform/Menu.h"
#include "platform/PropertyValue.h"
#include "platform/Window.h"
#include "platform/WindowLevel.h"

namespace platform {

// The backend's window behind one Window. The Window keeps its settings and tells the
// platform window of each change; the platform window owns whatever the window system has.
class PlatformWindow {
public:
    virtual ~PlatformWindow() = default;
    // The window's frame as the window system has it now.
    virtual Rect frame() const = 0;
    // Applies a new background colour and redraws.
    virtual void backgroundColorChanged() = 0;
    // Applies a new stacking level.
    virtual void levelChanged() = 0;
    // Applies a new collection behaviour.
    virtual void collectionBehaviorChanged() = 0;
    // Applies whether mouse events pass through.
    virtual void ignoresMouseEventsChanged() = 0;
    // Applies title, title-bar transparency and movability.
    virtual void decorationChanged() = 0;
    // The window has a new content view to draw when shown.
    virtual void contentViewChanged() = 0;
    // A view was added to the content view's tree, or constraints among its views were
    // activated; the tree is drawn as it is now. Nothing to do for a backend that reads the
    // tree when it shows the window.
    virtual void contentTreeChanged() {}
    // Shows the window in front of its level; takes focus only when `makeKey` and the
    // window can become key.
    virtual void orderFront(bool makeKey) = 0;
    // Hides the window, keeping it.
    virtual void orderOut() = 0;
    // Whether the window is on screen.
    virtual bool isVisible() const = 0;
    // Removes the window from the screen for good.
    virtual void close() = 0;
    // Moves the window so that it is centred on the screen.
    virtual void center() = 0;
    // Where the window system itself would place a window of `styleMask` proposed at
    // `frameRect` on `screen` (null: none); what a Window answers unless a subclass overrides
    // constrainFrameRect. By default a titled window is moved down until its top is on the
    // screen, so that its title bar stays reachable.
    virtual Rect constrainFrameRect(Rect frameRect, const Screen* screen,
                                    std::uint64_t styleMask) const;
};

// The backend's side of the status item.
class PlatformStatusItem {
public:
    virtual ~PlatformStatusItem() = default;
    // Whether the item has a button to show an image on.
    virtual bool hasButton() const = 0;
    // Shows `image` on the button (null: none).
    virtual void setImage(const std::shared_ptr<const Image>& image) = 0;
    // A click on the item now opens `menu` (null: none); the menu outlives this call.
    virtual void setMenu(Menu* menu) = 0;
};

// The backend's side of the shared colour panel.
class PlatformColorPanel {
public:
    virtual ~PlatformColorPanel() = default;
    // Shows `color` as the current choice without reporting it as a pick.
    virtual void setColor(const Color& color) = 0;
    // Shows the panel in front.
    virtual void orderFront() = 0;
    // Whether the panel is on screen.
    virtual bool isVisible() const = 0;
};

// One backend: the window system and frameworks the program runs on.
class PlatformIntegration {
public:
    virtual ~PlatformIntegration() = default;

    // Runs the event loop; calls app.finishLaunching() from inside it once launching is done.
    virtual void run(Application& app) = 0;
    // Sets the program's presence on the desktop; whether it was set.
    virtual bool setActivationPolicy(NSApplicationActivationPolicy policy) = 0;
    // Brings the program to the front.
    virtual void activateIgnoringOtherApps() = 0;
    // Ends the program.
    virtual void terminate() = 0;
    // The program's icon, or null.
    virtual std::shared_ptr<const Image> applicationIconImage() = 0;
    // Whether the system has a symbol image of this name.
    virtual bool hasSystemSymbol(const std::string& name) = 0;
    // The window that has keyboard focus, or null.
    virtual Window* keyWindow() = 0;

    // The attached displays' frames, primary first.
    virtual std::vector<Rect> screenFrames() = 0;
    // The window system's number for a named level.
    virtual std::int32_t windowLevelForKey(WindowLevelKey key) = 0;
    // The platform window behind `owner`, made with the owner's content rectangle.
    virtual std::unique_ptr<PlatformWindow> createWindow(Window& owner, Rect contentRect) = 0;
    // A new item in the status bar or tray, or null when there is no place for one.
    virtual std::unique_ptr<PlatformStatusItem> createStatusItem(double length) = 0;
    // The backend side of the one colour panel, made on first use; it reports picks through
    // `panel.userDidPickColor`.
    virtual PlatformColorPanel& colorPanel(ColorPanel& panel) = 0;

    // The stored value under `key` in the program's defaults, or nothing.
    virtual std::optional<PropertyValue> defaultsObjectForKey(const std::string& key) = 0;
    // Stores `value` under `key` in the program's defaults, at once.
    virtual void setDefaultsObject(const PropertyValue& value, const std::string& key) = 0;
    // A keyed archive of `color`, or nothing with a reason.
    virtual std::optional<Data> archiveColor(const Color& color, std::string* error) = 0;
    // The colour at the root of a keyed archive, or nothing with a reason.
    virtual std::optional<Color> unarchiveColor(const Data& data, std::string* error) = 0;
    // The value under `key` in the program's bundle information, or nothing.
    virtual std::optional<PropertyValue> infoDictionaryValue(const std::string& key) = 0;

    // Told of layer operations that never reach the backend otherwise (observer
    // registrations, posts), so that a backend may keep a record; ignored by default.
    virtual void trace(const std::string& /*event*/) {}
};

// Makes `integration` the backend of the process, with a fresh set of the layer's shared
// objects (application, notification centre, colour panel...); null removes the backend and
// those objects. Nothing made on the old backend may be used afterwards.
void installPlatformIntegration(std::unique_ptr<PlatformIntegration> integration);

// The backend of the process; the build's default backend is installed on first use.
PlatformIntegration& platformIntegration();

// The build's default backend, defined by the backend the program links.
std::unique_ptr<PlatformIntegration> createDefaultPlatformIntegration();

}  // namespace platform
