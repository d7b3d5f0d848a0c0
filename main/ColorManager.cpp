#include "main/ColorManager.h"

#include "platform/KeyedArchiver.h"
#include "platform/UserDefaults.h"

namespace vellumor {

namespace {
platform::Color defaultColor() {
    return platform::Color::colorWithCalibratedRed(0.1, 0.1, 0.1, 1.0);
}
}  // namespace

ColorManager& ColorManager::shared() {
    static ColorManager instance;
    return instance;
}

platform::Color ColorManager::currentColor() const {
    const auto data = platform::UserDefaults::standardUserDefaults().dataForKey(colorKey);
    if (!data) {
        return defaultColor();
    }
    // Whatever cannot be read back as a colour reads as the default; the stored value stays
    // as it is until the next pick replaces it.
    auto color = platform::KeyedUnarchiver::unarchivedColorFromData(*data, nullptr);
    return color ? *color : defaultColor();
}

void ColorManager::setCurrentColor(const platform::Color& color) {
    const auto data = platform::KeyedArchiver::archivedDataWithRootObject(color, false, nullptr);
    if (!data) {
        return;
    }
    platform::UserDefaults::standardUserDefaults().setObject(*data, colorKey);
    // Observers read the colour back from the defaults, so it must be stored before they
    // hear of it.
    platform::NotificationCenter::defaultCenter().postNotificationName(notification::colorDidChange,
                                                                       nullptr);
}

}  // namespace vellumor
