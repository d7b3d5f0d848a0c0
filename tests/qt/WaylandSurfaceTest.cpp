// The Wayland half's own connection and its overlays, against a stand-in compositor that
// records every request: what a layer surface asks for (bottom layer, all four edges, no size,
// under panels, no keyboard, the whole surface for clicks, a small buffer scaled to it), how it
// hides and comes back, follows the colour and the compositor closing it; how the outputs come, go
// and move with one display notice each.

#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <wayland-server.h>

#include <QCoreApplication>
#include <QRect>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Color.h"
#include "platform/NotificationCenter.h"
#include "platform/qt/QtWaylandConnection.h"
#include "platform/qt/QtWaylandRules.h"
#include "platform/qt/QtWaylandSurface.h"
#include "viewporter-server-protocol.h"
#include "wlr-layer-shell-unstable-v1-server-protocol.h"
#include "xdg-output-unstable-v1-server-protocol.h"

namespace platform::qt {
namespace {

// What the compositor was asked of one layer surface, as of the last commit.
struct LayerRecord {
    std::string nameSpace;
    std::uint32_t layer = 99;
    int output = -1;
    std::uint32_t anchor = 0;
    std::int32_t exclusiveZone = 0;
    std::optional<std::pair<std::uint32_t, std::uint32_t>> size;
    std::uint32_t keyboard = 99;
    // set_input_region with no region (the whole surface), or an empty region.
    std::optional<bool> inputWhole;
    std::uint32_t configures = 0;
    std::uint32_t lastSerial = 0;
    std::uint32_t ackedSerial = 0;
    bool mapped = false;
    std::optional<std::uint32_t> pixel;
    QSize bufferSize;
    QSize destination;
    // A buffer was committed before the last configure was acknowledged.
    bool attachedUnconfigured = false;
    bool destroyed = false;
};

// A compositor with wl_compositor, wl_shm, wp_viewporter, the layer shell and xdg-output, on a
// thread of its own. Tests read its records and change its outputs through it, under its lock.
class StandInCompositor {
public:
    explicit StandInCompositor(const std::filesystem::path& runtime)
        : display_(wl_display_create()), wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        socket_ = wl_display_add_socket_auto(display_);
        wl_display_init_shm(display_);
        wl_global_create(display_, &wl_compositor_interface, 4, this, bindCompositor);
        wl_global_create(display_, &wp_viewporter_interface, 1, this, bindViewporter);
        wl_global_create(display_, &zwlr_layer_shell_v1_interface, 4, this, bindLayerShell);
        wl_global_create(display_, &zxdg_output_manager_v1_interface, 3, this, bindOutputs);
        wakeSource_ = wl_event_loop_add_fd(wl_display_get_event_loop(display_), wake_,
                                           WL_EVENT_READABLE, runCommands, this);
        thread_ = std::thread([this] {
            while (!stop_) {
                wl_event_loop_dispatch(wl_display_get_event_loop(display_), 20);
                wl_display_flush_clients(display_);
            }
        });
    }
    ~StandInCompositor() {
        stop_ = true;
        thread_.join();
        wl_event_source_remove(wakeSource_);
        wl_display_destroy_clients(display_);
        wl_display_destroy(display_);
        ::close(wake_);
    }
    StandInCompositor(const StandInCompositor&) = delete;
    StandInCompositor& operator=(const StandInCompositor&) = delete;

    std::string socket() const { return socket_ == nullptr ? "" : socket_; }

