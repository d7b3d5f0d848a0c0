#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/Color.h"
#include "tests/support/ProgramTest.h"

namespace vellumor::testing {

// The whole program on the in-memory desktop, plus what reliability tests look at outside
// it: the defaults file itself and whatever else lies in the defaults directory.
class ReliabilityTest : public ProgramTest {
protected:
    static inline const std::string kColorKey = "selectedBackgroundColor";

    // The colour shown before any pick.
    static platform::Color defaultGrey() {
        return platform::Color::colorWithCalibratedRed(0.1, 0.1, 0.1, 1.0);
    }
    // The file the program keeps its defaults in, launched or not.
    std::filesystem::path domainFile() const;
    // The colour a fresh reader finds in the defaults file, or nothing when the file is
    // missing, unreadable or holds no colour archive.
    std::optional<platform::Color> colorInFile() const;
    // Names in the defaults directory other than the domain file (left-over temporaries).
    std::vector<std::string> strayFiles() const;
    // The colours the running program's overlays show, one per overlay.
    std::vector<platform::Color> overlayColours() const;
};

}  // namespace vellumor::testing
