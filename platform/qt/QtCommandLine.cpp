#include "platform/qt/QtCommandLine.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace platform::qt {

namespace {
constexpr char kUsage[] = "usage: vellumor [--help | --version]";

constexpr char kHelp[] =
    "usage: vellumor [--help | --version]\n"
    "\n"
    "Covers every display with one solid colour, just above the desktop and below every\n"
    "window, until it is quit. Its tray icon's menu picks the colour, shows or hides the\n"
    "cover, shows the About window and quits; the colour is kept for the next start.\n"
    "\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n";
}  // namespace

std::vector<std::string> ownArguments() {
    std::ifstream file("/proc/self/cmdline", std::ios::binary);
    // Each argument ends in a NUL; the first is the program's name.
    std::vector<std::string> arguments;
    for (std::string argument; std::getline(file, argument, '\0');) {
        arguments.push_back(argument);
    }
    if (!arguments.empty()) {
        arguments.erase(arguments.begin());
    }
    return arguments;
}

void obeyCommandLine(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        return;
    }
    if (arguments.size() == 1 && arguments[0] == "--help") {
        std::fputs(kHelp, stdout);
        std::exit(EXIT_SUCCESS);
    }
    if (arguments.size() == 1 && arguments[0] == "--version") {
        std::printf("vellumor %s\n", VELLUMOR_VERSION);
        std::exit(EXIT_SUCCESS);
    }
    // The first argument that does not belong, after a lone --help or --version the second.
    const bool firstIsKnown = arguments[0] == "--help" || arguments[0] == "--version";
    const std::string& wrong = firstIsKnown ? arguments[1] : arguments[0];
    std::fprintf(stderr, "vellumor: unexpected argument '%s'; %s\n", wrong.c_str(), kUsage);
    std::exit(2);
}

}  // namespace platform::qt
