#include "platform/qt/QtConversions.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <utility>

#include "platform/Window.h"

namespace platform::qt {

std::vector<Monitor> primaryFirst(std::vector<Monitor> monitors) {
    const auto primary =
        std::find_if(monitors.begin(), monitors.end(), [](const Monitor& m) { return m.primary; });
    if (primary != monitors.end()) {
        std::rotate(monitors.begin(), primary, primary + 1);
    }
    return monitors;
}

Rect toPlatformRect(const QRect& x11, const QRect& primary) {
    const double bottom = static_cast<double>(x11.y()) + x11.height();
    const double primaryBottom = static_cast<double>(primary.y()) + primary.height();
    return {static_cast<double>(x11.x() - primary.x()), primaryBottom - bottom,
            static_cast<double>(x11.width()), static_cast<double>(x11.height())};
}

QRect toX11Rect(const Rect& platform, const QRect& primary) {
    const double primaryBottom = static_cast<double>(primary.y()) + primary.height();
    const auto left = std::lround(platform.x + primary.x());
    const auto right = std::lround(platform.x + platform.width + primary.x());
    const auto top = std::lround(primaryBottom - (platform.y + platform.height));
    const auto bottom = std::lround(primaryBottom - platform.y);
    return {static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
            static_cast<int>(bottom - top)};
}

namespace {
// Scales a channel from 0...1 onto the bits of `mask`.
std::uint32_t channelBits(double value, std::uint32_t mask) {
    if (mask == 0) {
        return 0;
    }
    const int shift = std::countr_zero(mask);
    const std::uint32_t maximum = mask >> shift;
    const auto scaled = std::lround(std::clamp(value, 0.0, 1.0) * maximum);
    return (static_cast<std::uint32_t>(scaled) << shift) & mask;
}
}  // namespace

std::uint32_t pixelForColor(const Color& color, std::uint32_t redMask, std::uint32_t greenMask,
                            std::uint32_t blueMask) {
    return channelBits(color.displayRed(), redMask) | channelBits(color.displayGreen(), greenMask) |
           channelBits(color.displayBlue(), blueMask);
}

QFont::Weight fontWeight(double weight) {
    // The platform's named weights and the Qt weights they stand for.
    static constexpr std::array<std::pair<double, QFont::Weight>, 9> kWeights{{
        {-0.8, QFont::Thin},
        {-0.6, QFont::ExtraLight},
        {-0.4, QFont::Light},
        {0.0, QFont::Normal},
        {0.23, QFont::Medium},
        {0.3, QFont::DemiBold},
        {0.4, QFont::Bold},
        {0.56, QFont::ExtraBold},
        {0.62, QFont::Black},
    }};
    if (!std::isfinite(weight)) {
        return QFont::Normal;
    }
    const auto nearest =
        std::min_element(kWeights.begin(), kWeights.end(), [weight](const auto& a, const auto& b) {
            return std::abs(a.first - weight) < std::abs(b.first - weight);
        });
    return nearest->second;
}

QColor viewColor(const Color& color, bool darkSurface) {
    if (darkSurface && color.colorSpaceModel() == ColorSpaceModel::Catalog) {
        // The opacities the platform gives its label colours in the dark appearance.
        double alpha = -1.0;
        if (color.catalogName() == "labelColor") {
            alpha = 0.85;
        } else if (color.catalogName() == "secondaryLabelColor") {
            alpha = 0.55;
        } else if (color.catalogName() == "tertiaryLabelColor") {
            alpha = 0.35;
        }
        if (alpha >= 0.0) {
            return QColor::fromRgbF(1.0F, 1.0F, 1.0F, static_cast<float>(alpha));
        }
    }
    return toQColor(color);
}

QColor toQColor(const Color& color) {
    const double alpha = color.alphaComponent();
    const float a = std::isfinite(alpha) ? static_cast<float>(std::clamp(alpha, 0.0, 1.0)) : 1.0F;
    return QColor::fromRgbF(static_cast<float>(color.displayRed()),
                            static_cast<float>(color.displayGreen()),
                            static_cast<float>(color.displayBlue()), a);
}

std::vector<std::string> netWmStates(WindowLevel level, std::uint64_t collectionBehavior) {
    std::vector<std::string> states;
    if (level < NSNormalWindowLevel) {
        states.emplace_back("_NET_WM_STATE_BELOW");
    } else if (level > NSNormalWindowLevel) {
        states.emplace_back("_NET_WM_STATE_ABOVE");
    }
    if ((collectionBehavior & NSWindowCollectionBehaviorCanJoinAllSpaces) != 0) {
        states.emplace_back("_NET_WM_STATE_STICKY");
    }
    // A window left out of cycling is no task of its own; a stationary one stays out of
    // the overview of desktops.
    const bool ignoresCycle = (collectionBehavior & NSWindowCollectionBehaviorIgnoresCycle) != 0;
    const bool stationary = (collectionBehavior & NSWindowCollectionBehaviorStationary) != 0;
    if (ignoresCycle || level < NSNormalWindowLevel) {
        states.emplace_back("_NET_WM_STATE_SKIP_TASKBAR");
    }
    if (ignoresCycle || stationary || level < NSNormalWindowLevel) {
        states.emplace_back("_NET_WM_STATE_SKIP_PAGER");
    }
    return states;
}

bool belongsToDesktopStack(std::uint64_t styleMask, WindowLevel level) {
    return (styleMask & NSWindowStyleMaskTitled) == 0 && level < NSNormalWindowLevel;
}

}  // namespace platform::qt
