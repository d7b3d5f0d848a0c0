// Stands in for the system status bar, which GNUstep's AppKit 0.29 only declares
// (+[NSStatusBar systemStatusBar] answers nil there), and for -[NSStatusItem button]
// (macOS 10.10). As on macOS, the status bar does not keep its items: whoever asked for an
// item holds it, and an item the program lets go of leaves the bar. The items' menus are what
// a click on the item would open; StandIns.h lets the tests reach them.

#include "tests/cocoa/runtime/StandIns.h"

#include <algorithm>
#include <vector>

namespace {
// The bar's items, in the order they were made; not retained.
std::vector<NSStatusItem*> items;

void forget(NSStatusItem* item) {
    items.erase(std::remove(items.begin(), items.end(), item), items.end());
}
}  // namespace

@interface VLMStandInStatusItem : NSStatusItem {
@private
    NSStatusBarButton* _button;
    NSMenu* _itemMenu;
    CGFloat _itemLength;
}
- (id)initWithLength:(CGFloat)length;
@end

@implementation VLMStandInStatusItem

- (id)initWithLength:(CGFloat)length {
    self = [super init];
    if (self != nil) {
        _itemLength = length;
        _button = [[NSStatusBarButton alloc] initWithFrame:NSMakeRect(0, 0, 22, 22)];
        items.push_back(self);
    }
    return self;
}

- (void)dealloc {
    forget(self);
    [_button release];
    [_itemMenu release];
    [super dealloc];
}

- (NSStatusBarButton*)button {
    return _button;
}

- (void)setMenu:(NSMenu*)menu {
    [menu retain];
    [_itemMenu release];
    _itemMenu = menu;
}

- (NSMenu*)menu {
    return _itemMenu;
}

- (CGFloat)length {
    return _itemLength;
}

@end

@interface VLMStandInStatusBar : NSStatusBar
@end

@implementation VLMStandInStatusBar

- (NSStatusItem*)statusItemWithLength:(CGFloat)length {
    return [[[VLMStandInStatusItem alloc] initWithLength:length] autorelease];
}

- (void)removeStatusItem:(NSStatusItem*)item {
    forget(item);
}

- (BOOL)isVertical {
    return NO;
}

- (CGFloat)thickness {
    return 22.0;
}

@end

// GNUstep's own +systemStatusBar gives nil; the stand-in bar takes its place.
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wobjc-protocol-method-implementation"
@implementation NSStatusBar (VellumorStandIn)

+ (NSStatusBar*)systemStatusBar {
    static VLMStandInStatusBar* bar = [[VLMStandInStatusBar alloc] init];
    return bar;
}

@end
#pragma clang diagnostic pop

namespace vellumor::gnustep {

std::vector<NSStatusItem*> statusBarItems() {
    return items;
}

}  // namespace vellumor::gnustep
