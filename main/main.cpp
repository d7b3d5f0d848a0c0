#include <memory>

#include "main/AppDelegate.h"
#include "platform/Application.h"

namespace {
// The application object and the one delegate, held for the life of the process; the
// application's link to its delegate does not keep the delegate alive.
platform::Application* app = nullptr;
std::unique_ptr<vellumor::AppDelegate> delegate;
}  // namespace

int main() {
    app = &platform::Application::sharedApplication();
    delegate = std::make_unique<vellumor::AppDelegate>();
    app->setDelegate(delegate.get());
    app->run();
    return 0;
}
