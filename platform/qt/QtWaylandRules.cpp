#include "platform/qt/QtWaylandRules.h"

#include <algorithm>

namespace platform::qt {

std::variant<WindowSystem, std::string> chooseWindowSystem(
    const std::string& waylandDisplay, const WaylandAnswer& wayland,
    const std::optional<std::string>& xProblem) {
    using Kind = WaylandAnswer::Kind;
    if (wayland.kind == Kind::Usable) {
        return WindowSystem::Wayland;
    }
    if (!xProblem) {
        return WindowSystem::X11;
    }
    std::string line = "vellumor: ";
    if (wayland.kind == Kind::NoCompositor) {
        line += "no Wayland compositor at \"" + waylandDisplay + "\" and ";
    } else if (wayland.kind == Kind::Lacking) {
        line += "the Wayland compositor at \"" + waylandDisplay + "\" lacks";
        for (std::size_t i = 0; i < wayland.missing.size(); ++i) {
            line += (i == 0 ? " " : ", ") + wayland.missing[i];
        }
        line += " and ";
    } else if (wayland.kind == Kind::NoQtPlatform) {
        line += "Qt's Wayland platform is not installed (qt6-wayland) and ";
    }
    line += *xProblem;
    // A compositor without the layer shell (GNOME's) cannot keep a window below the others;
    // its X server can, so that is the way there.
    if (wayland.kind == Kind::Lacking) {
        line += ": run it through XWayland (set DISPLAY)";
    } else if (wayland.kind == Kind::NoQtPlatform) {
        line += ": install qt6-wayland, or set DISPLAY";
    } else {
        line += ": set DISPLAY, or WAYLAND_DISPLAY to a compositor with the layer shell";
    }
    return line;
}

std::vector<Monitor> outputMonitors(const std::vector<QRect>& outputs) {
    std::vector<Monitor> monitors;
    monitors.reserve(outputs.size());
    bool originTaken = false;
    for (const QRect& output : outputs) {
        const bool atOrigin = !originTaken && output.topLeft() == QPoint(0, 0);
        originTaken = originTaken || atOrigin;
        monitors.push_back({output, atOrigin});
    }
    return primaryFirst(std::move(monitors));
}

std::optional<std::size_t> outputUnder(const std::vector<QRect>& outputs, const QRect& frame,
                                       const std::vector<bool>& taken) {
    std::optional<std::size_t> best;
    long long bestArea = 0;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const QRect common = outputs[i].intersected(frame);
        const long long area = static_cast<long long>(common.width()) * common.height();
        const bool freer = best && area == bestArea && taken[*best] && !taken[i];
        if (!common.isEmpty() && (area > bestArea || freer)) {
            bestArea = area;
            best = i;
        }
    }
    return best;
}

std::uint32_t shmPixel(const Color& color) {
    return 0xFF000000U | pixelForColor(color, 0x00FF0000U, 0x0000FF00U, 0x000000FFU);
}

std::uint32_t pixelBufferLength(std::uint32_t surfaceLength, std::int32_t scale) {
    // Over P output pixels the centre of the last one lies P - 1/2 steps of N/P + e into a
    // buffer N pixels long, inside it while (P - 1/2) e < N / (2 P). With e up to 1/65536 (one
    // rounding when the compositor inverts its transform, much less from the others) that is
    // N > P (P - 1/2) / 32768, which the floor of P^2 / 32768 plus one meets; one more is the
    // room to spare. Lengths past 2^16 all get the longest buffer, and their square fits.
    const std::uint64_t physical =
        std::min(static_cast<std::uint64_t>(surfaceLength) * std::uint64_t(std::max(scale, 1)),
                 std::uint64_t{1} << 16);
    const std::uint64_t length = physical * physical / 32768U + 2U;
    // Never longer than the output, where the compositor scales by 1 or shrinks, nor than 2048,
    // which still holds 8192 output pixels (8K) and costs 16 MB at most, for a square buffer.
    return static_cast<std::uint32_t>(
        std::min({length, std::max<std::uint64_t>(physical, 1U), std::uint64_t{2048}}));
}

}  // namespace platform::qt
