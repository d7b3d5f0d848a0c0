// Stand-ins for the AppKit API of macOS 10.6 to 11 that the backend calls and GNUstep's
#include "tests/cocoa/runtime/StandIns.h"

// AppKit 0.29 lacks. Each behaves as Apple documents it, within what GNUstep can show; where
// GNUstep has no machinery for an effect (auto layout, title-bar transparency) the setting is
// kept, so that it can be read back, and changes nothing on screen.

#include <unordered_map>
#include <unordered_set>

namespace {
// Settings kept for objects that GNUstep has no instance variable for, by object address.
std::unordered_map<const void*, NSApplicationActivationPolicy> activationPolicies;
std::unordered_set<const void*> transparentTitlebars;
std::unordered_set<const void*> viewsPlacedByConstraintsAlone;

bool contains(const std::unordered_set<const void*>& set, const void* object) {
    return set.find(object) != set.end();
}
}  // namespace

// -[NSApplication setActivationPolicy:] (macOS 10.6): only a regular or an accessory program
// may be set; a prohibited one cannot be chosen once the program runs.
@implementation NSApplication (VellumorMacOSShim)

- (BOOL)setActivationPolicy:(NSApplicationActivationPolicy)activationPolicy {
    if (activationPolicy != NSApplicationActivationPolicyRegular &&
        activationPolicy != NSApplicationActivationPolicyAccessory) {
        return NO;
    }
    activationPolicies[self] = activationPolicy;
    return YES;
}

- (NSApplicationActivationPolicy)activationPolicy {
    const auto found = activationPolicies.find(self);
    return found != activationPolicies.end() ? found->second : NSApplicationActivationPolicyRegular;
}

@end

// -[NSWindow setTitlebarAppearsTransparent:] (macOS 10.10).
@implementation NSWindow (VellumorMacOSShim)

- (void)setTitlebarAppearsTransparent:(BOOL)titlebarAppearsTransparent {
    if (titlebarAppearsTransparent) {
        transparentTitlebars.insert(self);
    } else {
        transparentTitlebars.erase(self);
    }
}

- (BOOL)titlebarAppearsTransparent {
    return contains(transparentTitlebars, self) ? YES : NO;
}

@end

// -[NSMenu removeAllItems] (macOS 10.6).
@implementation NSMenu (VellumorMacOSShim)

- (void)removeAllItems {
    while ([self numberOfItems] > 0) {
        [self removeItemAtIndex:[self numberOfItems] - 1];
    }
}

@end

// -[NSView setTranslatesAutoresizingMaskIntoConstraints:] (macOS 10.7). GNUstep lays views
// out by their autoresizing masks alone; the flag is kept for reading back.
@implementation NSView (VellumorMacOSShim)

- (void)setTranslatesAutoresizingMaskIntoConstraints:(BOOL)translates {
    if (translates) {
        viewsPlacedByConstraintsAlone.erase(self);
    } else {
        viewsPlacedByConstraintsAlone.insert(self);
    }
}

- (BOOL)translatesAutoresizingMaskIntoConstraints {
    return contains(viewsPlacedByConstraintsAlone, self) ? NO : YES;
}

@end

// +[NSTextField labelWithString:] (macOS 10.12): a static label that takes the size of its
// text: not editable, not selectable, no bezel, border or background.
@implementation NSTextField (VellumorMacOSShim)

+ (NSTextField*)labelWithString:(NSString*)stringValue {
    NSTextField* label = [[[NSTextField alloc] initWithFrame:NSZeroRect] autorelease];
    [label setStringValue:stringValue];
    [label setEditable:NO];
    [label setSelectable:NO];
    [label setBezeled:NO];
    [label setBordered:NO];
    [label setDrawsBackground:NO];
    [label sizeToFit];
    return label;
}

@end

// +[NSFont systemFontOfSize:weight:] (macOS 10.11): GNUstep has a regular and a bold system
// font; weights from semibold up are drawn bold.
@implementation NSFont (VellumorMacOSShim)

+ (NSFont*)systemFontOfSize:(CGFloat)fontSize weight:(CGFloat)weight {
    constexpr CGFloat semibold = 0.3;
    return weight >= semibold ? [NSFont boldSystemFontOfSize:fontSize]
                              : [NSFont systemFontOfSize:fontSize];
}

@end

// +[NSColorSpace sRGBColorSpace] (macOS 10.5). GNUstep keeps no colour profiles; its
// calibrated RGB space is the nearest it has.
@implementation NSColorSpace (VellumorMacOSShim)

+ (NSColorSpace*)sRGBColorSpace {
    return [NSColorSpace genericRGBColorSpace];
}

@end
