#include "platform/Runtime.h"

namespace platform {

namespace {
// Never destroyed at exit: the program's own process-wide objects (the delegate and its
// windows) may be destroyed after this file's statics would be, and must still find their
// backend alive then.
std::unique_ptr<Runtime>& current() {
    static auto* instance = new std::unique_ptr<Runtime>();
    return *instance;
}
}  // namespace

void installPlatformIntegration(std::unique_ptr<PlatformIntegration> integration) {
    // The old shared objects go first: they may still refer to the old backend.
    current().reset();
    if (!integration) {
        return;
    }
    auto fresh = std::make_unique<Runtime>();
    fresh->integration = std::move(integration);
    current() = std::move(fresh);
}

Runtime& runtime() {
    if (!current()) {
        installPlatformIntegration(createDefaultPlatformIntegration());
    }
    return *current();
}

PlatformIntegration& platformIntegration() {
    return *runtime().integration;
}

}  // namespace platform
