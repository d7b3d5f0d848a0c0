#pragma once

#include <string>

#include "platform/Color.h"
#include "platform/NotificationCenter.h"

namespace vellumor {

namespace notification {
// Posted, with no object, each time a new overlay colour has been stored; observers read
// ColorManager::shared().currentColor() for the new value.
inline const platform::NotificationName colorDidChange = "colorDidChange";
}  // namespace notification

// The overlay colour. It is kept nowhere but in the user's defaults, so every read sees what
// is stored and the colour outlives the process.
class ColorManager final {
public:
    // The one instance of the process.
    static ColorManager& shared();

    // The stored colour, or the default near-black grey when nothing usable is stored.
    platform::Color currentColor() const;
    // Stores `color` and then announces it with colorDidChange. A colour that cannot be
    // archived is neither stored nor announced.
    void setCurrentColor(const platform::Color& color);

    ColorManager(const ColorManager&) = delete;
    ColorManager& operator=(const ColorManager&) = delete;

private:
    ColorManager() = default;

    const std::string colorKey = "selectedBackgroundColor";
};

}  // namespace vellumor
