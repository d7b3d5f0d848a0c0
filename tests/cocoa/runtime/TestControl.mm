// The end-to-end tests' hands and eyes inside the program built on GNUstep: commands come one
// per line on standard input, are carried out on the main thread through AppKit's own
// objects, and each is answered on standard output, its last line "end".
//
//   state             the screens, the windows, the status item's menu as AppKit validates
//                     it, the colour panel, the activation policy, and how many of the
//                     program's windows are alive and have ever been made
//   choose TITLE      chooses the status menu's entry TITLE as a click would: AppKit updates
//                     the menu (validating every entry) and performs the entry's action
//   pick R G B        the colour panel takes a calibrated RGB colour and sends its action,
//                     as it does when the user picks one
//   constrain X Y W H what each window answers to constrainFrameRect:toScreen: for that
//                     rectangle on its screen

#include <string>

#include "tests/cocoa/runtime/StandIns.h"

// GNUstep's allocation counters (NSDebug.h declares them only in builds without NDEBUG).
extern "C" BOOL GSDebugAllocationActive(BOOL active);
extern "C" int GSDebugAllocationCount(Class cls);
extern "C" int GSDebugAllocationTotal(Class cls);

// What the panel does when the user picks a colour in it: it shows the colour and sends its
// action to its target, once.
@interface NSColorPanel (VellumorTestControl)
- (BOOL)vlm_userPicks:(NSColor*)color;
@end

@implementation NSColorPanel (VellumorTestControl)

- (BOOL)vlm_userPicks:(NSColor*)color {
    // GNUstep's setColor: sends the action itself while the panel is continuous.
    const BOOL continuous = _isContinuous;
    _isContinuous = NO;
    [self setColor:color];
    _isContinuous = continuous;
    return _action != nullptr && [NSApp sendAction:_action to:_target from:self];
}

@end

namespace {

void reply(NSString* line) {
    std::fputs([line UTF8String], stdout);
    std::fputc('\n', stdout);
}

NSString* describeRect(NSRect rect) {
    return [NSString stringWithFormat:@"%g,%g,%g,%g", rect.origin.x, rect.origin.y, rect.size.width,
                                      rect.size.height];
}

NSString* describeColor(NSColor* color) {
    NSColor* rgb = [color colorUsingColorSpaceName:NSCalibratedRGBColorSpace];
    if (rgb == nil) {
        return @"none";
    }
    return
        [NSString stringWithFormat:@"%.4f,%.4f,%.4f,%.4f", [rgb redComponent], [rgb greenComponent],
                                   [rgb blueComponent], [rgb alphaComponent]];
}

// The views in `view`'s tree, itself included.
NSUInteger viewCount(NSView* view) {
    NSUInteger count = 1;
    NSArray* subviews = [view subviews];
    for (NSUInteger index = 0; index < [subviews count]; ++index) {
        count += viewCount([subviews objectAtIndex:index]);
    }
    return count;
}

NSMenu* statusMenu() {
    const auto items = vellumor::gnustep::statusBarItems();
    return items.empty() ? nil : [items.front() menu];
}

void reportState() {
    reply([NSString stringWithFormat:@"policy %ld", static_cast<long>([NSApp activationPolicy])]);
    NSArray* screens = [NSScreen screens];
    for (NSUInteger index = 0; index < [screens count]; ++index) {
        reply([@"screen "
            stringByAppendingString:describeRect([[screens objectAtIndex:index] frame])]);
    }
    Class programWindow = NSClassFromString(@"VLMWindow");
    reply([NSString stringWithFormat:@"live %d %d", GSDebugAllocationCount(programWindow),
                                     GSDebugAllocationTotal(programWindow)]);
    NSArray* windows = [NSApp windows];
    for (NSUInteger index = 0; index < [windows count]; ++index) {
        NSWindow* window = [windows objectAtIndex:index];
        if (![window isKindOfClass:programWindow]) {
            continue;
        }
        reply([NSString
            stringWithFormat:@"window style=%lu visible=%d key=%d level=%ld behavior=%lu "
                             @"ignoresMouse=%d canBecomeKey=%d canBecomeMain=%d "
                             @"titlebarTransparent=%d movable=%d views=%lu frame=%@ color=%@",
                             static_cast<unsigned long>([window styleMask]),
                             [window isVisible] ? 1 : 0, [window isKeyWindow] ? 1 : 0,
                             static_cast<long>([window level]),
                             static_cast<unsigned long>([window collectionBehavior]),
                             [window ignoresMouseEvents] ? 1 : 0,
                             [window canBecomeKeyWindow] ? 1 : 0,
                             [window canBecomeMainWindow] ? 1 : 0,
                             [window titlebarAppearsTransparent] ? 1 : 0,
                             [window isMovableByWindowBackground] ? 1 : 0,
                             static_cast<unsigned long>(viewCount([window contentView])),
                             describeRect([window frame]),
                             describeColor([window backgroundColor])]);
    }
    const auto items = vellumor::gnustep::statusBarItems();
    reply([NSString stringWithFormat:@"statusitems %lu", static_cast<unsigned long>(items.size())]);
    if (NSMenu* menu = statusMenu()) {
        [menu update];
        for (NSInteger index = 0; index < [menu numberOfItems]; ++index) {
            NSMenuItem* entry = [menu itemAtIndex:index];
            if ([entry isSeparatorItem]) {
                reply(@"entry separator");
                continue;
            }
            reply([NSString stringWithFormat:@"entry enabled=%d key=\"%@\" action=%@ title=%@",
                                             [entry isEnabled] ? 1 : 0, [entry keyEquivalent],
                                             NSStringFromSelector([entry action]), [entry title]]);
        }
    }
    if ([NSColorPanel sharedColorPanelExists]) {
        NSColorPanel* panel = [NSColorPanel sharedColorPanel];
        reply([NSString stringWithFormat:@"panel visible=%d color=%@", [panel isVisible] ? 1 : 0,
                                         describeColor([panel color])]);
    }
}

NSString* choose(NSString* title) {
    NSMenu* menu = statusMenu();
    if (menu == nil) {
        return @"error no status menu";
    }
    [menu update];
    const NSInteger index = [menu indexOfItemWithTitle:title];
    if (index < 0) {
        return @"error no such entry";
    }
    if (![[menu itemAtIndex:index] isEnabled]) {
        return @"error disabled";
    }
    [menu performActionForItemAtIndex:index];
    return @"chosen";
}

NSString* pick(NSArray* words) {
    if ([words count] != 4) {
        return @"error usage: pick R G B";
    }
    NSColor* color = [NSColor colorWithCalibratedRed:[[words objectAtIndex:1] doubleValue]
                                               green:[[words objectAtIndex:2] doubleValue]
                                                blue:[[words objectAtIndex:3] doubleValue]
                                               alpha:1.0];
    return [[NSColorPanel sharedColorPanel] vlm_userPicks:color]
               ? @"picked"
               : @"error the action reached nobody";
}

void constrain(NSArray* words) {
    if ([words count] != 5) {
        reply(@"error usage: constrain X Y W H");
        return;
    }
    const NSRect proposed =
        NSMakeRect([[words objectAtIndex:1] doubleValue], [[words objectAtIndex:2] doubleValue],
                   [[words objectAtIndex:3] doubleValue], [[words objectAtIndex:4] doubleValue]);
    NSArray* windows = [NSApp windows];
    Class programWindow = NSClassFromString(@"VLMWindow");
    for (NSUInteger index = 0; index < [windows count]; ++index) {
        NSWindow* window = [windows objectAtIndex:index];
        if ([window isKindOfClass:programWindow]) {
            NSScreen* screen = [window screen] != nil ? [window screen] : [NSScreen mainScreen];
            reply([NSString stringWithFormat:@"constrained style=%lu frame=%@",
                                             static_cast<unsigned long>([window styleMask]),
                                             describeRect([window constrainFrameRect:proposed
                                                                            toScreen:screen])]);
        }
    }
}

void perform(NSString* line) {
    NSArray* words = [line componentsSeparatedByString:@" "];
    NSString* command = [words count] > 0 ? [words objectAtIndex:0] : @"";
    if ([command isEqualToString:@"state"]) {
        reportState();
    } else if ([command isEqualToString:@"choose"] && [line length] > 7) {
        reply(choose([line substringFromIndex:7]));
    } else if ([command isEqualToString:@"pick"]) {
        reply(pick(words));
    } else if ([command isEqualToString:@"constrain"]) {
        constrain(words);
    } else {
        reply([@"error unknown command: " stringByAppendingString:line]);
    }
    reply(@"end");
    std::fflush(stdout);
}

}  // namespace

