#pragma once

// WCAG 2 contrast between two sRGB colours, components 0 to 255: from 1 (the same) to 21
// (black on white).

#include <algorithm>
#include <cmath>

namespace vellumor::test {

inline double relativeLuminance(int red, int green, int blue) {
    const auto linear = [](int component) {
        const double c = component / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(red) + 0.7152 * linear(green) + 0.0722 * linear(blue);
}

inline double contrastRatio(double luminanceA, double luminanceB) {
    return (std::max(luminanceA, luminanceB) + 0.05) / (std::min(luminanceA, luminanceB) + 0.05);
}

}  // namespace vellumor::test