    // Runs `command` on the compositor's thread, with the lock held.
    void run(std::function<void()> command) {
        {
            const std::lock_guard lock(mutex_);
            commands_.push_back(std::move(command));
        }
        const std::uint64_t one = 1;
        ASSERT_EQ(::write(wake_, &one, sizeof one), static_cast<ssize_t>(sizeof one));
    }
    // Adds an output at `logical`; its index is its order of adding.
    void addOutput(QRect logical) {
        run([this, logical] {
            auto& output = outputs_.emplace_back(std::make_unique<Output>());
            output->compositor = this;
            output->logical = logical;
            output->global =
                wl_global_create(display_, &wl_output_interface, 3, output.get(), bindOutput);
        });
    }
    // Moves or resizes output `index`, telling every client.
    void changeOutput(std::size_t index, QRect logical) {
        run([this, index, logical] {
            Output& output = *outputs_[index];
            output.logical = logical;
            for (wl_resource* description : output.descriptions) {
                describe(output, description);
            }
        });
    }
    void removeOutput(std::size_t index) {
        run([this, index] {
            wl_global_destroy(outputs_[index]->global);
            outputs_[index]->global = nullptr;
        });
    }
    // Tells every live layer surface that it is closed.
    void closeLayers() {
        run([this] {
            for (Surface* surface : live_) {
                if (surface->layer != nullptr) {
                    zwlr_layer_surface_v1_send_closed(surface->layer);
                }
            }
        });
    }

    std::vector<LayerRecord> layers() {
        const std::lock_guard lock(mutex_);
        return records_;
    }

private:
    struct Output {
        StandInCompositor* compositor = nullptr;
        QRect logical;
        wl_global* global = nullptr;
        std::vector<wl_resource*> descriptions;
    };
    struct Surface {
        StandInCompositor* compositor = nullptr;
        wl_resource* resource = nullptr;
        wl_resource* layer = nullptr;
        std::optional<std::size_t> record;
        std::optional<wl_resource*> pendingBuffer;
        QSize pendingDestination;
        bool needsConfigure = true;
        // The output's logical size, sent in each configure.
        QSize outputSize;
    };

    static Surface& surfaceOf(wl_resource* resource) {
        return *static_cast<Surface*>(wl_resource_get_user_data(resource));
    }
    LayerRecord& recordOf(Surface& surface) { return records_[*surface.record]; }

    static int runCommands(int fd, std::uint32_t /*mask*/, void* data) {
        auto& self = *static_cast<StandInCompositor*>(data);
        std::uint64_t count = 0;
        (void)::read(fd, &count, sizeof count);
        const std::lock_guard lock(self.mutex_);
        for (auto& command : std::exchange(self.commands_, {})) {
            command();
        }
        return 0;
    }

