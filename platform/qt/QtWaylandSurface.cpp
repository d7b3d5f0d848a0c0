#include "platform/qt/QtWaylandSurface.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <QRect>

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/qt/QtWaylandConnection.h"
#include "platform/qt/QtWaylandRules.h"
#include "viewporter-client-protocol.h"
#include "wlr-layer-shell-unstable-v1-client-protocol.h"

namespace platform::qt {

namespace {
void layerConfigured(void* data, zwlr_layer_surface_v1* /*layer*/, std::uint32_t serial,
                     std::uint32_t width, std::uint32_t height) {
    static_cast<WaylandLayerSurface*>(data)->configured(serial, width, height);
}
void layerClosed(void* data, zwlr_layer_surface_v1* /*layer*/) {
    static_cast<WaylandLayerSurface*>(data)->closed();
}
constexpr zwlr_layer_surface_v1_listener kLayerListener{layerConfigured, layerClosed};

void bufferReleased(void* data, wl_buffer* buffer) {
    static_cast<WaylandLayerSurface*>(data)->bufferReleased(buffer);
}
constexpr wl_buffer_listener kBufferListener{bufferReleased};

// A `width` x `height` XRGB8888 buffer all of `pixel`, or null when no shared memory could be
// had. The pool's memory is the compositor's to map; this side keeps neither the mapping nor
// the descriptor.
wl_buffer* pixelBuffer(wl_shm* shm, std::uint32_t pixel, std::uint32_t width,
                       std::uint32_t height) {
    const int fd = ::memfd_create("vellumor-pixel", MFD_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    const std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height, pixel);
    const auto size = static_cast<ssize_t>(pixels.size() * sizeof pixel);
    wl_buffer* buffer = nullptr;
    if (::write(fd, pixels.data(), static_cast<std::size_t>(size)) == size) {
        wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<std::int32_t>(size));
        buffer = wl_shm_pool_create_buffer(
            pool, 0, static_cast<std::int32_t>(width), static_cast<std::int32_t>(height),
            static_cast<std::int32_t>(width * sizeof pixel), WL_SHM_FORMAT_XRGB8888);
        wl_shm_pool_destroy(pool);
    }
    ::close(fd);
    return buffer;
}
}  // namespace

WaylandLayerSurface::WaylandLayerSurface(WaylandConnection& connection, std::uint32_t output,
                                         const Color& color)
    : connection_(&connection), output_(output), pixel_(shmPixel(color)) {
    connection_->surfaceCreated(this);
}

WaylandLayerSurface::~WaylandLayerSurface() {
    if (connection_ != nullptr) {
        connection_->surfaceDestroyed(this);
        release();
    }
}

void WaylandLayerSurface::release() {
    if (connection_ == nullptr) {
        return;
    }
    // With the surface gone the compositor shows none of its buffers any more.
    destroyRole();
    retireBuffer();
    for (wl_buffer* buffer : std::exchange(retired_, {})) {
        wl_buffer_destroy(buffer);
    }
    connection_->flush();
    connection_ = nullptr;
}

