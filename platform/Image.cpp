#include "platform/Image.h"

#include "platform/PlatformIntegration.h"

namespace platform {

std::shared_ptr<const Image> Image::imageWithSystemSymbolName(
    const std::string& name, const std::string& accessibilityDescription) {
    if (!platformIntegration().hasSystemSymbol(name)) {
        return nullptr;
    }
    return std::make_shared<const Image>(name, accessibilityDescription);
}

Image::Image(std::string name, std::string accessibilityDescription,
             std::shared_ptr<const void> native)
    : name_(std::move(name)),
      accessibilityDescription_(std::move(accessibilityDescription)),
      native_(std::move(native)) {}

}  // namespace platform