    // --- wl_compositor, wl_surface, wl_region.
    static void bindCompositor(wl_client* client, void* data, std::uint32_t version,
                               std::uint32_t id) {
        static const struct wl_compositor_interface implementation { createSurface, createRegion };
        wl_resource* resource =
            wl_resource_create(client, &wl_compositor_interface, static_cast<int>(version), id);
        wl_resource_set_implementation(resource, &implementation, data, nullptr);
    }
    static void createSurface(wl_client* client, wl_resource* compositor, std::uint32_t id) {
        static const struct wl_surface_interface implementation {
            destroyResource, attach, ignoreRect, frame, ignoreRegion, setInputRegion, commit,
                ignoreInt, ignoreInt, ignoreRect, ignoreOffset
        };
        auto& self = *static_cast<StandInCompositor*>(wl_resource_get_user_data(compositor));
        auto* surface = new Surface;
        surface->compositor = &self;
        surface->resource = wl_resource_create(client, &wl_surface_interface,
                                               wl_resource_get_version(compositor), id);
        wl_resource_set_implementation(surface->resource, &implementation, surface,
                                       [](wl_resource* resource) {
                                           Surface* gone = &surfaceOf(resource);
                                           std::erase(gone->compositor->live_, gone);
                                           delete gone;
                                       });
        self.live_.push_back(surface);
    }
    static void createRegion(wl_client* client, wl_resource* compositor, std::uint32_t id) {
        static const struct wl_region_interface implementation {
            destroyResource, ignoreRect, ignoreRect
        };
        wl_resource* region = wl_resource_create(client, &wl_region_interface,
                                                 wl_resource_get_version(compositor), id);
        wl_resource_set_implementation(region, &implementation, nullptr, nullptr);
    }
    static void destroyResource(wl_client* /*client*/, wl_resource* resource) {
        wl_resource_destroy(resource);
    }
    static void ignoreRect(wl_client*, wl_resource*, std::int32_t, std::int32_t, std::int32_t,
                           std::int32_t) {}
    static void ignoreRegion(wl_client*, wl_resource*, wl_resource*) {}
    static void ignoreInt(wl_client*, wl_resource*, std::int32_t) {}
    static void ignoreOffset(wl_client*, wl_resource*, std::int32_t, std::int32_t) {}
    static void frame(wl_client* client, wl_resource* /*surface*/, std::uint32_t id) {
        wl_resource* callback = wl_resource_create(client, &wl_callback_interface, 1, id);
        wl_callback_send_done(callback, 0);
        wl_resource_destroy(callback);
    }
    static void attach(wl_client*, wl_resource* resource, wl_resource* buffer, std::int32_t,
                       std::int32_t) {
        surfaceOf(resource).pendingBuffer = buffer;
    }
    static void setInputRegion(wl_client*, wl_resource* resource, wl_resource* region) {
        Surface& surface = surfaceOf(resource);
        const std::lock_guard lock(surface.compositor->mutex_);
        if (surface.record) {
            surface.compositor->recordOf(surface).inputWhole = region == nullptr;
        }
    }
    static void commit(wl_client*, wl_resource* resource) {
        Surface& surface = surfaceOf(resource);
        StandInCompositor& self = *surface.compositor;
        const std::lock_guard lock(self.mutex_);
        if (!surface.record) {
            return;
        }
        LayerRecord& record = self.recordOf(surface);
        record.destination = surface.pendingDestination;
        if (surface.pendingBuffer) {
            wl_resource* buffer = *std::exchange(surface.pendingBuffer, std::nullopt);
            if (buffer == nullptr) {
                // Unmapped: the surface is as new and is configured again on its next commit.
                record.mapped = false;
                surface.needsConfigure = true;
                return;
            }
            if (surface.needsConfigure || record.ackedSerial != record.lastSerial) {
                record.attachedUnconfigured = true;
            }
            wl_shm_buffer* shm = wl_shm_buffer_get(buffer);
            if (shm != nullptr) {
                wl_shm_buffer_begin_access(shm);
                record.pixel = *static_cast<const std::uint32_t*>(wl_shm_buffer_get_data(shm));
                wl_shm_buffer_end_access(shm);
                record.bufferSize = {wl_shm_buffer_get_width(shm), wl_shm_buffer_get_height(shm)};
            }
            record.mapped = true;
            wl_buffer_send_release(buffer);
            return;
        }
        if (surface.needsConfigure && !record.mapped) {
            surface.needsConfigure = false;
            record.lastSerial = ++self.serial_;
            ++record.configures;
            zwlr_layer_surface_v1_send_configure(
                surface.layer, record.lastSerial,
                static_cast<std::uint32_t>(surface.outputSize.width()),
                static_cast<std::uint32_t>(surface.outputSize.height()));
        }
    }

    // --- wp_viewporter.
    static void bindViewporter(wl_client* client, void* data, std::uint32_t version,
                               std::uint32_t id) {
        static const struct wp_viewporter_interface implementation { destroyResource, getViewport };
        wl_resource* resource =
            wl_resource_create(client, &wp_viewporter_interface, static_cast<int>(version), id);
        wl_resource_set_implementation(resource, &implementation, data, nullptr);
    }
    static void getViewport(wl_client* client, wl_resource* /*viewporter*/, std::uint32_t id,
                            wl_resource* surface) {
        static const struct wp_viewport_interface implementation {
            destroyResource, setSource, setDestination
        };
        wl_resource* viewport = wl_resource_create(client, &wp_viewport_interface, 1, id);
        wl_resource_set_implementation(viewport, &implementation, &surfaceOf(surface), nullptr);
    }
    static void setSource(wl_client*, wl_resource*, wl_fixed_t, wl_fixed_t, wl_fixed_t,
                          wl_fixed_t) {}
    static void setDestination(wl_client*, wl_resource* viewport, std::int32_t width,
                               std::int32_t height) {
        static_cast<Surface*>(wl_resource_get_user_data(viewport))->pendingDestination = {width,
                                                                                          height};
    }

