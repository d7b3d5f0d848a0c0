// Colours archived by GNUstep's NSKeyedArchiver, written independently of ours and of macOS,
// read back equal with our unarchiver, and ours read back equal in GNUstep. Where the two
// are known to differ, the test says so and holds us to macOS.

#import <AppKit/AppKit.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "platform/common/KeyedArchive.h"

// The Objective-C runtime and GNUstep keep their class tables and caches until the process
// ends; LeakSanitizer is to report only what the archiver leaks.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libobjc.so\nleak:libgnustep-base.so\nleak:libgnustep-gui.so\n";
}

namespace {

using platform::Color;
using ::testing::DoubleNear;
using ::testing::Pointwise;

// The components and alpha GNUstep holds for `color`, in the order of its space.
std::vector<double> componentsOf(NSColor* color) {
    std::vector<CGFloat> components(static_cast<std::size_t>([color numberOfComponents]));
    [color getComponents:components.data()];
    return {components.begin(), components.end()};
}

// The colour GNUstep reads from our archive of `color`, or nil.
NSColor* gnustepRead(const Color& color) {
    const auto archive = platform::common::archiveColor(color);
    id object =
        archive ? [NSKeyedUnarchiver unarchiveObjectWithData:[NSData dataWithBytes:archive->data()
                                                                            length:archive->size()]]
                : nil;
    return [object isKindOfClass:[NSColor class]] ? object : nil;
}

class GnustepInterop : public ::testing::Test {
    NSAutoreleasePool* pool_ = [NSAutoreleasePool new];

protected:
    ~GnustepInterop() override { [pool_ release]; }
};

TEST_F(GnustepInterop, ColoursReadBackEqualEachWay) {
    const struct {
        Color ours;
        NSColor* theirs;
        NSString* space;
    } samples[] = {
        {Color::colorWithCalibratedRed(0.1, 0.25, 0.9, 0.5),
         [NSColor colorWithCalibratedRed:0.1 green:0.25 blue:0.9 alpha:0.5],
         NSCalibratedRGBColorSpace},
        {Color::colorWithDeviceRed(0.123456789, 0.9876, 1.0 / 3.0, 1.0),
         [NSColor colorWithDeviceRed:0.123456789 green:0.9876 blue:1.0 / 3.0 alpha:1.0],
         NSDeviceRGBColorSpace},
        {Color::colorWithCalibratedWhite(0.4, 0.3),
         [NSColor colorWithCalibratedWhite:0.4 alpha:0.3], NSCalibratedWhiteColorSpace},
        {Color::colorWithDeviceWhite(2.0 / 3.0, 1.0),
         [NSColor colorWithDeviceWhite:2.0 / 3.0 alpha:1.0], NSDeviceWhiteColorSpace},
    };
    for (const auto& sample : samples) {
        SCOPED_TRACE([sample.space UTF8String]);
        for (NSPropertyListFormat format :
             {NSPropertyListBinaryFormat_v1_0, NSPropertyListXMLFormat_v1_0}) {
            NSMutableData* data = [NSMutableData data];
            NSKeyedArchiver* archiver =
                [[[NSKeyedArchiver alloc] initForWritingWithMutableData:data] autorelease];
            [archiver setOutputFormat:format];
            [archiver encodeObject:sample.theirs forKey:@"root"];
            [archiver finishEncoding];
            const auto* bytes = static_cast<const std::uint8_t*>([data bytes]);
            std::string error;
            const auto read = platform::common::unarchiveColor(
                platform::Data(bytes, bytes + [data length]), &error);
            ASSERT_TRUE(read.has_value()) << error;
            EXPECT_EQ(read->colorSpaceModel(), sample.ours.colorSpaceModel());
            // GNUstep writes six significant digits ("%g") where macOS writes ten.
            EXPECT_THAT(read->components(), Pointwise(DoubleNear(5e-6), sample.ours.components()));
        }

        NSColor* color = gnustepRead(sample.ours);
        ASSERT_NE(color, nil);
        EXPECT_TRUE([[color colorSpaceName] isEqualToString:sample.space]);
        EXPECT_THAT(componentsOf(color), Pointwise(DoubleNear(1e-9), sample.ours.components()));
    }
}

// macOS reads a colour in a space of its own in that space; GNUstep keeps no colour spaces in
// archives and takes the calibrated RGB fallback, which a reader without the space needs.
TEST_F(GnustepInterop, ColourInASpaceOfItsOwnReadsAsItsRgbFallbackInGnustep) {
    const Color custom = Color::colorWithCustomSpace({0.9, 0.4, 0.1, 0.6}, 7, {});
    NSColor* color = gnustepRead(custom);
    ASSERT_NE(color, nil);
    EXPECT_TRUE([[color colorSpaceName] isEqualToString:NSCalibratedRGBColorSpace]);
    EXPECT_THAT(componentsOf(color),
                Pointwise(DoubleNear(1e-9),
                          {custom.displayRed(), custom.displayGreen(), custom.displayBlue(), 0.6}));
}

}  // namespace
