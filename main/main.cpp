#include "main/AppDelegate.h"
#include "platform/Application.h"

namespace {
// The application object and the one delegate, held for the life of the process. The
// delegate is never destroyed: the process ends inside terminate, and tearing the delegate
// down on the way out (closing windows, removing the status item) would run while the
// window system may still be tracking its menu, or after it has gone.
platform::Application* app = nullptr;
vellumor::AppDelegate* delegate = nullptr;
}  // namespace

int main() {
    app = &platform::Application::sharedApplication();
    delegate = new vellumor::AppDelegate();
    app->setDelegate(delegate);
    app->run();
    return 0;
}