    // --- The layer shell.
    static void bindLayerShell(wl_client* client, void* data, std::uint32_t version,
                               std::uint32_t id) {
        static const struct zwlr_layer_shell_v1_interface implementation {
            getLayerSurface, destroyResource
        };
        wl_resource* resource = wl_resource_create(client, &zwlr_layer_shell_v1_interface,
                                                   static_cast<int>(version), id);
        wl_resource_set_implementation(resource, &implementation, data, nullptr);
    }
    static void getLayerSurface(wl_client* client, wl_resource* shell, std::uint32_t id,
                                wl_resource* surfaceResource, wl_resource* output,
                                std::uint32_t layer, const char* nameSpace) {
        static const struct zwlr_layer_surface_v1_interface implementation {
            setSize, setAnchor, setExclusiveZone, setMargin, setKeyboard, getPopup, ackConfigure,
                destroyLayer, setLayer
        };
        Surface& surface = surfaceOf(surfaceResource);
        StandInCompositor& self = *surface.compositor;
        const std::lock_guard lock(self.mutex_);
        LayerRecord record;
        record.nameSpace = nameSpace;
        record.layer = layer;
        if (output != nullptr) {
            auto* place = static_cast<Output*>(wl_resource_get_user_data(output));
            for (std::size_t i = 0; i < self.outputs_.size(); ++i) {
                if (self.outputs_[i].get() == place) {
                    record.output = static_cast<int>(i);
                }
            }
            surface.outputSize = place->logical.size();
        }
        surface.record = self.records_.size();
        self.records_.push_back(record);
        surface.needsConfigure = true;
        surface.layer = wl_resource_create(client, &zwlr_layer_surface_v1_interface,
                                           wl_resource_get_version(shell), id);
        wl_resource_set_implementation(surface.layer, &implementation, &surface, nullptr);
    }
    template <typename Change>
    static void recordLayer(wl_resource* layer, Change change) {
        Surface& surface = *static_cast<Surface*>(wl_resource_get_user_data(layer));
        const std::lock_guard lock(surface.compositor->mutex_);
        change(surface.compositor->recordOf(surface));
    }
    static void setSize(wl_client*, wl_resource* layer, std::uint32_t width, std::uint32_t height) {
        recordLayer(layer, [&](LayerRecord& r) { r.size = {width, height}; });
    }
    static void setAnchor(wl_client*, wl_resource* layer, std::uint32_t anchor) {
        recordLayer(layer, [&](LayerRecord& r) { r.anchor = anchor; });
    }
    static void setExclusiveZone(wl_client*, wl_resource* layer, std::int32_t zone) {
        recordLayer(layer, [&](LayerRecord& r) { r.exclusiveZone = zone; });
    }
    static void setMargin(wl_client*, wl_resource*, std::int32_t, std::int32_t, std::int32_t,
                          std::int32_t) {}
    static void setKeyboard(wl_client*, wl_resource* layer, std::uint32_t keyboard) {
        recordLayer(layer, [&](LayerRecord& r) { r.keyboard = keyboard; });
    }
    static void getPopup(wl_client*, wl_resource*, wl_resource*) {}
    static void ackConfigure(wl_client*, wl_resource* layer, std::uint32_t serial) {
        recordLayer(layer, [&](LayerRecord& r) { r.ackedSerial = serial; });
    }
    static void destroyLayer(wl_client*, wl_resource* layer) {
        Surface& surface = *static_cast<Surface*>(wl_resource_get_user_data(layer));
        {
            const std::lock_guard lock(surface.compositor->mutex_);
            surface.compositor->recordOf(surface).destroyed = true;
            surface.record.reset();
            surface.layer = nullptr;
        }
        wl_resource_destroy(layer);
    }
    static void setLayer(wl_client*, wl_resource* layer, std::uint32_t value) {
        recordLayer(layer, [&](LayerRecord& r) { r.layer = value; });
    }

