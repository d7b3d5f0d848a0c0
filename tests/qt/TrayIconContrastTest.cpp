// The tray icon as trays draw it, at the sizes they ask for: it stands out at least 3:1 from
// light and dark panels alike, and is still two overlapping squares.

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QIcon>
#include <QImage>

#include <array>
#include <memory>

#include "platform/qt/QtImages.h"
#include "tests/support/Contrast.h"

namespace platform::qt {
namespace {

double contrast(const QColor& a, const QColor& b) {
    return vellumor::test::contrastRatio(
        vellumor::test::relativeLuminance(a.red(), a.green(), a.blue()),
        vellumor::test::relativeLuminance(b.red(), b.green(), b.blue()));
}

class TrayIconContrastTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        application_ = std::make_unique<QGuiApplication>(argc_, argv_.data());
    }
    static void TearDownTestSuite() { application_.reset(); }

    static inline int argc_ = 1;
    static inline char name_[] = "tray_icon_test";
    static inline std::array<char*, 2> argv_{name_, nullptr};
    static inline std::unique_ptr<QGuiApplication> application_;
};

TEST_F(TrayIconContrastTest, StandsOutFromLightAndDarkPanelsAtTraySizes) {
    const QIcon icon = iconForImage("square.fill.on.square.fill");
    for (const int side : {16, 22, 24}) {
        const QImage image =
            icon.pixmap(QSize(side, side)).toImage().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(image.size(), QSize(side, side));
        // A pixel at a point of the drawing's 24-unit grid.
        const auto at = [&](double x, double y) {
            return image.pixelColor(static_cast<int>(x * side / 24),
                                    static_cast<int>(y * side / 24));
        };
        for (const QColor panel : {QColor(0xDC, 0xDA, 0xD5), QColor(0x2B, 0x2B, 0x2B)}) {
            SCOPED_TRACE(side);
            SCOPED_TRACE(panel.name().toStdString());
            // Every fully covered pixel, as the panel shows it.
            int ink = 0;
            double weakest = 21.0;
            for (int y = 0; y < side; ++y) {
                for (int x = 0; x < side; ++x) {
                    const QColor pixel = image.pixelColor(x, y);
                    if (pixel.alpha() >= 250) {
                        ++ink;
                        weakest = std::min(weakest, contrast(pixel, panel));
                    }
                }
            }
            EXPECT_GE(weakest, 3.0);
            EXPECT_GE(ink, side * side / 3);
        }
        // The front square, the back one where it shows, the gap between them, and the
        // empty corners.
        EXPECT_GE(at(9, 15).alpha(), 250) << side;
        EXPECT_GE(at(20, 5).alpha(), 250) << side;
        EXPECT_LE(at(17, 11).alpha(), 64) << side;
        EXPECT_EQ(at(0, 0).alpha(), 0) << side;
        EXPECT_EQ(image.pixelColor(side - 1, side - 1).alpha(), 0) << side;
    }
}

}  // namespace
}  // namespace platform::qt
