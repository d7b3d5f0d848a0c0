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

class GnustepInterop : public ::testing::Test {
    NSAutoreleasePool* pool_ = [NSAutoreleasePool new];

protected:
    ~GnustepInterop() override { [pool_ release]; }
};

// A colour in a space of its own has no GNUstep archive to compare with: macOS reads it in
// that space, but GNUstep keeps no colour spaces in archives and takes the calibrated RGB
// fallback, which a reader without the space needs.
TEST_F(GnustepInterop, ColoursReadBackEqualEachWay) {
    const Color custom = Color::colorWithCustomSpace({0.9, 0.4, 0.1, 0.6}, 7, {});
    const struct {
        Color ours;
        NSColor* theirs;
        NSString* space;
        std::vector<double> gnustepReads = {};  // when not the components themselves
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
        {custom,
         nil,
         NSCalibratedRGBColorSpace,
         {custom.displayRed(), custom.displayGreen(), custom.displayBlue(), 0.6}},
    };
    for (const auto& sample : samples) {
        SCOPED_TRACE([sample.space UTF8String]);
        for (NSPropertyListFormat format :
             {NSPropertyListBinaryFormat_v1_0, NSPropertyListXMLFormat_v1_0}) {
            if (sample.theirs == nil) {
                break;
            }
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

        const auto archive = platform::common::archiveColor(sample.ours);
        ASSERT_TRUE(archive.has_value());
        NSColor* color = [NSKeyedUnarchiver
            unarchiveObjectWithData:[NSData dataWithBytes:archive->data() length:archive->size()]];
        ASSERT_TRUE([color isKindOfClass:[NSColor class]]);
        EXPECT_TRUE([[color colorSpaceName] isEqualToString:sample.space]);
        std::vector<CGFloat> components(static_cast<std::size_t>([color numberOfComponents]));
        [color getComponents:components.data()];
        EXPECT_THAT(components, Pointwise(DoubleNear(1e-9), sample.gnustepReads.empty()
                                                                ? sample.ours.components()
                                                                : sample.gnustepReads));
    }
}

}  // namespace