    // --- wl_output and xdg-output.
    static void bindOutput(wl_client* client, void* data, std::uint32_t version, std::uint32_t id) {
        static const struct wl_output_interface implementation { destroyResource };
        auto& output = *static_cast<Output*>(data);
        wl_resource* resource =
            wl_resource_create(client, &wl_output_interface, static_cast<int>(version), id);
        wl_resource_set_implementation(resource, &implementation, &output, nullptr);
        wl_output_send_geometry(resource, output.logical.x(), output.logical.y(), 0, 0, 0, "", "",
                                WL_OUTPUT_TRANSFORM_NORMAL);
        wl_output_send_mode(resource, WL_OUTPUT_MODE_CURRENT, output.logical.width(),
                            output.logical.height(), 60000);
        wl_output_send_done(resource);
    }
    static void bindOutputs(wl_client* client, void* data, std::uint32_t version,
                            std::uint32_t id) {
        static const struct zxdg_output_manager_v1_interface implementation {
            destroyResource, getDescription
        };
        wl_resource* resource = wl_resource_create(client, &zxdg_output_manager_v1_interface,
                                                   static_cast<int>(version), id);
        wl_resource_set_implementation(resource, &implementation, data, nullptr);
    }
    static void getDescription(wl_client* client, wl_resource* manager, std::uint32_t id,
                               wl_resource* outputResource) {
        static const struct zxdg_output_v1_interface implementation { destroyResource };
        auto& output = *static_cast<Output*>(wl_resource_get_user_data(outputResource));
        wl_resource* description = wl_resource_create(client, &zxdg_output_v1_interface,
                                                      wl_resource_get_version(manager), id);
        wl_resource_set_implementation(
            description, &implementation, outputResource, [](wl_resource* gone) {
                auto* resource = static_cast<wl_resource*>(wl_resource_get_user_data(gone));
                auto& place = *static_cast<Output*>(wl_resource_get_user_data(resource));
                std::erase(place.descriptions, gone);
            });
        output.descriptions.push_back(description);
        describe(output, description);
    }
    // xdg-output 3: the place, then wl_output.done.
    static void describe(Output& output, wl_resource* description) {
        zxdg_output_v1_send_logical_position(description, output.logical.x(), output.logical.y());
        zxdg_output_v1_send_logical_size(description, output.logical.width(),
                                         output.logical.height());
        wl_output_send_done(static_cast<wl_resource*>(wl_resource_get_user_data(description)));
    }

    wl_display* display_;
    int wake_;
    wl_event_source* wakeSource_ = nullptr;
    const char* socket_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::function<void()>> commands_;
    std::vector<std::unique_ptr<Output>> outputs_;
    std::vector<Surface*> live_;
    std::vector<LayerRecord> records_;
    std::uint32_t serial_ = 0;
};

// Counts screen-parameters notices.
class NoticeCounter final : public Object {
public:
    NoticeCounter() {
        addMethod("screensChanged", [this](Object*) { ++count; });
        NotificationCenter::defaultCenter().addObserver(
            *this, "screensChanged", NSApplicationDidChangeScreenParametersNotification, nullptr);
    }
    int count = 0;
};

class WaylandSurfaceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        application_ = std::make_unique<QCoreApplication>(argc_, argv_.data());
    }
    static void TearDownTestSuite() { application_.reset(); }

    void SetUp() override {
        std::string dir =
            (std::filesystem::temp_directory_path() / "vellumor-wayland-XXXXXX").string();
        ASSERT_NE(::mkdtemp(dir.data()), nullptr);
        runtime_ = dir;
        compositor_ = std::make_unique<StandInCompositor>(runtime_);
        ASSERT_NE(compositor_->socket(), "");
        compositor_->addOutput({0, 0, 1920, 1080});
        compositor_->addOutput({1920, 0, 1280, 1024});
        // Until both outputs are there, as a session's compositor has them before it starts
        // programs.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        connection_ = WaylandConnection::connect(compositor_->socket());
        ASSERT_NE(connection_, nullptr);
    }
    void TearDown() override {
        connection_.reset();
        compositor_.reset();
        std::filesystem::remove_all(runtime_);
    }

    // Serves the event loop until `done` holds, for two seconds at most; whether it held.
    static bool serveUntil(const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        return true;
    }
    // Serves the event loop for a while, for what must not happen.
    static void serveFor(std::chrono::milliseconds span) {
        const auto end = std::chrono::steady_clock::now() + span;
        while (std::chrono::steady_clock::now() < end) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
    }
    LayerRecord layer(std::size_t index) {
        const auto all = compositor_->layers();
        return index < all.size() ? all[index] : LayerRecord{};
    }
    std::size_t layerCount() { return compositor_->layers().size(); }

    static inline int argc_ = 1;
    static inline char name_[] = "wayland_surface_test";
    static inline std::array<char*, 2> argv_{name_, nullptr};
    static inline std::unique_ptr<QCoreApplication> application_;

    std::filesystem::path runtime_;
    std::unique_ptr<StandInCompositor> compositor_;
    std::unique_ptr<WaylandConnection> connection_;
};

