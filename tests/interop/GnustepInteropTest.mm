// Colours archived by GNUstep read back equal with our unarchiver, and colours our archiver
// writes read back equal in GNUstep. GNUstep's NSKeyedArchiver and NSColor were written
// independently of ours and of macOS; where the two are known to differ, the test says so
// and holds us to macOS.

#import <AppKit/AppKit.h>
#import <Foundation/Foundation.h>
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
    ColorSpaceModel model;
    NSString* gnustepSpace;
    std::vector<double> components;  // with alpha
};

const std::vector<Sample>& samples() {
    static const std::vector<Sample> all = {
        {ColorSpaceModel::CalibratedRGB, NSCalibratedRGBColorSpace, {0.1, 0.25, 0.9, 0.5}},
        {ColorSpaceModel::CalibratedRGB, NSCalibratedRGBColorSpace, {0.123456789, 0.9876, 0, 1}},
        {ColorSpaceModel::DeviceRGB, NSDeviceRGBColorSpace, {1.0, 0.0, 1.0 / 3.0, 0.75}},
        {ColorSpaceModel::CalibratedWhite, NSCalibratedWhiteColorSpace, {0.4, 0.3}},
        {ColorSpaceModel::DeviceWhite, NSDeviceWhiteColorSpace, {2.0 / 3.0, 1.0}},
    };
    return all;
}

Color ours(const Sample& s) {
    const auto& c = s.components;
    switch (s.model) {
        case ColorSpaceModel::CalibratedRGB:
            return Color::colorWithCalibratedRed(c[0], c[1], c[2], c[3]);
        case ColorSpaceModel::DeviceRGB:
            return Color::colorWithDeviceRed(c[0], c[1], c[2], c[3]);
        case ColorSpaceModel::CalibratedWhite:
            return Color::colorWithCalibratedWhite(c[0], c[1]);
        default:
            return Color::colorWithDeviceWhite(c[0], c[1]);
    }
}

NSColor* theirs(const Sample& s) {
    const auto& c = s.components;
    switch (s.model) {
        case ColorSpaceModel::CalibratedRGB:
            return [NSColor colorWithCalibratedRed:c[0] green:c[1] blue:c[2] alpha:c[3]];
        case ColorSpaceModel::DeviceRGB:
            return [NSColor colorWithDeviceRed:c[0] green:c[1] blue:c[2] alpha:c[3]];
        case ColorSpaceModel::CalibratedWhite:
            return [NSColor colorWithCalibratedWhite:c[0] alpha:c[1]];
        default:
            return [NSColor colorWithDeviceWhite:c[0] alpha:c[1]];
    }
}

// The components and alpha GNUstep holds for `color`, in the order of its space.
std::vector<double> componentsOf(NSColor* color) {
    CGFloat v[4] = {0, 0, 0, 0};
    if ([[color colorSpaceName] hasSuffix:@"WhiteColorSpace"]) {
        [color getWhite:&v[0] alpha:&v[1]];
        return {v[0], v[1]};
    }
    [color getRed:&v[0] green:&v[1] blue:&v[2] alpha:&v[3]];
    return {v[0], v[1], v[2], v[3]};
}

NSColor* gnustepRead(const platform::Data& archive) {
    NSData* data = [NSData dataWithBytes:archive.data() length:archive.size()];
    id object = [NSKeyedUnarchiver unarchiveObjectWithData:data];
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

TEST_F(GnustepInterop, ColoursGnustepArchivesReadBackEqual) {
    for (NSPropertyListFormat format :
         {NSPropertyListBinaryFormat_v1_0, NSPropertyListXMLFormat_v1_0}) {
        for (const Sample& sample : samples()) {
            SCOPED_TRACE(std::string([sample.gnustepSpace UTF8String]) +
                         (format == NSPropertyListXMLFormat_v1_0 ? " xml" : " binary"));
            NSMutableData* data = [NSMutableData data];
            NSKeyedArchiver* archiver =
                [[[NSKeyedArchiver alloc] initForWritingWithMutableData:data] autorelease];
            [archiver setOutputFormat:format];
            [archiver encodeObject:theirs(sample) forKey:@"root"];
            [archiver finishEncoding];

            const auto* bytes = static_cast<const std::uint8_t*>([data bytes]);
            std::string error;
            const auto read = platform::common::unarchiveColor(
                platform::Data(bytes, bytes + [data length]), &error);
            ASSERT_TRUE(read.has_value()) << error;
            EXPECT_EQ(read->colorSpaceModel(), sample.model);
            // GNUstep writes six significant digits ("%g") where macOS writes ten, so the
            // colour asked for is only that close.
            expectNear(read->components(), sample.components, 5e-6);
        }
    }
}

TEST_F(GnustepInterop, ColoursWeArchiveReadBackEqualInGnustep) {
    for (const Sample& sample : samples()) {
        SCOPED_TRACE([sample.gnustepSpace UTF8String]);
        const auto archive = platform::common::archiveColor(ours(sample));
        ASSERT_TRUE(archive.has_value());
        NSColor* color = gnustepRead(*archive);
        ASSERT_NE(color, nil);
        EXPECT_TRUE([[color colorSpaceName] isEqualToString:sample.gnustepSpace]);
        // We keep ten significant digits, as macOS does.
        expectNear(componentsOf(color), sample.components, 1e-9);
    }
}

TEST_F(GnustepInterop, ColourInASpaceOfItsOwnReadsAsItsRgbFallbackInGnustep) {
    // macOS reads such a colour in its own space; GNUstep keeps no colour spaces in archives
    // and takes the calibrated RGB fallback, which any reader without the space must be given.
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
