#pragma once

// The rules by which the Wayland half of the Linux backend turns what the compositor says into
// the platform's terms and back. They depend on nothing but their arguments, so they are built
// with or without libwayland.

#include <QRect>

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/Color.h"
#include "platform/qt/QtConversions.h"

namespace platform::qt {

// The window system the Linux backend runs on.
enum class WindowSystem { X11, Wayland };

// What the Wayland display named by WAYLAND_DISPLAY offers the overlays.
struct WaylandAnswer {
    enum class Kind {
        // WAYLAND_DISPLAY is unset or empty: the session is not a Wayland one.
        NotNamed,
        // Nothing accepts a connection there.
        NoCompositor,
        // A compositor answers but lacks globals the overlays need (see `missing`).
        Lacking,
        // The compositor has all the overlays need, but Qt has no Wayland platform to show the
        // program's windows with.
        NoQtPlatform,
        // The compositor has all the overlays need.
        Usable,
    };
    Kind kind = Kind::NotNamed;
    // The interfaces the compositor lacks, in the order they were looked for.
    std::vector<std::string> missing;
};

// The window system to run on, or the one line that tells the user why there is none: Wayland
// when its compositor has what the overlays need, else X11 when `xProblem` (see
// xDisplayProblem) is empty. `waylandDisplay` is WAYLAND_DISPLAY's value, for the message.
std::variant<WindowSystem, std::string> chooseWindowSystem(
    const std::string& waylandDisplay, const WaylandAnswer& wayland,
    const std::optional<std::string>& xProblem);

// The outputs, in logical coordinates (the compositor's desktop, y down), as monitors: the one
// whose top-left corner is the origin first, since Wayland has no primary output and
// compositors put the first output there; else the first in the compositor's order.
std::vector<Monitor> outputMonitors(const std::vector<QRect>& outputs);

// The index of the output that `frame` (logical coordinates) overlaps most; of equal overlaps,
// the first that is not `taken` (outputs that show the same place, as mirrored ones do, each
// need an overlay of their own), else the first; nothing when it overlaps none. `taken` has one
// entry per output.
std::optional<std::size_t> outputUnder(const std::vector<QRect>& outputs, const QRect& frame,
                                       const std::vector<bool>& taken);

// The wl_shm XRGB8888 pixel that shows `color`: 8 bits a channel, the unused byte all ones.
std::uint32_t shmPixel(const Color& color);

// How many pixels long, along one axis, the buffer of one colour is that the compositor scales
// to an overlay `surfaceLength` logical pixels long on an output of `scale` (wl_output.scale).
// Compositors that scale in 16.16 fixed point (pixman's) round the step from one output pixel
// to the next by up to 1/65536 of a buffer pixel; summed over the output that runs past a 1
// pixel buffer's far edge from 1/65536 of a step on (the last 6 rows at 1080, the last column
// at 800), where the wallpaper then shows. The buffer is made long enough that the sum stays
// inside it with room to spare: 2 pixels up to 181 output pixels, 37 at 1080, 452 at 3840, at
// most 2048 (enough up to 8192 output pixels).
std::uint32_t pixelBufferLength(std::uint32_t surfaceLength, std::int32_t scale);

}  // namespace platform::qt
