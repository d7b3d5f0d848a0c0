#pragma once

#include <memory>
#include <string>

namespace platform {

// An immutable image (NSImage): the program only names images, the backend draws them.
class Image final {
public:
    // The system symbol image called `name`, described to assistive technology by
    // `accessibilityDescription`; null when the system has no symbol of that name.
    static std::shared_ptr<const Image> imageWithSystemSymbolName(
        const std::string& name, const std::string& accessibilityDescription);

    // An image that the backend identifies by `name` (a symbol name, or its own naming for
    // the application icon); `native` is the backend's own object for it, if any.
    Image(std::string name, std::string accessibilityDescription,
          std::shared_ptr<const void> native = nullptr);

    // The symbol or backend name of the image.
    const std::string& name() const { return name_; }
    // What assistive technology says for the image.
    const std::string& accessibilityDescription() const { return accessibilityDescription_; }
    // The backend's own object for the image, if any.
    const std::shared_ptr<const void>& nativeHandle() const { return native_; }

private:
    std::string name_;
    std::string accessibilityDescription_;
    std::shared_ptr<const void> native_;
};

}  // namespace platform
