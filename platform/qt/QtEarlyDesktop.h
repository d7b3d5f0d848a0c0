#pragma once

// No Qt here: this is what the program's launcher does before Qt's libraries are loaded.

#include <xcb/xcb.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace platform::qt {

// How the overlays looked when the program last ran: their background pixel, and the channel
// masks of the root visual that give the pixel its colour.
struct DesktopLook {
    std::uint32_t pixel = 0;
    std::uint32_t redMask = 0;
    std::uint32_t greenMask = 0;
    std::uint32_t blueMask = 0;
    friend bool operator==(const DesktopLook&, const DesktopLook&) = default;
};

// The look as it is kept in its file: one line of four hexadecimal numbers.
std::string desktopLookText(const DesktopLook& look);
// The look kept at `path`; nothing when there is none or the file holds anything else.
std::optional<DesktopLook> readDesktopLook(const std::filesystem::path& path);

// The X selection held by the one Vellumor of this user on X screen `screenNumber`.
std::string instanceSelectionName(int screenNumber);

// The overlays' stand-ins, for the time it takes to load the program: on each RandR monitor
// of DISPLAY, a window in the look kept at `lookPath`, at the bottom of the stack, typed as a
// desktop window and taking the clicks that land on it. Nothing is shown, and null returned,
// when no look is kept for the screen's visual, Vellumor of this user runs there already, or
// no X server answers. The windows live as long as the connection returned; disconnecting it
// removes them.
xcb_connection_t* showEarlyDesktop(const std::filesystem::path& lookPath);

// The instance name of the stand-ins' WM_CLASS; their class is the program's.
inline constexpr char kEarlyDesktopInstance[] = "vellumor-start";

}  // namespace platform::qt

// Hands the program the stand-ins' connection (null: none were shown), before its main runs;
// defined by the program's module and looked up by the launcher, which loads it.
extern "C" void vellumorTakeEarlyDesktop(xcb_connection_t* connection);
