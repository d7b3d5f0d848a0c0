#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// The colour spaces a colour can be expressed in. 1 to 4 are the numbers keyed archives
// store under NSColorSpace, so they must not change; the others are this layer's own.
enum class ColorSpaceModel : int {
    CalibratedRGB = 1,
    DeviceRGB = 2,
    CalibratedWhite = 3,
    DeviceWhite = 4,
    // Components in a colour space of their own, identified by an ICC profile and/or a
    // platform colour-space number (for example sRGB or Display P3).
    Custom = 5,
    // A named system colour that follows the appearance (for example the label colours).
    Catalog = 6,
};

// An immutable colour (NSColor). Two colours are equal when their space, components and
// custom-space description are equal; the native handle is not compared.
class Color final {
public:
    // A colour in the calibrated RGB space; components are taken as given.
    static Color colorWithCalibratedRed(double red, double green, double blue, double alpha);
    // A colour in the device RGB space.
    static Color colorWithDeviceRed(double red, double green, double blue, double alpha);
    // A grey in the calibrated white space.
    static Color colorWithCalibratedWhite(double white, double alpha);
    // A grey in the device white space.
    static Color colorWithDeviceWhite(double white, double alpha);
    // A colour in a custom space: `components` are the space's components followed by alpha.
    static Color colorWithCustomSpace(std::vector<double> components, std::int64_t colorSpaceId,
                                      std::vector<std::uint8_t> iccProfile);

    // The platform's primary, secondary and tertiary text colours; they follow the system
    // appearance, and the components are only a fallback for a light one.
    static Color labelColor();
    static Color secondaryLabelColor();
    static Color tertiaryLabelColor();

    // The space the components are expressed in.
    ColorSpaceModel colorSpaceModel() const { return model_; }
    // The colour components in the order of the space (RGB: red, green, blue; white: white;
    // custom: the space's own), followed by alpha.
    const std::vector<double>& components() const { return components_; }
    // The last component: opacity from 0 (clear) to 1 (opaque).
    double alphaComponent() const { return components_.back(); }
    // The platform's identifier of a custom space (0 when there is none or not custom).
    std::int64_t colorSpaceId() const { return colorSpaceId_; }
    // The ICC profile of a custom space (empty when there is none or not custom).
    const std::vector<std::uint8_t>& iccProfile() const { return iccProfile_; }

    // The name of a catalog colour (empty for the others).
    const std::string& catalogName() const { return catalogName_; }

    // Red, green and blue as the screen shows them, each from 0 to 1: RGB spaces give their
    // own, white spaces give the grey, custom spaces their first three components (or a grey
    // from a single one). Used by backends that paint with plain 8-bit RGB.
    double displayRed() const;
    double displayGreen() const;
    double displayBlue() const;

    // The platform object this colour came from, if any (an NSColor on macOS). It lets a
    // colour that only the platform can describe travel through the program unchanged.
    const std::shared_ptr<const void>& nativeHandle() const { return native_; }
    Color withNativeHandle(std::shared_ptr<const void> native) const;

    friend bool operator==(const Color& a, const Color& b) {
        return a.model_ == b.model_ && a.components_ == b.components_ &&
               a.colorSpaceId_ == b.colorSpaceId_ && a.iccProfile_ == b.iccProfile_ &&
               a.catalogName_ == b.catalogName_;
    }

private:
    Color withCatalogName(std::string name) const;
    Color(ColorSpaceModel model, std::vector<double> components);

    ColorSpaceModel model_;
    std::vector<double> components_;
    std::int64_t colorSpaceId_ = 0;
    std::vector<std::uint8_t> iccProfile_;
    std::string catalogName_;
    std::shared_ptr<const void> native_;
};

}  // namespace platform
