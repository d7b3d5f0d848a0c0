#pragma once

// Objective-C++ only: the macOS backend, over AppKit, Foundation and CoreGraphics.

#include <memory>

#include "platform/cocoa/CocoaSupport.h"

// NSApp's delegate. It answers and delivers the selectors of the program's
// ApplicationDelegate (whichever is set when AppKit asks), so that status-menu entries without
// a target find it at the end of AppKit's responder chain; and it turns AppKit's launch
// message into Application::finishLaunching, from inside [NSApp run].
@interface VLMApplicationDelegate : VLMObjectForwarder <NSApplicationDelegate> {
@private
    platform::Application* _application;
}
- (id)initWithApplication:(platform::Application*)application;
// Cuts the link to the application object, which is going away.
- (void)detach;
@end

// Hands AppKit's display-change notice on to the program's notification centre.
@interface VLMScreenObserver : NSObject {
@private
    BOOL _attached;
}
- (void)screenParametersChanged:(NSNotification*)notification;
- (void)detach;
@end

namespace platform::cocoa {

// The integration of the layer with AppKit. It makes NSApp when made, and from then on
// follows AppKit's display-change notice.
class CocoaPlatform final : public PlatformIntegration {
public:
    CocoaPlatform();
    ~CocoaPlatform() override;
    CocoaPlatform(const CocoaPlatform&) = delete;
    CocoaPlatform& operator=(const CocoaPlatform&) = delete;

    void run(Application& app) override;
    bool setActivationPolicy(NSApplicationActivationPolicy policy) override;
    void activateIgnoringOtherApps() override;
    void terminate() override;
    std::shared_ptr<const Image> applicationIconImage() override;
    bool hasSystemSymbol(const std::string& name) override;
    Window* keyWindow() override;

    std::vector<Rect> screenFrames() override;
    std::int32_t windowLevelForKey(WindowLevelKey key) override;
    std::unique_ptr<PlatformWindow> createWindow(Window& owner, Rect contentRect) override;
    std::unique_ptr<PlatformStatusItem> createStatusItem(double length) override;
    PlatformColorPanel& colorPanel(ColorPanel& panel) override;

    std::optional<PropertyValue> defaultsObjectForKey(const std::string& key) override;
    void setDefaultsObject(const PropertyValue& value, const std::string& key) override;
    std::optional<Data> archiveColor(const Color& color, std::string* error) override;
    std::optional<Color> unarchiveColor(const Data& data, std::string* error) override;
    std::optional<PropertyValue> infoDictionaryValue(const std::string& key) override;

private:
    // Makes `app` the application that NSApp's delegate speaks for; run() does this before
    // it starts AppKit's loop.
    void attachApplication(Application& app);

    ObjcHandle<VLMApplicationDelegate> delegate_;
    ObjcHandle<VLMScreenObserver> screenObserver_;
    std::unique_ptr<PlatformColorPanel> colorPanel_;
};

}  // namespace platform::cocoa
