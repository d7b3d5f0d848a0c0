#include "main/AppDelegate.h"

#include "main/AboutWindow.h"
#include "main/ColorManager.h"
#include "platform/ColorPanel.h"
#include "platform/Image.h"
#include "platform/Menu.h"
#include "platform/NotificationCenter.h"
#include "platform/Screen.h"

namespace vellumor {

using namespace platform;

AppDelegate::AppDelegate() {
    addMethod("applicationDidFinishLaunching:",
              [this](Object* notification) { applicationDidFinishLaunching(notification); });
    addMethod("openAbout", [this](Object*) { openAbout(); });
    addMethod("pickColor", [this](Object*) { pickColor(); });
    addMethod("colorPanelAction:", [this](Object* sender) { colorPanelAction(sender); });
    addMethod("toggleVisibility", [this](Object*) { toggleVisibility(); });
    addMethod("quitApp", [this](Object*) { quitApp(); });
    addMethod("screenConfigurationChanged", [this](Object*) { screenConfigurationChanged(); });
}

void AppDelegate::applicationDidFinishLaunching(Object* /*notification*/) {
    setupStatusMenu();
    setupOverlays();
    Application::sharedApplication().setActivationPolicy(
        NSApplicationActivationPolicy::NSApplicationActivationPolicyAccessory);
    NotificationCenter::defaultCenter().addObserver(
        *this, "screenConfigurationChanged", NSApplicationDidChangeScreenParametersNotification,
        nullptr);
}

void AppDelegate::setupStatusMenu() {
    statusItem_ = StatusBar::systemStatusBar().statusItemWithLength(NSVariableStatusItemLength);
    // A desktop without a status bar gives no item; the overlays still work without it.
    if (!statusItem_) {
        return;
    }
    if (StatusBarButton* button = statusItem_->button()) {
        button->setImage(
            Image::imageWithSystemSymbolName("square.fill.on.square.fill", "Vellumor"));
    }

    auto menu = std::make_unique<Menu>();
    menu->addItemWithTitle("About Vellumor", "openAbout", "");
    menu->addItem(MenuItem::separatorItem());
    menu->addItemWithTitle("Pick Color...", "pickColor", "");
    menu->addItemWithTitle("Toggle Show/Hide", "toggleVisibility", "");
    menu->addItem(MenuItem::separatorItem());
    menu->addItemWithTitle("Quit", "quitApp", "");
    statusItem_->setMenu(std::move(menu));
}

void AppDelegate::openAbout() {
    // Activation comes first, so that the window, new or not, opens in front of other
    // programs' windows and takes the keyboard.
    Application::sharedApplication().activateIgnoringOtherApps(true);
    if (!aboutWindowController_) {
        aboutWindowController_ = std::make_unique<AboutWindow>();
    }
    aboutWindowController_->makeKeyAndOrderFront(nullptr);
}

void AppDelegate::pickColor() {
    ColorPanel& panel = ColorPanel::sharedColorPanel();
    panel.setColor(ColorManager::shared().currentColor());
    panel.setTarget(this);
    panel.setAction("colorPanelAction:");
    panel.orderFront(nullptr);
    Application::sharedApplication().activateIgnoringOtherApps(true);
}

void AppDelegate::colorPanelAction(Object* sender) {
    // Only the colour panel sends this action; anything else carries no colour to take.
    const auto* panel = dynamic_cast<const ColorPanel*>(sender);
    if (panel == nullptr) {
        return;
    }
    ColorManager::shared().setCurrentColor(panel->color());
}

void AppDelegate::toggleVisibility() {
    for (const auto& overlay : overlayWindows_) {
        if (overlay->isVisible()) {
            overlay->orderOut(nullptr);
        } else {
            overlay->orderFront(nullptr);
        }
    }
}

void AppDelegate::quitApp() {
    Application::sharedApplication().terminate(nullptr);
}

void AppDelegate::screenConfigurationChanged() {
    setupOverlays();
}

void AppDelegate::setupOverlays() {
    // Every rebuild starts from scratch: old overlays are closed, never reused, so a display
    // that changed in any way gets a fresh overlay of its new frame.
    for (const auto& overlay : overlayWindows_) {
        overlay->close();
    }
    overlayWindows_.clear();

    for (const Screen& screen : Screen::screens()) {
        auto overlay = std::make_unique<OverlayWindow>(screen);
        overlay->orderFront(nullptr);
        overlayWindows_.push_back(std::move(overlay));
    }
}

}  // namespace vellumor
