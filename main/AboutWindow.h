#pragma once

#include "platform/View.h"
#include "platform/Window.h"

namespace vellumor {

// The About window: the program's icon, name, build line and copyright line, one above the
// other and centred on a translucent background under a transparent, untitled title bar.
class AboutWindow final : public platform::Window {
public:
    // The complete window, centred and not yet shown. The icon and the build line are read
    // now, once: a window that already exists does not change.
    AboutWindow();

private:
    void setupUI(platform::View& container);
};

}  // namespace vellumor
