#pragma once

// Runs the vellumor program once to its end, for start-ups that are meant to end at once: its
// exit status and what it wrote on each stream.

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace vellumor::x11test {

struct ShortRun {
    // The exit status; 128 + n for a death by signal n, 124 if it ran for 20 s.
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string fileText(const std::filesystem::path& file) {
    std::ostringstream text;
    text << std::ifstream(file).rdbuf();
    return text.str();
}

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

// Runs vellumor with `arguments` in `directory` (its home and config directory), with
// `environment` (env(1) operands such as "-u DISPLAY" or "DISPLAY=:3") and no session bus.
inline ShortRun runVellumorToEnd(const std::filesystem::path& directory,
                                 const std::string& environment, const std::string& arguments) {
    const auto out = directory / "stdout.log";
    const auto err = directory / "stderr.log";
    const std::string line =
        "timeout 20 env -u DBUS_SESSION_BUS_ADDRESS HOME=" + directory.string() +
        " XDG_CONFIG_HOME=" + (directory / "config").string() +
        " LSAN_OPTIONS=suppressions=" + VELLUMOR_LSAN_SUPPRESSIONS + " env " + environment + " " +
        VELLUMOR_BINARY + " " + arguments + " >" + out.string() + " 2>" + err.string() +
        " </dev/null";
    const int status = std::system(line.c_str());
    ShortRun run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = fileText(out);
    run.err = fileText(err);
    return run;
}

}  // namespace vellumor::x11test
