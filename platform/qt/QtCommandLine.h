#pragma once

#include <string>
#include <vector>

namespace platform::qt {

// The arguments the program was started with, its name left out, read from
// /proc/self/cmdline (none where that cannot be read).
std::vector<std::string> ownArguments();

// With no arguments, returns. For `--help` or `--version` alone, prints it on stdout and ends
// the process with status 0; for anything else, prints a one-line usage error on stderr and
// ends it with status 2. Touches no display.
void obeyCommandLine(const std::vector<std::string>& arguments);

}  // namespace platform::qt
