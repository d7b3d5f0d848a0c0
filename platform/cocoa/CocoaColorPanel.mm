#include "platform/ColorPanel.h"
#include "platform/cocoa/CocoaSupport.h"

// The one target of NSColorPanel's action. The panel's target and action that the program
// sets live in the C++ ColorPanel; AppKit only ever reports picks here, and they go on from
// ColorPanel::userDidPickColor.
@interface VLMColorPanelTarget : NSObject {
@private
    platform::ColorPanel* _panel;
    BOOL _settingColor;
}
- (id)initWithPanel:(platform::ColorPanel*)panel;
- (void)colorPanelDidPick:(id)sender;
- (void)setSettingColor:(BOOL)settingColor;
- (void)detach;
@end

@implementation VLMColorPanelTarget

- (id)initWithPanel:(platform::ColorPanel*)panel {
    self = [super init];
    if (self != nil) {
        _panel = panel;
    }
    return self;
}

- (void)colorPanelDidPick:(id)sender {
    @autoreleasepool {
        if (_panel == nullptr || _settingColor || ![sender isKindOfClass:[NSColorPanel class]]) {
            return;
        }
        _panel->userDidPickColor(
            platform::cocoa::colorFromNative([static_cast<NSColorPanel*>(sender) color]));
    }
}

- (void)setSettingColor:(BOOL)settingColor {
    _settingColor = settingColor;
}

- (void)detach {
    _panel = nullptr;
}

@end

namespace platform::cocoa {

namespace {

class CocoaColorPanel final : public PlatformColorPanel {
public:
    explicit CocoaColorPanel(ColorPanel& panel) {
        @autoreleasepool {
            target_ = ObjcHandle<VLMColorPanelTarget>::adopt(
                [[VLMColorPanelTarget alloc] initWithPanel:&panel]);
            // NSColorPanel does not keep its target; target_ does.
            NSColorPanel* shared = [NSColorPanel sharedColorPanel];
            [shared setTarget:target_.get()];
            [shared setAction:@selector(colorPanelDidPick:)];
        }
    }

    CocoaColorPanel(const CocoaColorPanel&) = delete;
    CocoaColorPanel& operator=(const CocoaColorPanel&) = delete;

    ~CocoaColorPanel() override {
        @autoreleasepool {
            // The panel outlives the backend; nothing it sends from now on may come here.
            NSColorPanel* shared = [NSColorPanel sharedColorPanel];
            [shared setTarget:nil];
            [shared setAction:nullptr];
            [target_.get() detach];
        }
    }

    void setColor(const Color& color) override {
        @autoreleasepool {
            // AppKit (macOS 11 and later) may send the panel's action from inside setColor:;
            // a colour the program sets is not the user's pick, so it is not reported.
            [target_.get() setSettingColor:YES];
            [[NSColorPanel sharedColorPanel] setColor:nativeColor(color)];
            [target_.get() setSettingColor:NO];
        }
    }

    void orderFront() override {
        @autoreleasepool {
            [[NSColorPanel sharedColorPanel] orderFront:nil];
        }
    }

    bool isVisible() const override { return [[NSColorPanel sharedColorPanel] isVisible] == YES; }

private:
    ObjcHandle<VLMColorPanelTarget> target_;
};

}  // namespace

std::unique_ptr<PlatformColorPanel> makeColorPanel(ColorPanel& panel) {
    return std::make_unique<CocoaColorPanel>(panel);
}

}  // namespace platform::cocoa
