// Stands in for the system status bar, which GNUstep's AppKit 0.29 only declares
// (+[NSStatusBar systemStatusBar] answers nil there), and for -[NSStatusItem button]
// (macOS 10.10). As on macOS, the bar does not keep its items: an item the program lets go
// of leaves it. vellumorStatusItems holds them for the tests, oldest first.

#include <vector>

extern std::vector<NSStatusItem*> vellumorStatusItems;
std::vector<NSStatusItem*> vellumorStatusItems;

@interface VLMStandInStatusItem : NSStatusItem {
@private
    NSStatusBarButton* _button;
    NSMenu* _itemMenu;
}
@end

@implementation VLMStandInStatusItem
- (id)init {
    self = [super init];
    _button = [[NSStatusBarButton alloc] initWithFrame:NSMakeRect(0, 0, 22, 22)];
    vellumorStatusItems.push_back(self);
    return self;
}
- (void)dealloc {
    std::erase(vellumorStatusItems, self);
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
@end

#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wobjc-protocol-method-implementation"
@implementation NSStatusBar (VellumorStandIn)
+ (NSStatusBar*)systemStatusBar {
    static NSStatusBar* bar = [[NSStatusBar alloc] init];
    return bar;
}
- (NSStatusItem*)statusItemWithLength:(CGFloat)length {
    (void)length;
    return [[[VLMStandInStatusItem alloc] init] autorelease];
}
- (void)removeStatusItem:(NSStatusItem*)item {
    std::erase(vellumorStatusItems, item);
}
@end
#pragma clang diagnostic pop
