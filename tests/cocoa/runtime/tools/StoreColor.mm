// Stores a colour as GNUstep itself would: a calibrated RGB NSColor archived by GNUstep's own
// NSKeyedArchiver, under "selectedBackgroundColor" in the standard user defaults of the
// domain named on the command line. With TEXT in place of the components, the archive's root
// object is that string instead: an archive that holds no colour.
//
// Usage: gnustep-store-color DOMAIN RED GREEN BLUE
//        gnustep-store-color DOMAIN TEXT

#include <cstdlib>

int main(int argc, char** argv) {
    @autoreleasepool {
        id root = argc == 5 ? [NSColor colorWithCalibratedRed:std::atof(argv[2])
                                                        green:std::atof(argv[3])
                                                         blue:std::atof(argv[4])
                                                        alpha:1.0]
                            : [NSString stringWithUTF8String:argv[argc - 1]];
        NSUserDefaults* defaults = [NSUserDefaults standardUserDefaults];
        [defaults setPersistentDomain:[NSDictionary
                                          dictionaryWithObject:[NSKeyedArchiver
                                                                   archivedDataWithRootObject:root]
                                                        forKey:@"selectedBackgroundColor"]
                              forName:[NSString stringWithUTF8String:argv[1]]];
        return [defaults synchronize] ? 0 : 1;
    }
}
