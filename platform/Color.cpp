#include "platform/Color.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace platform {

Color::Color(ColorSpaceModel model, std::vector<double> components)
    : model_(model), components_(std::move(components)) {}

Color Color::colorWithCalibratedRed(double red, double green, double blue, double alpha) {
    return Color(ColorSpaceModel::CalibratedRGB, {red, green, blue, alpha});
}

Color Color::colorWithDeviceRed(double red, double green, double blue, double alpha) {
    return Color(ColorSpaceModel::DeviceRGB, {red, green, blue, alpha});
}

Color Color::colorWithCalibratedWhite(double white, double alpha) {
    return Color(ColorSpaceModel::CalibratedWhite, {white, alpha});
}

Color Color::colorWithDeviceWhite(double white, double alpha) {
    return Color(ColorSpaceModel::DeviceWhite, {white, alpha});
}

Color Color::colorWithCustomSpace(std::vector<double> components, std::int64_t colorSpaceId,
                                  std::vector<std::uint8_t> iccProfile) {
    // A custom colour always carries at least one component and alpha.
    if (components.empty()) {
        components = {0.0, 1.0};
    } else if (components.size() == 1) {
        components.insert(components.begin(), 0.0);
    }
    Color color(ColorSpaceModel::Custom, std::move(components));
    color.colorSpaceId_ = colorSpaceId;
    color.iccProfile_ = std::move(iccProfile);
    return color;
}

Color Color::labelColor() {
    return colorWithCalibratedWhite(0.0, 0.85).withCatalogName("labelColor");
}
Color Color::secondaryLabelColor() {
    return colorWithCalibratedWhite(0.0, 0.5).withCatalogName("secondaryLabelColor");
}
Color Color::tertiaryLabelColor() {
    return colorWithCalibratedWhite(0.0, 0.26).withCatalogName("tertiaryLabelColor");
}

Color Color::withCatalogName(std::string name) const {
    Color copy = *this;
    copy.model_ = ColorSpaceModel::Catalog;
    copy.catalogName_ = std::move(name);
    return copy;
}

namespace {
double channel(const std::vector<double>& components, std::size_t index) {
    // Components without alpha: a single one is a grey, three or more are red, green, blue.
    const std::size_t colourCount = components.size() - 1;
    const double value = colourCount >= 3 ? components[index] : components[0];
    return std::isfinite(value) ? std::clamp(value, 0.0, 1.0) : 0.0;
}
}  // namespace

double Color::displayRed() const {
    return channel(components_, 0);
}
double Color::displayGreen() const {
    return channel(components_, 1);
}
double Color::displayBlue() const {
    return channel(components_, 2);
}

Color Color::withNativeHandle(std::shared_ptr<const void> native) const {
    Color copy = *this;
    copy.native_ = std::move(native);
    return copy;
}

}  // namespace platform
