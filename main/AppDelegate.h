#pragma once

#include <memory>
#include <vector>

#include "main/OverlayWindow.h"
#include "platform/Application.h"
#include "platform/StatusBar.h"
#include "platform/Window.h"

namespace vellumor {

// The application delegate: it owns everything that lasts (the status item, the overlays,
// the About window) and implements every command of the status menu.
class AppDelegate final : public platform::ApplicationDelegate {
public:
    AppDelegate();

    // The program's item in the status bar, once launched (absent where the desktop has no
    // place for one).
    platform::StatusItem* statusItem() const { return statusItem_.get(); }
    // One overlay per display, in the order of the display list.
    const std::vector<std::unique_ptr<OverlayWindow>>& overlayWindows() const {
        return overlayWindows_;
    }

    // The About window, once it has been opened.
    platform::Window* aboutWindowController() const { return aboutWindowController_.get(); }

    // Launching has finished: build the status menu, cover the displays, become an accessory
    // program and follow display changes.
    void applicationDidFinishLaunching(platform::Object* notification);
    // "About Vellumor": shows the About window, made on first use and reused afterwards.
    void openAbout();
    // "Pick Color...": opens the colour panel on the stored colour, aimed at this delegate.
    void pickColor();
    // The colour panel reports a picked colour: it becomes the overlay colour.
    void colorPanelAction(platform::Object* sender);
    // "Toggle Show/Hide": each overlay flips between shown and hidden on its own.
    void toggleVisibility();
    // "Quit": ends the program. The colour was stored when it was picked.
    void quitApp();
    // The displays were attached, detached, resized or rearranged.
    void screenConfigurationChanged();

private:
    void setupStatusMenu();
    void setupOverlays();

    std::unique_ptr<platform::StatusItem> statusItem_;
    std::vector<std::unique_ptr<OverlayWindow>> overlayWindows_;
    std::unique_ptr<platform::Window> aboutWindowController_;
};

}  // namespace vellumor
