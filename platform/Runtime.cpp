#include "platform/Runtime.h"

namespace platform {

namespace {
std::unique_ptr<Runtime>& current() {
    static std::unique_ptr<Runtime> instance;
    return instance;
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