@interface VLMTestControl : NSObject {
@private
    NSMutableData* _pending;
}
@end

@implementation VLMTestControl

+ (void)load {
    NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
    // Counts the program's windows as they are made and freed.
    GSDebugAllocationActive(YES);
    // Commands are taken once the program has launched: from then on it is what a user sees.
    [[NSNotificationCenter defaultCenter] addObserver:[[VLMTestControl alloc] init]
                                             selector:@selector(launched:)
                                                 name:NSApplicationDidFinishLaunchingNotification
                                               object:nil];
    [pool release];
}

- (id)init {
    self = [super init];
    if (self != nil) {
        _pending = [[NSMutableData alloc] init];
    }
    return self;
}

- (void)launched:(NSNotification*)notification {
    (void)notification;
    NSFileHandle* input = [NSFileHandle fileHandleWithStandardInput];
    [[NSNotificationCenter defaultCenter] addObserver:self
                                             selector:@selector(received:)
                                                 name:NSFileHandleReadCompletionNotification
                                               object:input];
    [input readInBackgroundAndNotify];
}

- (void)received:(NSNotification*)notification {
    NSData* data = [[notification userInfo] objectForKey:NSFileHandleNotificationDataItem];
    if ([data length] == 0) {
        return;  // The tests closed the channel.
    }
    [_pending appendData:data];
    for (;;) {
        const char* bytes = static_cast<const char*>([_pending bytes]);
        const std::string text(bytes, [_pending length]);
        const std::size_t end = text.find('\n');
        if (end == std::string::npos) {
            break;
        }
        [_pending replaceBytesInRange:NSMakeRange(0, end + 1) withBytes:nullptr length:0];
        @autoreleasepool {
            perform([NSString stringWithUTF8String:text.substr(0, end).c_str()]);
        }
    }
    [[notification object] readInBackgroundAndNotify];
}

@end
