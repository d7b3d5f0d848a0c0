// Colours archived by GNUstep's NSKeyedArchiver, written independently of ours and of macOS,
// read back equal with our unarchiver, and ours read back equal in GNUstep. Where the two
// are known to differ, the test says so and holds us to macOS.

#import <AppKit/AppKit.h>
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
using platform::ColorSpaceModel;

struct Sample {
    Color ours;
    NSColor* theirs;
    NSString* space;
};

std::vector<Sample> samples() {
    return {
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
}

// The components and alpha GNUstep holds for `color`, in the order of its space.
std::vector<double> componentsOf(NSColor* color) {
    std::vector<CGFloat> components(static_cast<std::size_t>([color numberOfComponents]));
    [color getComponents:components.data()];
    return {components.begin(), components.end()};
}

NSColor* gnustepRead(const platform::Data& archive) {
    id object = [NSKeyedUnarchiver unarchiveObjectWithData:[NSData dataWithBytes:archive.data()
                                                                          length:archive.size()]];
    return [object isKindOfClass:[NSColor class]] ? object : nil;
}

void expectNear(const std::vector<double>& actual, const std::vector<double>& expected,
                double tolerance) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        EXPECT_NEAR(actual[i], expected[i], tolerance) << "component " << i;
    }
}

class GnustepInterop : public ::testing::Test {
    NSAutoreleasePool* pool_ = [NSAutoreleasePool new];

protected:
    ~GnustepInterop() override { [pool_ release]; }
};

TEST_F(GnustepInterop, ColoursReadBackEqualEachWay) {
    for (const Sample& sample : samples()) {
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
            expectNear(read->components(), sample.ours.components(), 5e-6);
        }

        const auto archive = platform::common::archiveColor(sample.ours);
        ASSERT_TRUE(archive.has_value());
        NSColor* color = gnustepRead(*archive);
        ASSERT_NE(color, nil);
        EXPECT_TRUE([[color colorSpaceName] isEqualToString:sample.space]);
        expectNear(componentsOf(color), sample.ours.components(), 1e-9);  // ten digits kept
    }
}

// macOS reads a colour in a space of its own in that space; GNUstep keeps no colour spaces in
// archives and takes the calibrated RGB fallback, which a reader without the space needs.
TEST_F(GnustepInterop, ColourInASpaceOfItsOwnReadsAsItsRgbFallbackInGnustep) {
    const Color custom = Color::colorWithCustomSpace({0.9, 0.4, 0.1, 0.6}, 7, {});
    const auto archive = platform::common::archiveColor(custom);
    ASSERT_TRUE(archive.has_value());
    NSColor* color = gnustepRead(*archive);
    ASSERT_NE(color, nil);
    EXPECT_TRUE([[color colorSpaceName] isEqualToString:NSCalibratedRGBColorSpace]);
    expectNear(componentsOf(color),
               {custom.displayRed(), custom.displayGreen(), custom.displayBlue(), 0.6}, 1e-9);
}

}  // namespace
