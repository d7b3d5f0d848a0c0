#pragma once

// Force-included (-include) when the cocoa backend is checked against GNUstep's AppKit and
// Foundation headers (gnustep-gui 0.29, gnustep-base 1.28) on a machine without macOS. It
// declares the macOS 11 API the backend uses that those headers lack, with the macOS SDK's
// names, types and values, and nothing else: a declaration of something GNUstep already has
// would hide a misspelling of it. Never compiled into the program.

#import <AppKit/AppKit.h>

#include <stdint.h>

// --- CoreGraphics (CGWindowLevel.h): the window server's named levels.
typedef int32_t CGWindowLevel;
enum CGWindowLevelKey : int32_t {
    kCGBaseWindowLevelKey = 0,
    kCGMinimumWindowLevelKey = 1,
    kCGDesktopWindowLevelKey = 2,
    kCGBackstopMenuLevelKey = 3,
    kCGNormalWindowLevelKey = 4,
    kCGFloatingWindowLevelKey = 5,
    kCGTornOffMenuWindowLevelKey = 6,
    kCGDockWindowLevelKey = 7,
    kCGMainMenuWindowLevelKey = 8,
    kCGStatusWindowLevelKey = 9,
    kCGModalPanelWindowLevelKey = 10,
    kCGPopUpMenuWindowLevelKey = 11,
    kCGDraggingWindowLevelKey = 12,
    kCGScreenSaverWindowLevelKey = 13,
    kCGMaximumWindowLevelKey = 14,
    kCGOverlayWindowLevelKey = 15,
    kCGHelpWindowLevelKey = 16,
    kCGUtilityWindowLevelKey = 17,
    kCGDesktopIconWindowLevelKey = 18,
    kCGCursorWindowLevelKey = 19,
    kCGAssistiveTechHighWindowLevelKey = 20,
};
extern "C" CGWindowLevel CGWindowLevelForKey(CGWindowLevelKey key);

// --- AppKit.

// NSApplication.h (macOS 10.6).
@interface NSApplication (VellumorMacOSShim)
- (BOOL)setActivationPolicy:(NSApplicationActivationPolicy)activationPolicy;
@end

// NSWindow.h (macOS 10.10).
@interface NSWindow (VellumorMacOSShim)
- (void)setTitlebarAppearsTransparent:(BOOL)titlebarAppearsTransparent;
@end

// NSStatusItem.h (macOS 10.10).
@interface NSStatusItem (VellumorMacOSShim)
- (NSStatusBarButton*)button;
@end

// NSMenu.h (macOS 10.6).
@interface NSMenu (VellumorMacOSShim)
- (void)removeAllItems;
@end

// NSColorSpace.h (macOS 10.5; the model names macOS 10.14).
@interface NSColorSpace (VellumorMacOSShim)
+ (NSColorSpace*)sRGBColorSpace;
@end
static const NSColorSpaceModel NSColorSpaceModelGray = NSGrayColorSpaceModel;
static const NSColorSpaceModel NSColorSpaceModelRGB = NSRGBColorSpaceModel;

// NSImage.h (macOS 11).
@interface NSImage (VellumorMacOSShim)
+ (NSImage*)imageWithSystemSymbolName:(NSString*)symbolName
             accessibilityDescription:(NSString*)description;
@end

// NSView.h (macOS 10.7).
@interface NSView (VellumorMacOSShim)
- (void)setTranslatesAutoresizingMaskIntoConstraints:(BOOL)translates;
@end

// NSTextField.h (macOS 10.12).
@interface NSTextField (VellumorMacOSShim)
+ (NSTextField*)labelWithString:(NSString*)stringValue;
@end

// NSFont.h (macOS 10.11).
@interface NSFont (VellumorMacOSShim)
+ (NSFont*)systemFontOfSize:(CGFloat)fontSize weight:(CGFloat)weight;
@end

// NSStackView.h (macOS 10.9).
@interface NSStackView : NSView
- (void)setOrientation:(NSUserInterfaceLayoutOrientation)orientation;
- (void)setAlignment:(NSLayoutAttribute)alignment;
- (void)setSpacing:(CGFloat)spacing;
- (void)addArrangedSubview:(NSView*)view;
@end

// NSVisualEffectView.h (macOS 10.11 and 10.14).
enum {
    NSVisualEffectMaterialWindowBackground = 12,
    NSVisualEffectMaterialHUDWindow = 13,
};

// --- Foundation.

// NSKeyedArchiver.h (macOS 10.13).
@interface NSKeyedUnarchiver (VellumorMacOSShim)
+ (id)unarchivedObjectOfClass:(Class)cls fromData:(NSData*)data error:(NSError**)error;
@end
