// Stand-ins for the macOS API (AppKit 10.6 to 11, CoreGraphics, Foundation 10.13) that the
// backend calls and GNUstep lacks, as Apple documents them within what GNUstep can show.
// Where GNUstep has no machinery for an effect (auto layout, title-bar transparency, stack
// layout) the call does nothing on screen.

#include <climits>
#include <unordered_map>

// Stand-ins take what the macOS calls take, used or not.
#pragma clang diagnostic ignored "-Wunused-parameter"

// The window server's level for the desktop icons, as macOS numbers it; others are unused.
extern "C" CGWindowLevel CGWindowLevelForKey(CGWindowLevelKey key) {
    return key == kCGDesktopIconWindowLevelKey ? INT_MIN + 42 : 0;
}

// The program's activation policy and latest status item, for the tests to read.
extern NSApplicationActivationPolicy vellumorActivationPolicy;
NSApplicationActivationPolicy vellumorActivationPolicy = NSApplicationActivationPolicyRegular;
extern NSStatusItem* vellumorStatusItem;
NSStatusItem* vellumorStatusItem = nil;

namespace {
// GNUstep declares a window's collection behaviour but keeps none; here it is kept, for
// reading back, by window address.
std::unordered_map<const void*, NSWindowCollectionBehavior> collectionBehaviors;
}  // namespace

// Stands in for the system status bar, which GNUstep's AppKit 0.29 only declares
// (+[NSStatusBar systemStatusBar] answers nil there), and for -[NSStatusItem button]
// (macOS 10.10). As on macOS, the bar does not keep its items: an item the program lets go
// of leaves it.
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
    vellumorStatusItem = self;
    return self;
}
- (void)dealloc {
    [[NSStatusBar systemStatusBar] removeStatusItem:self];
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

@implementation NSApplication (VellumorMacOSShim)
- (BOOL)setActivationPolicy:(NSApplicationActivationPolicy)policy {
    vellumorActivationPolicy = policy;
    return YES;
}
@end

#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wobjc-protocol-method-implementation"
@implementation NSWindow (VellumorMacOSShim)
- (void)setTitlebarAppearsTransparent:(BOOL)transparent {
}
- (void)setCollectionBehavior:(NSWindowCollectionBehavior)behavior {
    collectionBehaviors[self] = behavior;
}
- (NSWindowCollectionBehavior)collectionBehavior {
    const auto found = collectionBehaviors.find(self);
    return found != collectionBehaviors.end() ? found->second : 0;
}
@end
@implementation NSStatusBar (VellumorStandIn)
+ (NSStatusBar*)systemStatusBar {
    static NSStatusBar* bar = [[NSStatusBar alloc] init];
    return bar;
}
- (NSStatusItem*)statusItemWithLength:(CGFloat)length {
    return [[[VLMStandInStatusItem alloc] init] autorelease];
}
- (void)removeStatusItem:(NSStatusItem*)item {
    if (vellumorStatusItem == item) {
        vellumorStatusItem = nil;
    }
}
@end
#pragma clang diagnostic pop

@implementation NSMenu (VellumorMacOSShim)
- (void)removeAllItems {
    while ([self numberOfItems] > 0) {
        [self removeItemAtIndex:0];
    }
}
@end

@implementation NSView (VellumorMacOSShim)
- (void)setTranslatesAutoresizingMaskIntoConstraints:(BOOL)translates {
}
@end

@implementation NSTextField (VellumorMacOSShim)
+ (NSTextField*)labelWithString:(NSString*)stringValue {
    NSTextField* label = [[[NSTextField alloc] initWithFrame:NSZeroRect] autorelease];
    [label setStringValue:stringValue];
    [label setEditable:NO];
    [label setSelectable:NO];
    [label sizeToFit];
    return label;
}
@end

@implementation NSFont (VellumorMacOSShim)
+ (NSFont*)systemFontOfSize:(CGFloat)fontSize weight:(CGFloat)weight {
    return weight >= 0.3 ? [NSFont boldSystemFontOfSize:fontSize]
                         : [NSFont systemFontOfSize:fontSize];
}
@end

@implementation NSColorSpace (VellumorMacOSShim)
+ (NSColorSpace*)sRGBColorSpace {
    return [NSColorSpace genericRGBColorSpace];
}
@end

// The symbols the program asks for are blank images; a name macOS does not know gives nil.
@implementation NSImage (VellumorMacOSShim)
+ (NSImage*)imageWithSystemSymbolName:(NSString*)name accessibilityDescription:(NSString*)text {
    const BOOL known =
        [name isEqualToString:@"square.fill.on.square.fill"] || [name isEqualToString:@"app.fill"];
    return known ? [[[NSImage alloc] initWithSize:NSMakeSize(18, 18)] autorelease] : nil;
}
@end

// The arranged views are plain subviews, left where they are.
@implementation NSStackView
- (void)setOrientation:(NSUserInterfaceLayoutOrientation)orientation {
}
- (void)setAlignment:(NSLayoutAttribute)alignment {
}
- (void)setSpacing:(CGFloat)spacing {
}
- (void)addArrangedSubview:(NSView*)view {
    [self addSubview:view];
}
@end

// As on macOS, it never throws: data that is no keyed archive, or whose root is not of the
// class asked for, gives nil and an error.
@implementation NSKeyedUnarchiver (VellumorMacOSShim)
+ (id)unarchivedObjectOfClass:(Class)cls fromData:(NSData*)data error:(NSError**)error {
    id root = nil;
    @try {
        root = [NSKeyedUnarchiver unarchiveObjectWithData:data];
    } @catch (NSException* exception) {
        (void)exception;
    }
    if (error != nullptr && ![root isKindOfClass:cls]) {
        *error = [NSError errorWithDomain:NSCocoaErrorDomain code:4864 userInfo:nil];
    }
    return [root isKindOfClass:cls] ? root : nil;
}
@end
