#include "platform/qt/QtWaylandConnection.h"

#include <wayland-client.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/qt/QtWaylandRules.h"
#include "platform/qt/QtWaylandSurface.h"
#include "viewporter-client-protocol.h"
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"

namespace platform::qt {

// One wl_output and what the compositor has said of its place.
struct WaylandConnection::Output {
    WaylandConnection* connection = nullptr;
    std::uint32_t name = 0;
    std::uint32_t version = 0;
    wl_output* output = nullptr;
    zxdg_output_v1* description = nullptr;
    // From xdg-output: the place in the compositor's logical desktop.
    QPoint logicalPosition;
    QSize logicalSize;
    // From wl_output alone, for a compositor without xdg-output.
    QPoint position;
    QSize modeSize;
    std::int32_t scale = 1;
    std::int32_t transform = WL_OUTPUT_TRANSFORM_NORMAL;

    // The logical rectangle; an empty one until the compositor has told it.
    QRect logical() const {
        if (connection->outputManager_ != nullptr) {
            return {logicalPosition, logicalSize};
        }
        // Without xdg-output the logical size is the mode's, turned and divided by the scale.
        QSize size = modeSize;
        if ((transform & 1) != 0) {
            size.transpose();
        }
        const std::int32_t by = std::max(scale, 1);
        return {position, QSize(size.width() / by, size.height() / by)};
    }
    // The compositor has told all of a change.
    void done() { connection->outputsChanged(); }
};

namespace {
using Output = WaylandConnection::Output;

// --- wl_output and zxdg_output_v1 events: each one may change an output's place; the
// compositor ends a batch with done.
void outputGeometry(void* data, wl_output* /*output*/, std::int32_t x, std::int32_t y,
                    std::int32_t /*physicalWidth*/, std::int32_t /*physicalHeight*/,
                    std::int32_t /*subpixel*/, const char* /*make*/, const char* /*model*/,
                    std::int32_t transform) {
    auto& output = *static_cast<Output*>(data);
    output.position = {x, y};
    output.transform = transform;
}
void outputMode(void* data, wl_output* /*output*/, std::uint32_t flags, std::int32_t width,
                std::int32_t height, std::int32_t /*refresh*/) {
    if ((flags & WL_OUTPUT_MODE_CURRENT) != 0) {
        static_cast<Output*>(data)->modeSize = {width, height};
    }
}
void outputScale(void* data, wl_output* /*output*/, std::int32_t factor) {
    static_cast<Output*>(data)->scale = factor;
}
void outputDone(void* data, wl_output* /*output*/);
void outputName(void* /*data*/, wl_output* /*output*/, const char* /*name*/) {}
void outputDescription(void* /*data*/, wl_output* /*output*/, const char* /*description*/) {}
constexpr wl_output_listener kOutputListener{outputGeometry, outputMode, outputDone,
                                             outputScale,    outputName, outputDescription};

void logicalPosition(void* data, zxdg_output_v1* /*description*/, std::int32_t x, std::int32_t y) {
    static_cast<Output*>(data)->logicalPosition = {x, y};
}
void logicalSize(void* data, zxdg_output_v1* /*description*/, std::int32_t width,
                 std::int32_t height) {
    static_cast<Output*>(data)->logicalSize = {width, height};
}
void descriptionDone(void* data, zxdg_output_v1* /*description*/);
void descriptionName(void* /*data*/, zxdg_output_v1* /*description*/, const char* /*name*/) {}
void descriptionText(void* /*data*/, zxdg_output_v1* /*description*/, const char* /*text*/) {}
constexpr zxdg_output_v1_listener kDescriptionListener{
    logicalPosition, logicalSize, descriptionDone, descriptionName, descriptionText};

void outputDone(void* data, wl_output* /*output*/) {
    static_cast<Output*>(data)->done();
}
// Since xdg-output version 3 the compositor sends wl_output.done instead.
void descriptionDone(void* data, zxdg_output_v1* /*description*/) {
    static_cast<Output*>(data)->done();
}
}  // namespace

std::unique_ptr<WaylandConnection> WaylandConnection::connect(const std::string& display) {
    wl_display* connection = wl_display_connect(display.c_str());
    if (connection == nullptr) {
        return nullptr;
    }
    std::unique_ptr<WaylandConnection> result(new WaylandConnection(connection));
    // The first round trip brings the globals, the second the outputs' places.
    if (wl_display_roundtrip(connection) < 0 || wl_display_roundtrip(connection) < 0) {
        return nullptr;
    }
    if (result->compositor_ == nullptr || result->shm_ == nullptr ||
        result->layerShell_ == nullptr || result->viewporter_ == nullptr) {
        return nullptr;
    }
    // What the round trips told is the start, not a change: the check they asked for finds
    // nothing to announce.
    result->notice_.settle();
    return result;
}

WaylandConnection::WaylandConnection(wl_display* display)
    : display_(display), notice_([this] { return monitors(); }) {
    static const wl_registry_listener listener{onGlobal, onGlobalRemoved};
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &listener, this);
    notifier_ =
        std::make_unique<QSocketNotifier>(wl_display_get_fd(display_), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, &context_,
                     [this] { readEvents(); });
    writable_ =
        std::make_unique<QSocketNotifier>(wl_display_get_fd(display_), QSocketNotifier::Write);
    writable_->setEnabled(false);
    QObject::connect(writable_.get(), &QSocketNotifier::activated, &context_, [this] { flush(); });
    // Events that a round trip or another reader took off the socket wait in the queue,
    // where no notifier sees them; the loop dispatches them before it sleeps.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) {
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, &context_,
                         [this] { dispatchPending(); });
    }
}

