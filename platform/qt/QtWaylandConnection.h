#pragma once

#include <QObject>
#include <QRect>
#include <QSocketNotifier>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Geometry.h"
#include "platform/qt/QtConversions.h"
#include "platform/qt/QtScreenChangeNotice.h"

struct wl_compositor;
struct wl_display;
struct wl_output;
struct wl_registry;
struct wl_shm;
struct wp_viewporter;
struct zwlr_layer_shell_v1;
struct zxdg_output_manager_v1;

namespace platform::qt {

class WaylandLayerSurface;

// The backend's own connection to the Wayland compositor, beside Qt's: the globals the overlays
// are made of and the outputs, which are the program's displays. Its socket is served from Qt's
// event loop: read when it has data, and the events already read dispatched and the requests
// sent each time the loop is about to wait.
class WaylandConnection final {
public:
    // Connects to `display` (a WAYLAND_DISPLAY value) and reads the globals and every output's
    // place; null when there is no compositor there or it lacks a global the overlays need.
    static std::unique_ptr<WaylandConnection> connect(const std::string& display);
    ~WaylandConnection();
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    // One output and what the compositor has said of it (defined with the event handlers).
    struct Output;

    // The outputs whose place is known, in logical coordinates, the one at the origin first.
    std::vector<Monitor> monitors() const;
    // The outputs' frames in platform coordinates, in the order of monitors().
    std::vector<Rect> frames() const;
    // The logical rectangle platform coordinates are relative to: the first of monitors(), or
    // an empty one at the origin while there is no output.
    QRect reference() const;
    // The global name of the output that `logicalFrame` overlaps most, one without an overlay
    // of its own where several show that place; 0 when it overlaps none.
    std::uint32_t outputUnder(const QRect& logicalFrame) const;
    // The output with that global name, or null once the compositor has removed it.
    wl_output* output(std::uint32_t name) const;
    // That output's logical rectangle; an empty one once it is gone.
    QRect outputGeometry(std::uint32_t name) const;
    // How many of that output's pixels a logical pixel is across (wl_output.scale, which a
    // compositor with fractional scales rounds up); 1 once it is gone.
    std::int32_t outputScale(std::uint32_t name) const;

    wl_compositor* compositor() const { return compositor_; }
    // Whether wl_surface.damage_buffer can be sent (wl_compositor version 4).
    bool hasDamageBuffer() const { return compositorVersion_ >= 4; }
    wl_shm* shm() const { return shm_; }
    zwlr_layer_shell_v1* layerShell() const { return layerShell_; }
    wp_viewporter* viewporter() const { return viewporter_; }

    // Sends the requests queued so far; the compositor acts on them without waiting for the
    // event loop to pass.
    void flush();

    // Called by the layer surfaces, which the connection lets go of if it ends first.
    void surfaceCreated(WaylandLayerSurface* surface) { surfaces_.push_back(surface); }
    void surfaceDestroyed(WaylandLayerSurface* surface);
    // Destroys every layer surface's Wayland objects while the connection is up; the surfaces
    // do nothing afterwards.
    void releaseSurfaces();

private:
    explicit WaylandConnection(wl_display* display);

    static void onGlobal(void* data, wl_registry* registry, std::uint32_t name,
                         const char* interface, std::uint32_t version);
    static void onGlobalRemoved(void* data, wl_registry* registry, std::uint32_t name);
    void addOutput(std::uint32_t name, std::uint32_t version);
    // Asks the compositor for the logical place of `output` (xdg-output).
    void describe(Output& output);
    // An output came, went or changed: the displays are checked on the next pass of the loop.
    void outputsChanged() { notice_.request(); }
    // The output with that global name, or null.
    const Output* find(std::uint32_t name) const;

    // Reads what the socket has and dispatches it.
    void readEvents();
    // Dispatches events already read and sends what is queued; ends the process when the
    // connection is broken.
    void dispatchPending();
    [[noreturn]] void connectionLost();

    wl_display* display_;
    wl_registry* registry_ = nullptr;
    wl_compositor* compositor_ = nullptr;
    std::uint32_t compositorVersion_ = 0;
    wl_shm* shm_ = nullptr;
    zwlr_layer_shell_v1* layerShell_ = nullptr;
    std::uint32_t layerShellVersion_ = 0;
    wp_viewporter* viewporter_ = nullptr;
    zxdg_output_manager_v1* outputManager_ = nullptr;
    std::vector<std::unique_ptr<Output>> outputs_;
    std::vector<WaylandLayerSurface*> surfaces_;
    ScreenChangeNotice notice_;
    QObject context_;
    std::unique_ptr<QSocketNotifier> notifier_;
    // Enabled only while requests wait for room in the socket.
    std::unique_ptr<QSocketNotifier> writable_;
};

}  // namespace platform::qt
