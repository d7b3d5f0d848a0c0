#pragma once

#include <QColor>
#include <QRect>
#include <QSize>
#include <QWidget>

#include "platform/View.h"

namespace platform::qt {

// The look of a visual-effect view's surface: the platform's dark HUD material, translucent
// where a compositor blends windows and solid where none does.
QColor effectSurfaceColor(bool translucent);

// Where `subview` goes inside its superview's widget area `container` (y down), given the size
// its widget would like (`preferred`). A view placed by constraints follows those that tie it
// to its superview (centres, edges, width, height) and its own constant width and height;
// one placed by its autoresizing mask keeps its frame (y flipped: the platform's views are
// y-up), growing with the superview where the mask says so.
QRect subviewRect(const View& subview, const QSize& preferred, const QRect& container);

// Shows a window's view tree as widgets. Views are read once, when the window is shown, as
// the platform draws a view tree it is given; later changes to the views need a new render.
class QtViewRenderer final {
public:
    // Replaces the contents of `host` with widgets that show `root` and its subviews, `root`
    // filling `host`. `translucent`: whether surfaces may be drawn translucent.
    static void render(const View& root, QWidget& host, bool translucent);
};

}  // namespace platform::qt
