// Archives and unarchives NSColor with GNUstep's Foundation and AppKit, an implementation of
// NSKeyedArchiver and NSColor written independently of ours, so that the interop test can
// compare the two. No display is needed: colours and keyed archives are plain objects.
//
//   gnustep_colors write FILE binary|xml SPACE COMPONENT... ALPHA
//       archives a colour made in SPACE (calibrated-rgb, device-rgb, calibrated-white,
//       device-white) and prints what GNUstep reads back from FILE
//   gnustep_colors read FILE
//       prints the colour GNUstep reads from FILE: its space name, then its components
//       and alpha with 17 significant digits; exits 1 when FILE holds no colour

#import <AppKit/AppKit.h>
#import <Foundation/Foundation.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int printColor(NSColor* color) {
    if (color == nil || ![color isKindOfClass:[NSColor class]]) {
        fprintf(stderr, "no colour\n");
        return 1;
    }
    NSString* space = [color colorSpaceName];
    if ([space isEqualToString:NSCalibratedRGBColorSpace] ||
        [space isEqualToString:NSDeviceRGBColorSpace]) {
        CGFloat r, g, b, a;
        [color getRed:&r green:&g blue:&b alpha:&a];
        printf("%s %.17g %.17g %.17g %.17g\n", [space UTF8String], (double)r, (double)g, (double)b,
               (double)a);
        return 0;
    }
    if ([space isEqualToString:NSCalibratedWhiteColorSpace] ||
        [space isEqualToString:NSDeviceWhiteColorSpace]) {
        CGFloat w, a;
        [color getWhite:&w alpha:&a];
        printf("%s %.17g %.17g\n", [space UTF8String], (double)w, (double)a);
        return 0;
    }
    printf("%s\n", [space UTF8String]);
    return 0;
}

static NSColor* readColor(NSString* path) {
    NSData* data = [NSData dataWithContentsOfFile:path];
    if (data == nil) {
        return nil;
    }
    id object = nil;
    NS_DURING
    object = [NSKeyedUnarchiver unarchiveObjectWithData:data];
    NS_HANDLER
    fprintf(stderr, "unarchiving raised %s\n", [[localException reason] UTF8String]);
    object = nil;
    NS_ENDHANDLER
    return object;
}

static NSColor* makeColor(const char* space, int count, char** values) {
    double v[4] = {0, 0, 0, 0};
    int i;
    for (i = 0; i < count && i < 4; ++i) {
        v[i] = strtod(values[i], NULL);
    }
    if (strcmp(space, "calibrated-rgb") == 0 && count == 4) {
        return [NSColor colorWithCalibratedRed:v[0] green:v[1] blue:v[2] alpha:v[3]];
    }
    if (strcmp(space, "device-rgb") == 0 && count == 4) {
        return [NSColor colorWithDeviceRed:v[0] green:v[1] blue:v[2] alpha:v[3]];
    }
    if (strcmp(space, "calibrated-white") == 0 && count == 2) {
        return [NSColor colorWithCalibratedWhite:v[0] alpha:v[1]];
    }
    if (strcmp(space, "device-white") == 0 && count == 2) {
        return [NSColor colorWithDeviceWhite:v[0] alpha:v[1]];
    }
    return nil;
}

int main(int argc, char** argv) {
    NSAutoreleasePool* pool = [NSAutoreleasePool new];
    int status = 2;
    if (argc == 3 && strcmp(argv[1], "read") == 0) {
        status = printColor(readColor([NSString stringWithUTF8String:argv[2]]));
    } else if (argc >= 6 && strcmp(argv[1], "write") == 0) {
        NSColor* color = makeColor(argv[4], argc - 5, argv + 5);
        if (color == nil) {
            fprintf(stderr, "unknown space or wrong number of components\n");
        } else {
            NSMutableData* data = [NSMutableData data];
            NSKeyedArchiver* archiver =
                [[NSKeyedArchiver alloc] initForWritingWithMutableData:data];
            [archiver setOutputFormat:strcmp(argv[3], "xml") == 0
                                          ? NSPropertyListXMLFormat_v1_0
                                          : NSPropertyListBinaryFormat_v1_0];
            [archiver encodeObject:color forKey:@"root"];
            [archiver finishEncoding];
            [archiver release];
            NSString* path = [NSString stringWithUTF8String:argv[2]];
            status = [data writeToFile:path atomically:NO] ? printColor(readColor(path)) : 1;
        }
    } else {
        fprintf(stderr, "usage: %s write FILE binary|xml SPACE COMPONENT... ALPHA | read FILE\n",
                argv[0]);
    }
    [pool release];
    return status;
}
