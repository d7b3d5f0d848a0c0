#include "tests/reliability/ReliabilitySupport.h"

#include "platform/common/DefaultsFile.h"
#include "platform/common/KeyedArchive.h"
#include "platform/headless/HeadlessPlatform.h"

namespace vellumor::testing {

namespace fs = std::filesystem;

fs::path ReliabilityTest::domainFile() const {
    // A desktop that is never installed reads the file and changes nothing.
    return platform::headless::HeadlessPlatform(defaultsDirectory(), {}).defaultsFilePath();
}

std::optional<platform::Color> ReliabilityTest::colorInFile() const {
    const platform::common::DefaultsFile file(domainFile());
    const auto data = file.dataForKey(kColorKey);
    return data ? platform::common::unarchiveColor(*data) : std::nullopt;
}

std::vector<std::string> ReliabilityTest::strayFiles() const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(defaultsDirectory(), error)) {
        if (entry.path().filename() != domainFile().filename()) {
            names.push_back(entry.path().filename().string());
        }
    }
    return names;
}

std::vector<platform::Color> ReliabilityTest::overlayColours() const {
    std::vector<platform::Color> colours;
    for (OverlayWindow* overlay : overlays()) {
        colours.push_back(overlay->backgroundColor());
    }
    return colours;
}

}  // namespace vellumor::testing