const Color kRed = Color::colorWithCalibratedRed(1.0, 0.0, 0.0, 1.0);
const Color kBlue = Color::colorWithCalibratedRed(0.0, 0.0, 1.0, 1.0);
const Color kGreen = Color::colorWithCalibratedRed(0.0, 1.0, 0.0, 1.0);

TEST_F(WaylandSurfaceTest, OverlayIsABottomLayerSurfaceSpanningItsOutputWithAScaledBuffer) {
    // The second output, by its place in logical coordinates.
    WaylandLayerSurface overlay(*connection_, connection_->outputUnder({1920, 0, 1280, 1024}),
                                kRed);
    EXPECT_FALSE(overlay.isShown());
    overlay.show();
    ASSERT_TRUE(serveUntil([&] { return layer(0).mapped; }));
    const LayerRecord record = layer(0);
    EXPECT_EQ(record.output, 1);
    EXPECT_EQ(record.layer, ZWLR_LAYER_SHELL_V1_LAYER_BOTTOM);
    EXPECT_EQ(record.nameSpace, "vellumor");
    EXPECT_EQ(record.anchor, 15U);
    EXPECT_EQ(record.size, (std::pair<std::uint32_t, std::uint32_t>{0, 0}));
    EXPECT_EQ(record.exclusiveZone, -1);
    EXPECT_EQ(record.keyboard, ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE);
    EXPECT_EQ(record.inputWhole, true);
    EXPECT_EQ(record.configures, 1U);
    EXPECT_EQ(record.ackedSerial, record.lastSerial);
    EXPECT_FALSE(record.attachedUnconfigured);
    EXPECT_EQ(record.bufferSize, QSize(static_cast<int>(pixelBufferLength(1280, 1)),
                                       static_cast<int>(pixelBufferLength(1024, 1))));
    EXPECT_EQ(record.pixel, 0xFFFF0000U);
    EXPECT_EQ(record.destination, QSize(1280, 1024));
    EXPECT_TRUE(overlay.isShown());
}