WaylandConnection::~WaylandConnection() {
    releaseSurfaces();
    notifier_.reset();
    writable_.reset();
    for (const auto& output : outputs_) {
        if (output->description != nullptr) {
            zxdg_output_v1_destroy(output->description);
        }
        if (output->version >= WL_OUTPUT_RELEASE_SINCE_VERSION) {
            wl_output_release(output->output);
        } else {
            wl_output_destroy(output->output);
        }
    }
    if (outputManager_ != nullptr) {
        zxdg_output_manager_v1_destroy(outputManager_);
    }
    if (viewporter_ != nullptr) {
        wp_viewporter_destroy(viewporter_);
    }
    if (layerShell_ != nullptr) {
        if (layerShellVersion_ >= ZWLR_LAYER_SHELL_V1_DESTROY_SINCE_VERSION) {
            zwlr_layer_shell_v1_destroy(layerShell_);
        } else {
            wl_proxy_destroy(reinterpret_cast<wl_proxy*>(layerShell_));
        }
    }
    if (shm_ != nullptr) {
        wl_shm_destroy(shm_);
    }
    if (compositor_ != nullptr) {
        wl_compositor_destroy(compositor_);
    }
    wl_registry_destroy(registry_);
    wl_display_flush(display_);
    wl_display_disconnect(display_);
}

void WaylandConnection::onGlobal(void* data, wl_registry* registry, std::uint32_t name,
                                 const char* interface, std::uint32_t version) {
    auto& self = *static_cast<WaylandConnection*>(data);
    const auto bind = [&](const wl_interface& kind, std::uint32_t highest) {
        return wl_registry_bind(registry, name, &kind, std::min(version, highest));
    };
    if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
        self.compositorVersion_ = std::min(version, 4U);
        self.compositor_ = static_cast<wl_compositor*>(bind(wl_compositor_interface, 4));
    } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
        self.shm_ = static_cast<wl_shm*>(bind(wl_shm_interface, 1));
    } else if (std::strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0) {
        self.layerShellVersion_ = std::min(version, 4U);
        self.layerShell_ =
            static_cast<zwlr_layer_shell_v1*>(bind(zwlr_layer_shell_v1_interface, 4));
    } else if (std::strcmp(interface, wp_viewporter_interface.name) == 0) {
        self.viewporter_ = static_cast<wp_viewporter*>(bind(wp_viewporter_interface, 1));
    } else if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0) {
        self.outputManager_ =
            static_cast<zxdg_output_manager_v1*>(bind(zxdg_output_manager_v1_interface, 3));
        // Outputs announced before the manager are described now.
        for (const auto& output : self.outputs_) {
            self.describe(*output);
        }
    } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
        self.addOutput(name, std::min(version, 4U));
    }
}

void WaylandConnection::addOutput(std::uint32_t name, std::uint32_t version) {
    auto output = std::make_unique<Output>();
    output->connection = this;
    output->name = name;
    output->version = version;
    output->output =
        static_cast<wl_output*>(wl_registry_bind(registry_, name, &wl_output_interface, version));
    wl_output_add_listener(output->output, &kOutputListener, output.get());
    describe(*output);
    outputs_.push_back(std::move(output));
    outputsChanged();
}

void WaylandConnection::describe(Output& output) {
    if (outputManager_ == nullptr || output.description != nullptr) {
        return;
    }
    output.description = zxdg_output_manager_v1_get_xdg_output(outputManager_, output.output);
    zxdg_output_v1_add_listener(output.description, &kDescriptionListener, &output);
}