void WaylandLayerSurface::create() {
    wl_output* output = connection_->output(output_);
    if (output == nullptr) {
        return;
    }
    surface_ = wl_compositor_create_surface(connection_->compositor());
    layer_ = zwlr_layer_shell_v1_get_layer_surface(connection_->layerShell(), surface_, output,
                                                   ZWLR_LAYER_SHELL_V1_LAYER_BOTTOM, "vellumor");
    zwlr_layer_surface_v1_add_listener(layer_, &kLayerListener, this);
    // Held against all four edges with no size of its own, the surface is as large as the
    // output; an exclusive zone of -1 puts it under panels rather than beside them.
    zwlr_layer_surface_v1_set_size(layer_, 0, 0);
    zwlr_layer_surface_v1_set_anchor(
        layer_, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                    ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
    zwlr_layer_surface_v1_set_exclusive_zone(layer_, -1);
    zwlr_layer_surface_v1_set_keyboard_interactivity(
        layer_, ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE);
    viewport_ = wp_viewporter_get_viewport(connection_->viewporter(), surface_);
    applyInputRegion();
    configured_ = false;
    mapped_ = false;
    wl_surface_commit(surface_);
    connection_->flush();
}

void WaylandLayerSurface::destroyRole() {
    if (viewport_ != nullptr) {
        wp_viewport_destroy(viewport_);
        viewport_ = nullptr;
    }
    if (layer_ != nullptr) {
        zwlr_layer_surface_v1_destroy(layer_);
        layer_ = nullptr;
    }
    if (surface_ != nullptr) {
        wl_surface_destroy(surface_);
        surface_ = nullptr;
    }
    configured_ = false;
    mapped_ = false;
}

void WaylandLayerSurface::applyInputRegion() {
    if (surface_ == nullptr) {
        return;
    }
    if (takesClicks_) {
        // No region is the whole surface, however large the compositor makes it.
        wl_surface_set_input_region(surface_, nullptr);
    } else {
        wl_region* none = wl_compositor_create_region(connection_->compositor());
        wl_surface_set_input_region(surface_, none);
        wl_region_destroy(none);
    }
}

void WaylandLayerSurface::show() {
    shown_ = true;
    if (connection_ == nullptr) {
        return;
    }
    if (surface_ == nullptr) {
        create();
    } else if (configured_ && !mapped_) {
        attachPixel();
    } else if (!configured_) {
        // Unmapped by a null buffer, the surface is as new: a bare commit has the compositor
        // configure it again.
        wl_surface_commit(surface_);
        connection_->flush();
    }
}

void WaylandLayerSurface::hide() {
    shown_ = false;
    if (connection_ == nullptr || !mapped_) {
        return;
    }
    wl_surface_attach(surface_, nullptr, 0, 0);
    wl_surface_commit(surface_);
    mapped_ = false;
    configured_ = false;
    connection_->flush();
}

void WaylandLayerSurface::setColor(const Color& color) {
    pixel_ = shmPixel(color);
    if (connection_ != nullptr && mapped_) {
        attachPixel();
    }
}

void WaylandLayerSurface::setTakesClicks(bool takesClicks) {
    takesClicks_ = takesClicks;
    if (connection_ != nullptr && surface_ != nullptr) {
        applyInputRegion();
        wl_surface_commit(surface_);
        connection_->flush();
    }
}

void WaylandLayerSurface::configured(std::uint32_t serial, std::uint32_t width,
                                     std::uint32_t height) {
    if (layer_ == nullptr) {
        return;
    }
    zwlr_layer_surface_v1_ack_configure(layer_, serial);
    configured_ = true;
    // Anchored to all four edges the compositor gives the output's size; should it give none,
    // the output's logical size stands in.
    const QRect place = connection_->outputGeometry(output_);
    width_ = width != 0 ? width : static_cast<std::uint32_t>(std::max(place.width(), 1));
    height_ = height != 0 ? height : static_cast<std::uint32_t>(std::max(place.height(), 1));
    if (shown_) {
        attachPixel();
    } else {
        // The acknowledgement takes effect with a commit.
        wl_surface_commit(surface_);
        connection_->flush();
    }
}

void WaylandLayerSurface::closed() {
    // The compositor took the surface away (its output went, say): it is made anew if shown
    // again while the output is there.
    destroyRole();
    if (connection_ != nullptr) {
        connection_->flush();
    }
}

void WaylandLayerSurface::attachPixel() {
    // The buffer is as long as the surface needs along each axis (see pixelBufferLength), so a
    // new size may want a new buffer as well as a new colour.
    const std::int32_t scale = connection_->outputScale(output_);
    const std::uint32_t bufferWidth = pixelBufferLength(width_, scale);
    const std::uint32_t bufferHeight = pixelBufferLength(height_, scale);
    if (buffer_ == nullptr || bufferPixel_ != pixel_ || bufferWidth_ != bufferWidth ||
        bufferHeight_ != bufferHeight) {
        retireBuffer();
        buffer_ = pixelBuffer(connection_->shm(), pixel_, bufferWidth, bufferHeight);
        if (buffer_ == nullptr) {
            return;
        }
        bufferPixel_ = pixel_;
        bufferWidth_ = bufferWidth;
        bufferHeight_ = bufferHeight;
        bufferBusy_ = false;
        wl_buffer_add_listener(buffer_, &kBufferListener, this);
    }
    wp_viewport_set_destination(viewport_, static_cast<std::int32_t>(width_),
                                static_cast<std::int32_t>(height_));
    wl_surface_attach(surface_, buffer_, 0, 0);
    if (connection_->hasDamageBuffer()) {
        wl_surface_damage_buffer(surface_, 0, 0, static_cast<std::int32_t>(bufferWidth_),
                                 static_cast<std::int32_t>(bufferHeight_));
    } else {
        wl_surface_damage(surface_, 0, 0, INT32_MAX, INT32_MAX);
    }
    wl_surface_commit(surface_);
    bufferBusy_ = true;
    mapped_ = true;
    connection_->flush();
}

void WaylandLayerSurface::bufferReleased(wl_buffer* buffer) {
    if (buffer == buffer_) {
        bufferBusy_ = false;
    } else if (std::erase(retired_, buffer) > 0) {
        wl_buffer_destroy(buffer);
    }
}

void WaylandLayerSurface::retireBuffer() {
    if (buffer_ == nullptr) {
        return;
    }
    if (bufferBusy_) {
        retired_.push_back(buffer_);
    } else {
        wl_buffer_destroy(buffer_);
    }
    buffer_ = nullptr;
}

}  // namespace platform::qt
