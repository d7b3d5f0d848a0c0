#include "platform/Application.h"

#include "platform/Runtime.h"
#include "platform/Window.h"

namespace platform {

Application& Application::sharedApplication() {
    return runtime().application;
}

void Application::setDelegate(ApplicationDelegate* delegate) {
    delegate_ = weakRefTo(delegate);
}

ApplicationDelegate* Application::delegate() const {
    return static_cast<ApplicationDelegate*>(delegate_.get());
}

void Application::run() {
    platformIntegration().run(*this);
}

void Application::finishLaunching() {
    if (launched_) {
        return;
    }
    launched_ = true;
    if (Object* delegate = delegate_.get()) {
        delegate->performSelector("applicationDidFinishLaunching:", nullptr);
    }
}

bool Application::setActivationPolicy(NSApplicationActivationPolicy policy) {
    return platformIntegration().setActivationPolicy(policy);
}

void Application::activateIgnoringOtherApps(bool /*ignoreOtherApps*/) {
    platformIntegration().activateIgnoringOtherApps();
}

void Application::terminate(Object* /*sender*/) {
    platformIntegration().terminate();
}

std::shared_ptr<const Image> Application::applicationIconImage() const {
    return platformIntegration().applicationIconImage();
}

Object* Application::targetForAction(const Selector& action, Object* target) const {
    if (target != nullptr) {
        return target->respondsToSelector(action) ? target : nullptr;
    }
    Object* chain[] = {platformIntegration().keyWindow(), const_cast<Application*>(this),
                       delegate_.get()};
    for (Object* responder : chain) {
        if (responder != nullptr && responder->respondsToSelector(action)) {
            return responder;
        }
    }
    return nullptr;
}

bool Application::sendAction(const Selector& action, Object* target, Object* sender) {
    Object* receiver = targetForAction(action, target);
    return receiver != nullptr && receiver->performSelector(action, sender);
}

}  // namespace platform
