#pragma once

#include <cstdint>
#include <vector>

#include "platform/Color.h"

struct wl_buffer;
struct wl_surface;
struct wp_viewport;
struct zwlr_layer_surface_v1;

namespace platform::qt {

class WaylandConnection;

// One overlay on Wayland: a surface in the compositor's bottom layer on one output (above the
// wallpaper, below every ordinary window, on every workspace), anchored to all four edges so
// that it spans the output, reaching under panels, never taking the keyboard. It shows a small
// buffer of one colour that the compositor scales to the surface's size: long enough along each
// axis for the compositor's rounding (see pixelBufferLength), some 17 kB at 1920 x 1080.
class WaylandLayerSurface final {
public:
    // A surface for the output of global name `output`, in `color`; not shown yet.
    WaylandLayerSurface(WaylandConnection& connection, std::uint32_t output, const Color& color);
    ~WaylandLayerSurface();
    WaylandLayerSurface(const WaylandLayerSurface&) = delete;
    WaylandLayerSurface& operator=(const WaylandLayerSurface&) = delete;

    // The global name of the output the surface is for.
    std::uint32_t output() const { return output_; }

    // Maps the surface: at once when the compositor has configured it, else as soon as it
    // does. Nothing appears while the output is gone.
    void show();
    // Unmaps the surface (a null buffer), keeping it for a later show.
    void hide();
    // Whether show was asked for more lately than hide.
    bool isShown() const { return shown_; }
    // Shows `color` from the next frame on, whether mapped or not.
    void setColor(const Color& color);
    // Whether clicks on the surface go to it (the whole surface) or through it (none of it).
    void setTakesClicks(bool takesClicks);
    // Destroys the Wayland objects while the connection is up; the surface does nothing
    // afterwards. Called by the connection when it ends first.
    void release();

    // The compositor gave the surface its size: acknowledged, and the pixel attached if shown.
    void configured(std::uint32_t serial, std::uint32_t width, std::uint32_t height);
    // The compositor took the surface away: its objects go, and show makes them anew.
    void closed();
    // The compositor no longer reads `buffer`.
    void bufferReleased(wl_buffer* buffer);

private:
    // Makes the surface and its layer role, and commits it bare so that the compositor
    // configures it.
    void create();
    void destroyRole();
    // Attaches the current colour's pixel and commits.
    void attachPixel();
    // Lets go of the current pixel buffer: now if the compositor has released it, else when
    // it does.
    void retireBuffer();
    void applyInputRegion();

    WaylandConnection* connection_;
    std::uint32_t output_;
    std::uint32_t pixel_;
    bool takesClicks_ = true;
    bool shown_ = false;
    wl_surface* surface_ = nullptr;
    zwlr_layer_surface_v1* layer_ = nullptr;
    wp_viewport* viewport_ = nullptr;
    // Configured since the surface was made or last unmapped, and whether a buffer is on it.
    bool configured_ = false;
    bool mapped_ = false;
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
    // The buffer that holds pixel_, its size, and whether the compositor may still read it.
    wl_buffer* buffer_ = nullptr;
    std::uint32_t bufferPixel_ = 0;
    std::uint32_t bufferWidth_ = 0;
    std::uint32_t bufferHeight_ = 0;
    bool bufferBusy_ = false;
    // Buffers of earlier colours that the compositor may still read: each goes when it is
    // released, or with the surface.
    std::vector<wl_buffer*> retired_;
};

}  // namespace platform::qt
