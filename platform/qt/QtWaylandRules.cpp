#include "platform/qt/QtWaylandRules.h"

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

std::optional<std::size_t> outputUnder(const std::vector<QRect>& outputs, const QRect& frame) {
    std::optional<std::size_t> best;
    long long bestArea = 0;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const QRect common = outputs[i].intersected(frame);
        const long long area = static_cast<long long>(common.width()) * common.height();
        if (!common.isEmpty() && area > bestArea) {
            bestArea = area;
            best = i;
        }
    }
    return best;
}

std::uint32_t shmPixel(const Color& color) {
    return 0xFF000000U | pixelForColor(color, 0x00FF0000U, 0x0000FF00U, 0x000000FFU);
}

}  // namespace platform::qt
