// Stores a colour as GNUstep itself would: a calibrated RGB NSColor archived by GNUstep's own
// NSKeyedArchiver, under "selectedBackgroundColor" in the standard user defaults of the
// domain named on the command line.
//
// Usage: gnustep-store-color DOMAIN RED GREEN BLUE

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fputs("usage: gnustep-store-color DOMAIN RED GREEN BLUE\n", stderr);
        return 2;
    }
    @autoreleasepool {
        NSColor* color = [NSColor colorWithCalibratedRed:std::atof(argv[2])
                                                   green:std::atof(argv[3])
                                                    blue:std::atof(argv[4])
                                                   alpha:1.0];
        NSData* archive = [NSKeyedArchiver archivedDataWithRootObject:color];
        NSUserDefaults* defaults = [NSUserDefaults standardUserDefaults];
        NSMutableDictionary* domain = [NSMutableDictionary dictionary];
        [domain setObject:archive forKey:@"selectedBackgroundColor"];
        [defaults setPersistentDomain:domain forName:[NSString stringWithUTF8String:argv[1]]];
        return [defaults synchronize] ? 0 : 1;
    }
}
