#pragma once

#include <QWidget>

#include "platform/View.h"

namespace platform::qt {

// Shows a window's view tree as widgets. Views are read once, when the window is shown, as
// the platform draws a view tree it is given; later changes to the views need a new render.
class QtViewRenderer final {
public:
    // Replaces the contents of `host` with widgets that show `root` and its subviews, `root`
    // filling `host`. `translucent`: whether surfaces may be drawn translucent.
    static void render(const View& root, QWidget& host, bool translucent);
};

}  // namespace platform::qt
