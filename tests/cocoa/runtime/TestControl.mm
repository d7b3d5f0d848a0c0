// The tests' hands and eyes inside the program built on GNUstep: commands on standard input,
// one a line, taken on the main run loop once the program has launched and carried out
// through AppKit's own objects, each answered in one line on standard output.
//
//   state         its items joined by "; ": "policy P"; "live N M", the program's windows
//                 alive now and ever made; "screen FRAME" for each screen; "window ..." for
//                 each of the program's windows, with its colour in calibrated RGB and the
//                 frame it answers to constrainFrameRect:toScreen: for a rectangle far below
//                 the screen; "entry TITLE ACTION ENABLED" (or "entry -") for each status menu
//                 entry, as AppKit validates it
//   choose TITLE  the status menu's entry TITLE, validated and performed as a click would:
//                 "chosen"
//   pick R G B    the colour panel takes a calibrated RGB colour and sends its action, as
//                 when the user picks one: "picked"

#include <cstdio>
#include <iomanip>
#include <iostream>

#pragma clang diagnostic ignored "-Wunused-parameter"

// What the stand-ins keep for the tests.
extern NSStatusItem* vellumorStatusItem;
extern NSApplicationActivationPolicy vellumorActivationPolicy;
// GNUstep's allocation counters (NSDebug.h declares them only in builds without NDEBUG).
extern "C" BOOL GSDebugAllocationActive(BOOL active);
extern "C" int GSDebugAllocationCount(Class cls);
extern "C" int GSDebugAllocationTotal(Class cls);

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

std::ostream& operator<<(std::ostream& out, NSRect rect) {
    return out << rect.origin.x << ',' << rect.origin.y << ',' << rect.size.width << ','
               << rect.size.height;
}

std::ostream& operator<<(std::ostream& out, NSColor* color) {
    NSColor* rgb = [color colorUsingColorSpaceName:NSCalibratedRGBColorSpace];
    return out << std::fixed << std::setprecision(3) << [rgb redComponent] << ','
               << [rgb greenComponent] << ',' << [rgb blueComponent] << std::defaultfloat
               << std::setprecision(6);
}

void state(NSMenu* menu) {
    Class programWindow = NSClassFromString(@"VLMWindow");
    std::cout << "policy " << vellumorActivationPolicy << "; live "
              << GSDebugAllocationCount(programWindow) << ' '
              << GSDebugAllocationTotal(programWindow);
    for (NSScreen* screen in [NSScreen screens]) {
        std::cout << "; screen " << [screen frame];
    }
    // BOOLs are signed chars here: unary plus prints them as numbers.
    for (NSWindow* window in [NSApp windows]) {
        if ([window isKindOfClass:programWindow]) {
            NSScreen* screen = [window screen] != nil ? [window screen] : [NSScreen mainScreen];
            std::cout << "; window style=" << [window styleMask]
                      << " visible=" << +[window isVisible] << " key=" << +[window isKeyWindow]
                      << " level=" << [window level] << " behavior=" << [window collectionBehavior]
                      << " canBecomeKey=" << +[window canBecomeKeyWindow]
                      << " canBecomeMain=" << +[window canBecomeMainWindow]
                      << " ignoresMouse=" << +[window ignoresMouseEvents] << " color=" <<
                [window backgroundColor] << " frame=" << [window frame] << " constrained=" <<
                [window constrainFrameRect:NSMakeRect(100, -5000, 300, 320) toScreen:screen];
        }
    }
    for (NSMenuItem* entry in [menu itemArray]) {
        if ([entry isSeparatorItem]) {
            std::cout << "; entry -";
        } else {
            std::cout << "; entry " << [[entry title] UTF8String] << ' ' <<
                [NSStringFromSelector([entry action]) UTF8String] << ' ' << +[entry isEnabled];
        }
    }
}

// Carries out one command and answers it.
void perform(NSString* line) {
    NSMenu* menu = [vellumorStatusItem menu];
    [menu update];
    const NSInteger entry =
        [line hasPrefix:@"choose "] ? [menu indexOfItemWithTitle:[line substringFromIndex:7]] : -1;
    double red = 0, green = 0, blue = 0;
    if ([line isEqualToString:@"state"]) {
        state(menu);
    } else if (entry >= 0 && [[menu itemAtIndex:entry] isEnabled]) {
        [menu performActionForItemAtIndex:entry];
        std::cout << "chosen";
    } else if (std::sscanf([line UTF8String], "pick %lf %lf %lf", &red, &green, &blue) == 3) {
        NSColor* color = [NSColor colorWithCalibratedRed:red green:green blue:blue alpha:1.0];
        std::cout << ([[NSColorPanel sharedColorPanel] vlm_userPicks:color] ? "picked"
                                                                            : "unpicked");
    } else {
        std::cout << "error: " << [line UTF8String];
    }
    std::cout << std::endl;
}

}  // namespace

@interface VLMTestControl : NSObject
@end

@implementation VLMTestControl

+ (void)load {
    NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
    GSDebugAllocationActive(YES);
    NSNotificationCenter* center = [NSNotificationCenter defaultCenter];
    [center addObserver:self
               selector:@selector(launched:)
                   name:NSApplicationDidFinishLaunchingNotification
                 object:nil];
    [center addObserver:self
               selector:@selector(read:)
                   name:NSFileHandleReadCompletionNotification
                 object:nil];
    [pool release];
}

+ (void)launched:(NSNotification*)notification {
    [[NSFileHandle fileHandleWithStandardInput] readInBackgroundAndNotify];
}

// What came on standard input, a line or more; nothing once it is closed.
+ (void)read:(NSNotification*)notification {
    @autoreleasepool {
        NSData* data = [[notification userInfo] objectForKey:NSFileHandleNotificationDataItem];
        NSString* text = [[[NSString alloc] initWithData:data
                                                encoding:NSUTF8StringEncoding] autorelease];
        for (NSString* line in [text componentsSeparatedByString:@"\n"]) {
            if ([line length] > 0) {
                perform(line);
            }
        }
        if ([data length] > 0) {
            [[notification object] readInBackgroundAndNotify];
        }
    }
}

@end