TEST_F(WaylandSurfaceTest, HiddenOverlayUnmapsFollowsTheColourAndComesBackOnANewConfigure) {
    WaylandLayerSurface overlay(*connection_, connection_->outputUnder({0, 0, 1920, 1080}), kRed);
    overlay.show();
    ASSERT_TRUE(serveUntil([&] { return layer(0).mapped; }));

    overlay.hide();
    EXPECT_FALSE(overlay.isShown());
    ASSERT_TRUE(serveUntil([&] { return !layer(0).mapped; }));
    // A colour picked while hidden is not drawn, but shown at the next show.
    overlay.setColor(kBlue);
    serveFor(std::chrono::milliseconds(100));
    EXPECT_FALSE(layer(0).mapped);
    EXPECT_EQ(layer(0).pixel, 0xFFFF0000U);

    overlay.show();
    ASSERT_TRUE(serveUntil([&] { return layer(0).mapped; }));
    EXPECT_EQ(layer(0).configures, 2U);
    EXPECT_EQ(layer(0).pixel, 0xFF0000FFU);
    EXPECT_FALSE(layer(0).attachedUnconfigured);
    EXPECT_EQ(layer(0).destination, QSize(1920, 1080));

    // Shown, a new colour is on screen at once.
    overlay.setColor(kGreen);
    ASSERT_TRUE(serveUntil([&] { return layer(0).pixel == 0xFF00FF00U; }));
    EXPECT_EQ(layerCount(), 1U);
    EXPECT_TRUE(layer(0).mapped);
}

TEST_F(WaylandSurfaceTest, ClickThroughOverlayHasAnEmptyInputRegionAndClosingDestroysIt) {
    {
        WaylandLayerSurface overlay(*connection_, connection_->outputUnder({0, 0, 1920, 1080}),
                                    kRed);
        overlay.setTakesClicks(false);
        overlay.show();
        ASSERT_TRUE(serveUntil([&] { return layer(0).mapped; }));
        EXPECT_EQ(layer(0).inputWhole, false);
    }
    EXPECT_TRUE(serveUntil([&] { return layer(0).destroyed; }));
}

TEST_F(WaylandSurfaceTest, OverlayClosedByTheCompositorIsMadeAnewWhenShownAgain) {
    WaylandLayerSurface overlay(*connection_, connection_->outputUnder({0, 0, 1920, 1080}), kRed);
    overlay.show();
    ASSERT_TRUE(serveUntil([&] { return layer(0).mapped; }));
    compositor_->closeLayers();
    ASSERT_TRUE(serveUntil([&] { return layer(0).destroyed; }));
    overlay.show();
    ASSERT_TRUE(serveUntil([&] { return layerCount() == 2 && layer(1).mapped; }));
    EXPECT_EQ(layer(1).output, 0);
    EXPECT_EQ(layer(1).pixel, 0xFFFF0000U);
}

TEST_F(WaylandSurfaceTest, OutputsAddedMovedAndRemovedPostOneNoticeEach) {
    // The output at the origin leads; the other is beside it, its top edge level with the
    // first's (platform coordinates grow upwards from the first's bottom).
    EXPECT_EQ(connection_->frames(),
              (std::vector<Rect>{{0, 0, 1920, 1080}, {1920, 56, 1280, 1024}}));
    EXPECT_NE(connection_->outputUnder({0, 0, 1920, 1080}), 0U);
    EXPECT_EQ(connection_->outputUnder({5000, 0, 10, 10}), 0U);
    NoticeCounter notices;
    serveFor(std::chrono::milliseconds(100));
    EXPECT_EQ(notices.count, 0);

    compositor_->addOutput({-800, 200, 800, 600});
    ASSERT_TRUE(serveUntil([&] { return notices.count == 1; }));
    EXPECT_EQ(connection_->frames().size(), 3U);
    EXPECT_EQ(connection_->frames()[2], (Rect{-800, 280, 800, 600}));

    compositor_->changeOutput(1, {1920, 0, 2560, 1440});
    ASSERT_TRUE(serveUntil([&] { return notices.count == 2; }));
    EXPECT_EQ(connection_->frames()[1], (Rect{1920, -360, 2560, 1440}));

    compositor_->removeOutput(0);
    ASSERT_TRUE(serveUntil([&] { return notices.count == 3; }));
    // The origin's output gone, the compositor's first remaining output leads.
    const auto frames = connection_->frames();
    ASSERT_EQ(frames.size(), 2U);
    EXPECT_EQ(frames[0], (Rect{0, 0, 2560, 1440}));
    serveFor(std::chrono::milliseconds(100));
    EXPECT_EQ(notices.count, 3);
}

}  // namespace
}  // namespace platform::qt
