// Stores a colour as GNUstep itself would: a calibrated RGB NSColor archived by GNUstep's own
// NSKeyedArchiver, under "selectedBackgroundColor" in the standard user defaults of the
// domain named on the command line. With TEXT in place of the components, the archive's root
// object is that string instead: an archive that holds no colour.
//
// Usage: gnustep-store-color DOMAIN RED GREEN BLUE
//        gnustep-store-color DOMAIN TEXT

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 5 && argc != 3) {
        std::fputs("usage: gnustep-store-color DOMAIN (RED GREEN BLUE | TEXT)\n", stderr);
        return 2;
    }
    @autoreleasepool {
        id root = nil;
        if (argc == 5) {
            root = [NSColor colorWithCalibratedRed:std::atof(argv[2])
                                             green:std::atof(argv[3])
                                              blue:std::atof(argv[4])
                                             alpha:1.0];
        } else {
            root = [NSString stringWithUTF8String:argv[2]];
        }
        NSData* archive = [NSKeyedArchiver archivedDataWithRootObject:root];
        NSUserDefaults* defaults = [NSUserDefaults standardUserDefaults];
        NSMutableDictionary* domain = [NSMutableDictionary dictionary];
        [domain setObject:archive forKey:@"selectedBackgroundColor"];
        [defaults setPersistentDomain:domain forName:[NSString stringWithUTF8String:argv[1]]];
        return [defaults synchronize] ? 0 : 1;
    }
}
