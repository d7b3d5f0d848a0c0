#include <filesystem>

#include "platform/headless/HeadlessPlatform.h"

namespace platform {

// A program built on the in-memory window system keeps its defaults in the temporary
// directory, so that running it leaves nothing in the user's own settings.
std::unique_ptr<PlatformIntegration> createDefaultPlatformIntegration() {
    return std::make_unique<headless::HeadlessPlatform>(std::filesystem::temp_directory_path() /
                                                        "vellumor-headless");
}

}  // namespace platform
