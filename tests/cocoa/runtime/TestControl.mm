// The tests' hands and eyes inside the program built on GNUstep: one command a line on
// standard input, carried out on the main thread through AppKit's own objects, each answered
// on standard output up to a line "end".
//
//   state         "policy P"; "live N M", the program's windows alive now and ever made;
//                 "screen FRAME" for each screen; "window ..." for each of the program's
//                 windows, with its colour in calibrated RGB and the frame it answers to
//                 constrainFrameRect:toScreen: for a rectangle far below the screen; "entry TITLE
//                 ACTION ENABLED" (or "entry -") for each status menu entry, as AppKit validates it
//   choose TITLE  the status menu's entry TITLE, validated and performed as a click would
//   pick R G B    the colour panel takes a calibrated RGB colour and sends its action, as
//                 when the user picks one

#include <iostream>
#include <string>
#include <vector>

#pragma clang diagnostic ignored "-Wunused-parameter"

// What the stand-ins keep for the tests.
extern std::vector<NSStatusItem*> vellumorStatusItems;
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

void reply(NSString* line) {
    std::cout << [line UTF8String] << "\n";
}

NSString* describe(NSRect rect) {
    return [NSString stringWithFormat:@"%g,%g,%g,%g", rect.origin.x, rect.origin.y, rect.size.width,
                                      rect.size.height];
}

NSString* describe(NSColor* color) {
    NSColor* rgb = [color colorUsingColorSpaceName:NSCalibratedRGBColorSpace];
    return [NSString stringWithFormat:@"%.3f,%.3f,%.3f", [rgb redComponent], [rgb greenComponent],
                                      [rgb blueComponent]];
}

void reportState(NSMenu* menu) {
    reply([NSString stringWithFormat:@"policy %ld", static_cast<long>(vellumorActivationPolicy)]);
    Class programWindow = NSClassFromString(@"VLMWindow");
    reply([NSString stringWithFormat:@"live %d %d", GSDebugAllocationCount(programWindow),
                                     GSDebugAllocationTotal(programWindow)]);
    for (NSScreen* screen in [NSScreen screens]) {
        reply([@"screen " stringByAppendingString:describe([screen frame])]);
    }
    for (NSWindow* window in [NSApp windows]) {
        if ([window isKindOfClass:programWindow]) {
            NSScreen* screen = [window screen] != nil ? [window screen] : [NSScreen mainScreen];
            reply([NSString
                stringWithFormat:@"window style=%lu visible=%d key=%d level=%ld behavior=%lu "
                                 @"canBecomeKey=%d canBecomeMain=%d ignoresMouse=%d color=%@ "
                                 @"frame=%@ constrained=%@",
                                 static_cast<unsigned long>([window styleMask]), [window isVisible],
                                 [window isKeyWindow], static_cast<long>([window level]),
                                 static_cast<unsigned long>([window collectionBehavior]),
                                 [window canBecomeKeyWindow], [window canBecomeMainWindow],
                                 [window ignoresMouseEvents], describe([window backgroundColor]),
                                 describe([window frame]),
                                 describe([window
                                     constrainFrameRect:NSMakeRect(100, -5000, 300, 320)
                                               toScreen:screen])]);
        }
    }
    for (NSMenuItem* entry in [menu itemArray]) {
        reply([entry isSeparatorItem]
                  ? @"entry -"
                  : [NSString stringWithFormat:@"entry %@ %@ %d", [entry title],
                                               NSStringFromSelector([entry action]),
                                               [entry isEnabled]]);
    }
}

}  // namespace

@interface VLMTestControl : NSObject
@end

@implementation VLMTestControl

+ (void)load {
    NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
    GSDebugAllocationActive(YES);
    // Commands are taken once the program has launched.
    [[NSNotificationCenter defaultCenter] addObserver:self
                                             selector:@selector(launched:)
                                                 name:NSApplicationDidFinishLaunchingNotification
                                               object:nil];
    [pool release];
}

+ (void)launched:(NSNotification*)notification {
    [NSThread detachNewThreadSelector:@selector(listen:) toTarget:self withObject:nil];
}

// On its own thread: each line read is carried out on the main thread.
+ (void)listen:(id)unused {
    for (std::string line; std::getline(std::cin, line);) {
        @autoreleasepool {
            [self performSelectorOnMainThread:@selector(perform:)
                                   withObject:[NSString stringWithUTF8String:line.c_str()]
                                waitUntilDone:YES];
        }
    }
}

+ (void)perform:(NSString*)line {
    @autoreleasepool {
        NSMenu* menu = vellumorStatusItems.empty() ? nil : [vellumorStatusItems.front() menu];
        [menu update];
        NSArray* words = [line componentsSeparatedByString:@" "];
        const NSInteger entry = [line hasPrefix:@"choose "]
                                    ? [menu indexOfItemWithTitle:[line substringFromIndex:7]]
                                    : -1;
        if ([line isEqualToString:@"state"]) {
            reportState(menu);
        } else if (entry >= 0 && [[menu itemAtIndex:entry] isEnabled]) {
            [menu performActionForItemAtIndex:entry];
            reply(@"chosen");
        } else if ([line hasPrefix:@"pick "] && [words count] == 4) {
            NSColor* color = [NSColor colorWithCalibratedRed:[[words objectAtIndex:1] doubleValue]
                                                       green:[[words objectAtIndex:2] doubleValue]
                                                        blue:[[words objectAtIndex:3] doubleValue]
                                                       alpha:1.0];
            reply([[NSColorPanel sharedColorPanel] vlm_userPicks:color] ? @"picked" : @"unpicked");
        } else {
            reply([@"error: " stringByAppendingString:line]);
        }
        std::cout << "end" << std::endl;
    }
}

@end
