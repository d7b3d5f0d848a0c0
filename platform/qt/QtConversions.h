#pragma once

// The rules by which the X11 backend translates the platform's values into X11 and Qt terms.
// They depend on nothing but their arguments.

#include <QColor>
#include <QFont>
#include <QRect>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Color.h"
#include "platform/Geometry.h"
#include "platform/WindowLevel.h"

namespace platform::qt {

// One RandR monitor: its rectangle in X11 root coordinates (pixels, y down) and whether the
// server calls it the primary one.
struct Monitor {
    QRect geometry;
    bool primary = false;
    friend bool operator==(const Monitor&, const Monitor&) = default;
};

// The monitors with the primary one first and the others in the server's order. With no
// monitor marked primary, the server's first one counts as primary.
std::vector<Monitor> primaryFirst(std::vector<Monitor> monitors);

// Coordinates. The platform's desktop has its origin at the bottom-left corner of the primary
// monitor with y growing upwards, one point per X11 pixel; X11 has its origin at the top-left
// corner of the root window with y growing downwards. `primary` is the primary monitor's X11
// rectangle, the one reference both directions use:
//   platform x = x11 x - primary.x
//   platform y = (primary.y + primary.height) - (x11 y + height)
// so the primary monitor's frame is (0, 0, width, height), as on macOS.
Rect toPlatformRect(const QRect& x11, const QRect& primary);
// The inverse of toPlatformRect. Edges are rounded to whole pixels separately, so that
// rectangles that touch in points still touch in pixels.
QRect toX11Rect(const Rect& platform, const QRect& primary);

// The pixel value of an opaque colour on a true-colour visual with these channel masks.
std::uint32_t pixelForColor(const Color& color, std::uint32_t redMask, std::uint32_t greenMask,
                            std::uint32_t blueMask);

// The Qt weight closest to an NSFontWeight value (-1 thinnest ... 1 heaviest).
QFont::Weight fontWeight(double weight);

// The colour a view draws `color` in. Catalog label colours follow the surface they are
// drawn on: on a dark one they are white at the platform's dark-appearance opacities; other
// colours are drawn as their components say.
QColor viewColor(const Color& color, bool darkSurface);

// The QColor of a platform colour, by the components the screen shows.
QColor toQColor(const Color& color);

// The names of the _NET_WM_STATE atoms that a window at `level` with `collectionBehavior`
// carries, in a fixed order.
std::vector<std::string> netWmStates(WindowLevel level, std::uint64_t collectionBehavior);

// Whether a window of this style and level is kept in the desktop stack: a bare X window
// directly above the desktop windows and below every ordinary window.
bool belongsToDesktopStack(std::uint64_t styleMask, WindowLevel level);

}  // namespace platform::qt
