#pragma once

// The layer's shared objects, made anew with each installed backend. Private to the layer.

#include <memory>

#include "platform/Application.h"
#include "platform/ColorPanel.h"
#include "platform/NotificationCenter.h"
#include "platform/PlatformIntegration.h"
#include "platform/StatusBar.h"

namespace platform {

struct Runtime {
    std::unique_ptr<PlatformIntegration> integration;
    Application application;
    NotificationCenter notificationCenter;
    StatusBar statusBar;
    std::unique_ptr<ColorPanel> colorPanel;
};

// The shared objects of the installed backend (installing the default one if none is).
Runtime& runtime();

}  // namespace platform
