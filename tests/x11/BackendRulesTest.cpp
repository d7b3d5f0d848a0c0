// The X11 backend's translation rules, checked without a display: coordinates, colours, fonts,
// window-manager states, stacking decisions, view placement and the symbol drawings.

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cmath>
#include <limits>
#include <memory>

#include "platform/LayoutConstraint.h"
#include "platform/View.h"
#include "platform/Window.h"
#include "platform/common/WindowLevels.h"
#include "platform/qt/QtConversions.h"
#include "platform/qt/QtImages.h"
#include "platform/qt/QtStacking.h"
#include "platform/qt/QtViewRenderer.h"

namespace platform::qt {
namespace {

// --- Coordinates ----------------------------------------------------------------------------

TEST(Coordinates, PrimaryMonitorIsTheOriginAndOthersKeepTheirPlaceWithYUp) {
    const QRect primary(0, 0, 1920, 1080);
    EXPECT_EQ(toPlatformRect(primary, primary), (Rect{0, 0, 1920, 1080}));
    // Right of the primary, tops aligned, shorter: its bottom lies 56 points higher.
    EXPECT_EQ(toPlatformRect(QRect(1920, 0, 1280, 1024), primary), (Rect{1920, 56, 1280, 1024}));
    // Above the primary: positive y; left of it: negative x.
    EXPECT_EQ(toPlatformRect(QRect(0, -900, 1600, 900), primary), (Rect{0, 1080, 1600, 900}));
    EXPECT_EQ(toPlatformRect(QRect(-1280, 100, 1280, 1024), primary),
              (Rect{-1280, -44, 1280, 1024}));
}

TEST(Coordinates, PrimaryAwayFromTheRootOriginStillStartsAtZero) {
    // A monitor left of the primary puts the primary at X11 x = 1280.
    const QRect primary(1280, 200, 1920, 1080);
    EXPECT_EQ(toPlatformRect(primary, primary), (Rect{0, 0, 1920, 1080}));
    EXPECT_EQ(toPlatformRect(QRect(0, 0, 1280, 1024), primary), (Rect{-1280, 256, 1280, 1024}));
}

TEST(Coordinates, X11RectanglesComeBackUnchanged) {
    const QRect primary(1280, 200, 1920, 1080);
    for (const QRect& rect : {QRect(0, 0, 1280, 1024), QRect(1280, 200, 1920, 1080),
                              QRect(3200, -300, 2560, 1440), QRect(17, 33, 1, 1)}) {
        EXPECT_EQ(toX11Rect(toPlatformRect(rect, primary), primary), rect);
    }
}

TEST(Coordinates, FractionalRectanglesThatTouchStillTouchInPixels) {
    const QRect primary(0, 0, 1000, 1000);
    const QRect left = toX11Rect({10.4, 20.6, 100.3, 50.5}, primary);
    const QRect right = toX11Rect({110.7, 20.6, 30.0, 50.5}, primary);
    EXPECT_EQ(left.x() + left.width(), right.x());
    const QRect below = toX11Rect({10.4, 0.2, 100.3, 20.4}, primary);
    EXPECT_EQ(below.y(), left.y() + left.height());
}

TEST(Coordinates, PrimaryMonitorComesFirstAndTheOthersKeepTheServersOrder) {
    const Monitor a{QRect(0, 0, 10, 10), false};
    const Monitor b{QRect(10, 0, 10, 10), false};
    const Monitor c{QRect(20, 0, 10, 10), true};
    const Monitor d{QRect(30, 0, 10, 10), false};
    EXPECT_EQ(primaryFirst({a, b, c, d}), (std::vector<Monitor>{c, a, b, d}));
    EXPECT_EQ(primaryFirst({a, b, d}), (std::vector<Monitor>{a, b, d}));
    EXPECT_TRUE(primaryFirst({}).empty());
}

// --- Colours and fonts ----------------------------------------------------------------------

TEST(Colours, PixelValuesFollowTheVisualsChannelMasks) {
    const Color grey = Color::colorWithCalibratedRed(0.1, 0.1, 0.1, 1.0);
    EXPECT_EQ(pixelForColor(grey, 0xFF0000, 0x00FF00, 0x0000FF), 0x1A1A1AU);
    EXPECT_EQ(
        pixelForColor(Color::colorWithDeviceRed(0.2, 0.4, 0.8, 1.0), 0xFF0000, 0x00FF00, 0x0000FF),
        0x3366CCU);
    // Blue first, as some visuals order the channels.
    EXPECT_EQ(
        pixelForColor(Color::colorWithDeviceRed(1.0, 0.0, 0.0, 1.0), 0x0000FF, 0x00FF00, 0xFF0000),
        0x0000FFU);
    // 16-bit 5-6-5: white fills every bit; one half rounds to the middle of each range.
    EXPECT_EQ(pixelForColor(Color::colorWithDeviceWhite(1.0, 1.0), 0xF800, 0x07E0, 0x001F),
              0xFFFFU);
    EXPECT_EQ(pixelForColor(Color::colorWithDeviceWhite(0.5, 1.0), 0xF800, 0x07E0, 0x001F),
              (16U << 11) | (32U << 5) | 16U);
    // Out of range and unusable components are clamped, not wrapped.
    EXPECT_EQ(pixelForColor(Color::colorWithDeviceRed(2.0, -1.0, std::nan(""), 1.0), 0xFF0000,
                            0x00FF00, 0x0000FF),
              0xFF0000U);
}

TEST(Colours, LabelColoursOnTheDarkSurfaceAreWhiteAtThePlatformsOpacities) {
    const auto alpha = [](const QColor& color) { return color.alpha(); };
    const QColor primary = viewColor(Color::labelColor(), true);
    EXPECT_EQ(primary.rgb() & 0xFFFFFF, 0xFFFFFFU);
    EXPECT_EQ(alpha(primary), 217);
    EXPECT_EQ(alpha(viewColor(Color::secondaryLabelColor(), true)), 140);
    EXPECT_EQ(alpha(viewColor(Color::tertiaryLabelColor(), true)), 89);
    // On a light surface they keep their own components: dark text.
    const QColor light = viewColor(Color::labelColor(), false);
    EXPECT_EQ(light.rgb() & 0xFFFFFF, 0x000000U);
    EXPECT_EQ(alpha(light), 217);
    // Other colours are drawn as they are.
    EXPECT_EQ(viewColor(Color::colorWithDeviceRed(0.2, 0.4, 0.8, 0.5), true).rgba(),
              qRgba(0x33, 0x66, 0xCC, 128));
}

TEST(Fonts, WeightsMapToTheNearestQtWeight) {
    EXPECT_EQ(fontWeight(NSFontWeightRegular), QFont::Normal);
    EXPECT_EQ(fontWeight(NSFontWeightMedium), QFont::Medium);
    EXPECT_EQ(fontWeight(NSFontWeightSemibold), QFont::DemiBold);
    EXPECT_EQ(fontWeight(NSFontWeightBold), QFont::Bold);
    EXPECT_EQ(fontWeight(-1.0), QFont::Thin);
    EXPECT_EQ(fontWeight(1.0), QFont::Black);
    EXPECT_EQ(fontWeight(0.1), QFont::Normal);
    EXPECT_EQ(fontWeight(std::numeric_limits<double>::quiet_NaN()), QFont::Normal);
}

// --- Window manager hints -------------------------------------------------------------------

TEST(WindowManagerHints, AnOverlayIsBelowStickyAndLeftOutOfTaskbarAndPager) {
    const WindowLevel overlayLevel =
        WindowLevel{common::windowLevelForKey(WindowLevelKey::kCGDesktopIconWindowLevelKey)} + 1;
    const auto behaviour = NSWindowCollectionBehaviorCanJoinAllSpaces |
                           NSWindowCollectionBehaviorStationary |
                           NSWindowCollectionBehaviorIgnoresCycle;
    EXPECT_EQ(netWmStates(overlayLevel, behaviour),
              (std::vector<std::string>{"_NET_WM_STATE_BELOW", "_NET_WM_STATE_STICKY",
                                        "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"}));
    EXPECT_TRUE(belongsToDesktopStack(NSWindowStyleMaskBorderless, overlayLevel));
}

TEST(WindowManagerHints, OrdinaryWindowsKeepTheManagersDefaults) {
    EXPECT_TRUE(netWmStates(NSNormalWindowLevel, NSWindowCollectionBehaviorDefault).empty());
    EXPECT_EQ(netWmStates(3, NSWindowCollectionBehaviorDefault),
              std::vector<std::string>{"_NET_WM_STATE_ABOVE"});
    EXPECT_EQ(netWmStates(NSNormalWindowLevel, NSWindowCollectionBehaviorIgnoresCycle),
              (std::vector<std::string>{"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"}));
    // Titled windows and windows at the normal level are never in the desktop stack.
    EXPECT_FALSE(belongsToDesktopStack(NSWindowStyleMaskTitled, -100));
    EXPECT_FALSE(belongsToDesktopStack(NSWindowStyleMaskBorderless, NSNormalWindowLevel));
}

// --- Stacking -------------------------------------------------------------------------------

using Kind = StackedWindow::Kind;

TEST(Stacking, OwnWindowsBelowADesktopWindowGoAboveItInTheirOrder) {
    // Bottom to top: overlay 1, overlay 2, the icons, an editor.
    const std::vector<StackedWindow> stack{
        {1, Kind::Own}, {2, Kind::Own}, {10, Kind::ForeignDesktop}, {20, Kind::Other}};
    EXPECT_EQ(restacksAboveDesktop(stack), (std::vector<RestackRequest>{{1, 10}, {2, 1}}));
}

TEST(Stacking, NothingIsAskedWhenTheOrderIsAlreadyRight) {
    EXPECT_TRUE(restacksAboveDesktop(
                    {{10, Kind::ForeignDesktop}, {1, Kind::Own}, {2, Kind::Own}, {20, Kind::Other}})
                    .empty());
    EXPECT_TRUE(restacksAboveDesktop({{1, Kind::Own}, {20, Kind::Other}}).empty());
    EXPECT_TRUE(restacksAboveDesktop({}).empty());
}

TEST(Stacking, OnlyTheOwnWindowsUnderTheTopmostDesktopWindowMove) {
    // Two desktop windows, one own window between them and one above both.
    const std::vector<StackedWindow> stack{{10, Kind::ForeignDesktop},
                                           {1, Kind::Own},
                                           {11, Kind::ForeignDesktop},
                                           {2, Kind::Own},
                                           {20, Kind::Other}};
    EXPECT_EQ(restacksAboveDesktop(stack), (std::vector<RestackRequest>{{1, 11}}));
}

// --- View placement -------------------------------------------------------------------------

TEST(ViewPlacement, ConstraintsCentreASubviewAndFixItsSize) {
    VisualEffectView root({0, 0, 300, 320});
    auto stack = std::make_unique<StackView>();
    stack->setTranslatesAutoresizingMaskIntoConstraints(false);
    StackView& column = *stack;
    root.addSubview(std::move(stack));
    LayoutConstraint::activateConstraints({
        column.centerXAnchor().constraintEqualToAnchor(root.centerXAnchor()),
        column.centerYAnchor().constraintEqualToAnchor(root.centerYAnchor()),
    });
    EXPECT_EQ(subviewRect(column, QSize(200, 250), QRect(0, 0, 300, 320)), QRect(50, 35, 200, 250));

    auto image = std::make_unique<ImageView>();
    image->setTranslatesAutoresizingMaskIntoConstraints(false);
    LayoutConstraint::activateConstraints({
        image->widthAnchor().constraintEqualToConstant(96.0),
        image->heightAnchor().constraintEqualToConstant(96.0),
    });
    ImageView& icon = *image;
    column.addArrangedSubview(std::move(image));
    // The constants win over what the widget would like.
    EXPECT_EQ(subviewRect(icon, QSize(24, 24), QRect(0, 0, 300, 320)).size(), QSize(96, 96));
}

TEST(ViewPlacement, FramesAreFlippedAndFollowTheAutoresizingMask) {
    View root({0, 0, 300, 200});
    auto child = std::make_unique<View>(Rect{10, 20, 100, 50});
    View& fixed = *child;
    root.addSubview(std::move(child));
    // y-up frame: 20 points above the bottom, so 200 - 20 - 50 = 130 from the top.
    EXPECT_EQ(subviewRect(fixed, QSize(), QRect(0, 0, 300, 200)), QRect(10, 130, 100, 50));
    // A larger superview: the fixed view keeps its distance to the bottom.
    EXPECT_EQ(subviewRect(fixed, QSize(), QRect(0, 0, 400, 260)), QRect(10, 190, 100, 50));

    auto grower = std::make_unique<View>(Rect{0, 0, 300, 200});
    grower->setAutoresizingMask(NSViewWidthSizable | NSViewHeightSizable);
    View& filling = *grower;
    root.addSubview(std::move(grower));
    EXPECT_EQ(subviewRect(filling, QSize(), QRect(0, 0, 400, 260)), QRect(0, 0, 400, 260));
}

// --- Images ---------------------------------------------------------------------------------

TEST(Images, ScalingFitsTheImageAsThePlatformDoes) {
    const QRectF bounds(0, 0, 96, 96);
    using enum NSImageScaling;
    EXPECT_EQ(fittedRect({24, 24}, bounds, NSImageScaleProportionallyUpOrDown), bounds);
    EXPECT_EQ(fittedRect({48, 24}, bounds, NSImageScaleProportionallyUpOrDown),
              QRectF(0, 24, 96, 48));
    EXPECT_EQ(fittedRect({24, 24}, bounds, NSImageScaleProportionallyDown), QRectF(36, 36, 24, 24));
    EXPECT_EQ(fittedRect({192, 96}, bounds, NSImageScaleProportionallyDown), QRectF(0, 24, 96, 48));
    EXPECT_EQ(fittedRect({48, 24}, bounds, NSImageScaleAxesIndependently), bounds);
    EXPECT_EQ(fittedRect({120, 24}, bounds, NSImageScaleNone), QRectF(-12, 36, 120, 24));
}

TEST(Images, OnlyTheShippedSymbolsExist) {
    EXPECT_TRUE(isSystemSymbol("square.fill.on.square.fill"));
    EXPECT_TRUE(isSystemSymbol("app.fill"));
    EXPECT_FALSE(isSystemSymbol("square.fill"));
    EXPECT_FALSE(isSystemSymbol(kAppIconName));
    EXPECT_TRUE(imageSvg("gear", Qt::white).isEmpty());
    EXPECT_TRUE(QSvgRenderer(imageSvg(kAppIconName, Qt::white)).isValid());
}

// Renders a symbol at 24 x 24 pixels, one per unit of its grid.
QImage renderSymbol(const std::string& name) {
    QImage image(24, 24, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    QSvgRenderer renderer(imageSvg(name, QColor(255, 0, 0)));
    renderer.render(&painter, QRectF(0, 0, 24, 24));
    return image;
}

TEST(Images, TheStatusSymbolIsTwoSquaresWithAGapBetweenThem) {
    const QImage image = renderSymbol("square.fill.on.square.fill");
    const auto opaque = [&](int x, int y) { return qAlpha(image.pixel(x, y)) > 200; };
    EXPECT_TRUE(opaque(9, 15));                        // the front square's centre
    EXPECT_TRUE(opaque(20, 4));                        // the back square, beside the front one
    EXPECT_FALSE(opaque(17, 9));                       // the gap around the front square
    EXPECT_FALSE(opaque(3, 3));                        // outside both
    EXPECT_EQ(QColor(image.pixel(9, 15)).red(), 255);  // drawn in the tint
}

TEST(Images, TheAppSymbolIsARoundedTile) {
    const QImage image = renderSymbol("app.fill");
    EXPECT_GT(qAlpha(image.pixel(12, 12)), 200);
    EXPECT_GT(qAlpha(image.pixel(4, 12)), 200);
    EXPECT_LT(qAlpha(image.pixel(3, 3)), 80);  // a rounded corner
    EXPECT_EQ(qAlpha(image.pixel(1, 12)), 0);
}

}  // namespace
}  // namespace platform::qt
