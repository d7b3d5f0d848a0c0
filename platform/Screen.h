#pragma once

#include <vector>

#include "platform/Geometry.h"

namespace platform {

// One attached display (NSScreen).
class Screen final {
public:
    // The attached displays, primary first, in the window system's order.
    static std::vector<Screen> screens();

    explicit Screen(Rect frame) : frame_(frame) {}
    // The display's rectangle in global desktop coordinates (points); may have a negative
    // origin for displays left of or below the primary one.
    Rect frame() const { return frame_; }

private:
    Rect frame_;
};

}  // namespace platform