void WaylandConnection::onGlobalRemoved(void* data, wl_registry* /*registry*/, std::uint32_t name) {
    auto& self = *static_cast<WaylandConnection*>(data);
    const auto found = std::find_if(self.outputs_.begin(), self.outputs_.end(),
                                    [name](const auto& output) { return output->name == name; });
    if (found == self.outputs_.end()) {
        return;
    }
    // The layer surfaces on it are closed by the compositor; they name the output by its
    // global name and find it gone.
    Output& output = **found;
    if (output.description != nullptr) {
        zxdg_output_v1_destroy(output.description);
    }
    if (output.version >= WL_OUTPUT_RELEASE_SINCE_VERSION) {
        wl_output_release(output.output);
    } else {
        wl_output_destroy(output.output);
    }
    self.outputs_.erase(found);
    self.outputsChanged();
}

std::vector<Monitor> WaylandConnection::monitors() const {
    std::vector<QRect> known;
    for (const auto& output : outputs_) {
        const QRect logical = output->logical();
        if (!logical.isEmpty()) {
            known.push_back(logical);
        }
    }
    return outputMonitors(known);
}

std::vector<Rect> WaylandConnection::frames() const {
    const auto current = monitors();
    std::vector<Rect> result;
    result.reserve(current.size());
    const QRect origin = current.empty() ? QRect() : current.front().geometry;
    for (const Monitor& monitor : current) {
        result.push_back(toPlatformRect(monitor.geometry, origin));
    }
    return result;
}

QRect WaylandConnection::reference() const {
    const auto current = monitors();
    return current.empty() ? QRect() : current.front().geometry;
}

std::uint32_t WaylandConnection::outputUnder(const QRect& logicalFrame) const {
    std::vector<QRect> places;
    std::vector<bool> taken;
    places.reserve(outputs_.size());
    taken.reserve(outputs_.size());
    for (const auto& output : outputs_) {
        places.push_back(output->logical());
        taken.push_back(std::any_of(surfaces_.begin(), surfaces_.end(), [&](const auto* surface) {
            return surface->output() == output->name;
        }));
    }
    const auto index = qt::outputUnder(places, logicalFrame, taken);
    return index ? outputs_[*index]->name : 0;
}

const WaylandConnection::Output* WaylandConnection::find(std::uint32_t name) const {
    const auto found = std::find_if(outputs_.begin(), outputs_.end(),
                                    [name](const auto& output) { return output->name == name; });
    return found == outputs_.end() ? nullptr : found->get();
}

wl_output* WaylandConnection::output(std::uint32_t name) const {
    const Output* found = find(name);
    return found != nullptr ? found->output : nullptr;
}

QRect WaylandConnection::outputGeometry(std::uint32_t name) const {
    const Output* found = find(name);
    return found != nullptr ? found->logical() : QRect();
}

std::int32_t WaylandConnection::outputScale(std::uint32_t name) const {
    const Output* found = find(name);
    return found != nullptr ? std::max(found->scale, 1) : 1;
}

void WaylandConnection::surfaceDestroyed(WaylandLayerSurface* surface) {
    std::erase(surfaces_, surface);
}

void WaylandConnection::releaseSurfaces() {
    for (WaylandLayerSurface* surface : std::exchange(surfaces_, {})) {
        surface->release();
    }
    flush();
}

void WaylandConnection::flush() {
    if (wl_display_flush(display_) >= 0) {
        writable_->setEnabled(false);
        return;
    }
    if (errno != EAGAIN) {
        connectionLost();
    }
    // A full socket keeps the rest queued until the compositor has read enough.
    writable_->setEnabled(true);
}

void WaylandConnection::readEvents() {
    // Only this connection reads its socket, so a read is prepared whenever the queue is
    // empty; when it is not, those events are dispatched first and the socket, still
    // readable, wakes the loop again.
    if (wl_display_prepare_read(display_) == 0 && wl_display_read_events(display_) < 0) {
        connectionLost();
    }
    dispatchPending();
}

void WaylandConnection::dispatchPending() {
    if (wl_display_dispatch_pending(display_) < 0) {
        connectionLost();
    }
    flush();
}

void WaylandConnection::connectionLost() {
    // A protocol error is a fault of this program's (a request the compositor refused); it is
    // named, so that it can be found.
    const int error = wl_display_get_error(display_);
    const wl_interface* interface = nullptr;
    std::uint32_t object = 0;
    if (error == EPROTO) {
        const std::uint32_t code = wl_display_get_protocol_error(display_, &interface, &object);
        std::fprintf(stderr,
                     "vellumor: the Wayland compositor ended the connection: protocol error %u "
                     "on %s@%u\n",
                     code, interface != nullptr ? interface->name : "?", object);
    } else {
        std::fprintf(stderr, "vellumor: the connection to the Wayland compositor was lost (%s)\n",
                     std::strerror(error != 0 ? error : errno));
    }
    std::exit(EXIT_FAILURE);
}

}  // namespace platform::qt
