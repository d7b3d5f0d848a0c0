// The Wayland connection and its overlays against a stand-in compositor that logs each request
// by the name the protocol gives it: what a layer surface asks for, the buffers it shows and
// lets go of, and requests that meet a full socket.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <wayland-server.h>

#include <QCoreApplication>
#include <QRect>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/qt/QtWaylandConnection.h"
#include "platform/qt/QtWaylandRules.h"
#include "platform/qt/QtWaylandSurface.h"
#include "viewporter-server-protocol.h"
#include "wlr-layer-shell-unstable-v1-server-protocol.h"

namespace platform::qt {
namespace {

using namespace std::chrono_literals;

// A buffer committed to a layer surface: its size and pixel (0 unless all of it is one), and
// whether the surface's last configure had been acknowledged.
struct Frame {
    int width = 0, height = 0;
    std::uint32_t pixel = 0;
    bool acked = false;
};

// wl_compositor, wl_shm, wp_viewporter, the layer shell and two outputs (1920x1080 at the
// origin, 1280x1024 right of it) for one client on a socket pair, served on a thread of its
// own by one dispatcher. As a real compositor, it configures a layer surface to its output's
// size and holds each buffer until another replaces it or the surface goes.
class StandInCompositor {
public:
    StandInCompositor() : display_(wl_display_create()) {
        wl_display_init_shm(display_);
        for (Global& global : globals_) {
            global.self = this;
            wl_global_create(display_, global.kind, global.kind->version, &global, bind);
        }
        std::array<int, 2> ends{};
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends.data()), 0);
        wl_client_create(display_, ends[0]);
        clientEnd_ = ends[1];
        thread_ = std::thread([this] {
            while (!stop_) {
                std::this_thread::sleep_for(std::chrono::milliseconds(pause_.exchange(0)));
                wl_event_loop_dispatch(wl_display_get_event_loop(display_), 5);
                wl_display_flush_clients(display_);
                long buffers = 0;
                // The client is gone once it hangs up.
                if (wl_list* clients = wl_display_get_client_list(display_);
                    !wl_list_empty(clients)) {
                    wl_client_for_each_resource(wl_client_from_link(clients->next), countBuffer,
                                                &buffers);
                }
                buffers_ = buffers;
            }
        });
    }
    ~StandInCompositor() {
        stop_ = true;
        thread_.join();
        wl_display_destroy_clients(display_);
        wl_display_destroy(display_);
    }
    StandInCompositor(const StandInCompositor&) = delete;
    StandInCompositor& operator=(const StandInCompositor&) = delete;

    // The client's end, for WAYLAND_SOCKET.
    int clientEnd() const { return clientEnd_; }
    // Reads nothing from the client for `span`, from its next turn on, which this waits for.
    void pause(std::chrono::milliseconds span) {
        pause_ = static_cast<int>(span.count());
        while (pause_ != 0) {
            std::this_thread::sleep_for(1ms);
        }
    }
    // How many requests were logged as `line` (interface.request and its arguments: objects
    // by interface, "nil" for none, outputs as output0 and output1).
    long count(const std::string& line) {
        const std::lock_guard lock(mutex_);
        return std::count(log_.begin(), log_.end(), line);
    }
    // How many buffers the client has.
    long buffers() const { return buffers_; }
    // The size the next configure of output `index`'s surfaces gives.
    void resize(std::size_t index, QSize size) {
        const std::lock_guard lock(mutex_);
        sizes_.at(index) = size;
    }
    std::vector<Frame> frames() {
        const std::lock_guard lock(mutex_);
        return frames_;
    }

private:
    struct Global {
        const wl_interface* kind;
        int output = -1;
        StandInCompositor* self = nullptr;
    };
    struct Surface {
        wl_resource* layer = nullptr;
        int output = 0;
        wl_resource* pending = nullptr;
        bool attached = false, needsConfigure = true;
        wl_resource* held = nullptr;
        std::uint32_t serial = 0, acked = 0;
    };

    static void bind(wl_client* client, void* data, std::uint32_t version, std::uint32_t id) {
        auto& global = *static_cast<Global*>(data);
        wl_resource* resource =
            global.self->make(client, global.kind, static_cast<int>(version), id);
        if (global.output >= 0) {
            const std::lock_guard lock(global.self->mutex_);
            global.self->outputs_[resource] = global.output;
            const QSize size = global.self->sizes_.at(static_cast<std::size_t>(global.output));
            wl_output_send_geometry(resource, global.output * 1920, 0, 0, 0, 0, "", "", 0);
            wl_output_send_mode(resource, WL_OUTPUT_MODE_CURRENT, size.width(), size.height(),
                                60000);
            wl_output_send_done(resource);
        }
    }
    wl_resource* make(wl_client* client, const wl_interface* kind, int version, std::uint32_t id) {
        wl_resource* resource = wl_resource_create(client, kind, version, id);
        wl_resource_set_dispatcher(resource, dispatch, nullptr, this, nullptr);
        return resource;
    }
    static wl_iterator_result countBuffer(wl_resource* resource, void* count) {
        *static_cast<long*>(count) += std::string(wl_resource_get_class(resource)) == "wl_buffer";
        return WL_ITERATOR_CONTINUE;
    }
    static bool skipped(char c) { return c == '?' || (c >= '0' && c <= '9'); }

    // Makes the objects a request asks for and does what the overlays need of a compositor.
    static int dispatch(const void* /*implementation*/, void* target, std::uint32_t /*opcode*/,
                        const wl_message* message, wl_argument* args) {
        auto* resource = static_cast<wl_resource*>(target);
        auto& self = *static_cast<StandInCompositor*>(wl_resource_get_user_data(resource));
        const std::string name = std::string(wl_resource_get_class(resource)) + "." + message->name;
        const auto object = [&](int i) { return reinterpret_cast<wl_resource*>(args[i].o); };
        const std::lock_guard lock(self.mutex_);
        std::vector<wl_resource*> made;
        std::string line = name;
        for (int arg = 0; const char c : std::string(message->signature)) {
            if (skipped(c)) {
                continue;
            }
            const wl_argument& value = args[arg];
            if (c == 'n') {
                made.push_back(self.make(wl_resource_get_client(resource), message->types[arg],
                                         wl_resource_get_version(resource), value.n));
            }
            wl_resource* const o = c == 'o' ? object(arg) : nullptr;
            line += c == 'i'                    ? " " + std::to_string(value.i)
                    : c == 'u'                  ? " " + std::to_string(value.u)
                    : c == 's'                  ? std::string(" ") + value.s
                    : c != 'o'                  ? std::string(" _")
                    : o == nullptr              ? std::string(" nil")
                    : self.outputs_.contains(o) ? " output" + std::to_string(self.outputs_[o])
                                                : std::string(" ") + wl_resource_get_class(o);
            ++arg;
        }
        self.log_.push_back(line);
        if (name == "wl_surface.attach") {
            self.surfaces_[resource].pending = object(0);
            self.surfaces_[resource].attached = true;
        } else if (name == "wl_surface.commit" && self.surfaces_[resource].layer != nullptr) {
            self.commit(self.surfaces_[resource]);
        } else if (name == "zwlr_layer_shell_v1.get_layer_surface") {
            self.surfaces_[object(1)] = Surface{made[0], self.outputs_[object(2)]};
            self.roles_[made[0]] = object(1);
        } else if (name == "zwlr_layer_surface_v1.ack_configure") {
            self.surfaces_[self.roles_[resource]].acked = args[0].u;
        } else if (name == "wl_surface.destroy" && self.surfaces_[resource].held != nullptr) {
            wl_buffer_send_release(self.surfaces_[resource].held);
        }
        if (name == "wl_surface.destroy") {
            self.surfaces_.erase(resource);
        }
        if (std::string(message->name) == "destroy" || std::string(message->name) == "release") {
            wl_resource_destroy(resource);
        }
        return 0;
    }
    void commit(Surface& surface) {
        if (!std::exchange(surface.attached, false)) {
            if (std::exchange(surface.needsConfigure, false)) {
                const QSize size = sizes_.at(static_cast<std::size_t>(surface.output));
                surface.serial = ++serial_;
                zwlr_layer_surface_v1_send_configure(surface.layer, surface.serial,
                                                     static_cast<std::uint32_t>(size.width()),
                                                     static_cast<std::uint32_t>(size.height()));
            }
            return;
        }
        if (surface.held != nullptr && surface.held != surface.pending) {
            wl_buffer_send_release(surface.held);
        }
        // A null buffer unmaps the surface, which is configured anew on its next commit.
        surface.held = surface.pending;
        surface.needsConfigure = surface.pending == nullptr;
        wl_shm_buffer* shm =
            surface.pending == nullptr ? nullptr : wl_shm_buffer_get(surface.pending);
        if (shm == nullptr) {
            return;
        }
        Frame frame{wl_shm_buffer_get_width(shm), wl_shm_buffer_get_height(shm), 0,
                    surface.acked == surface.serial};
        wl_shm_buffer_begin_access(shm);
        const auto* data = static_cast<const std::uint32_t*>(wl_shm_buffer_get_data(shm));
        const auto end = data + wl_shm_buffer_get_stride(shm) / 4 * frame.height;
        frame.pixel = std::all_of(data, end, [&](auto p) { return p == *data; }) ? *data : 0;
        wl_shm_buffer_end_access(shm);
        frames_.push_back(frame);
    }

    wl_display* display_;
    std::atomic<long> buffers_{0};
    std::array<Global, 5> globals_{{{&wl_compositor_interface},
                                    {&wp_viewporter_interface},
                                    {&zwlr_layer_shell_v1_interface},
                                    {&wl_output_interface, 0},
                                    {&wl_output_interface, 1}}};
    int clientEnd_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<int> pause_{0};
    std::thread thread_;
    std::mutex mutex_;
    std::array<QSize, 2> sizes_{QSize(1920, 1080), QSize(1280, 1024)};
    std::map<wl_resource*, int> outputs_;
    std::map<wl_resource*, Surface> surfaces_;
    std::map<wl_resource*, wl_resource*> roles_;  // layer surface: its wl_surface
    std::vector<std::string> log_;
    std::vector<Frame> frames_;
    std::uint32_t serial_ = 0;
};

class WaylandSurfaceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "wayland_surface_test";
        static std::array<char*, 2> argv{name, nullptr};
        application_ = std::make_unique<QCoreApplication>(argc, argv.data());
    }
    static void TearDownTestSuite() { application_.reset(); }
    void SetUp() override {
        ::setenv("WAYLAND_SOCKET", std::to_string(compositor_.clientEnd()).c_str(), 1);
        connection_ = WaylandConnection::connect("");
        ASSERT_NE(connection_, nullptr);
    }

    // Serves the event loop until `done` holds, for `span` at most; whether it held.
    static bool serveUntil(const std::function<bool()>& done, std::chrono::milliseconds span = 2s) {
        const auto end = std::chrono::steady_clock::now() + span;
        while (!done() && std::chrono::steady_clock::now() < end) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        return done();
    }
    std::uint32_t output(int index) {
        return connection_->outputUnder(QRect(index * 1920, 0, 10, 10));
    }
    std::size_t frameCount() { return compositor_.frames().size(); }
    long buffersAlive() { return compositor_.buffers(); }

    static inline std::unique_ptr<QCoreApplication> application_;
    StandInCompositor compositor_;
    std::unique_ptr<WaylandConnection> connection_;
};

const Color kRed = Color::colorWithCalibratedRed(1.0, 0.0, 0.0, 1.0);
const Color kBlue = Color::colorWithCalibratedRed(0.0, 0.0, 1.0, 1.0);

TEST_F(WaylandSurfaceTest, OverlayIsAKeyboardlessBottomLayerSurfaceScaledOverItsOutput) {
    WaylandLayerSurface overlay(*connection_, output(1), kRed);
    overlay.show();
    ASSERT_TRUE(serveUntil([&] { return frameCount() == 1; }));
    for (const char* request :
         {"zwlr_layer_shell_v1.get_layer_surface _ wl_surface output1 1 vellumor",
          "zwlr_layer_surface_v1.set_size 0 0", "zwlr_layer_surface_v1.set_anchor 15",
          "zwlr_layer_surface_v1.set_exclusive_zone -1",
          "zwlr_layer_surface_v1.set_keyboard_interactivity 0", "wl_surface.set_input_region nil",
          "wp_viewport.set_destination 1280 1024"}) {
        EXPECT_EQ(compositor_.count(request), 1) << request;
    }
    const Frame frame = compositor_.frames()[0];
    EXPECT_TRUE(frame.acked);
    EXPECT_EQ(frame.pixel, 0xFFFF0000U);
    EXPECT_EQ(frame.width, static_cast<int>(pixelBufferLength(1280, 1)));
    EXPECT_EQ(frame.height, static_cast<int>(pixelBufferLength(1024, 1)));
    // Clicks through: an empty region.
    overlay.setTakesClicks(false);
    EXPECT_TRUE(serveUntil(
        [&] { return compositor_.count("wl_surface.set_input_region wl_region") == 1; }));
}

TEST_F(WaylandSurfaceTest, EachColourAndSizeGetsABufferAndEachBufferGoesOnceReleased) {
    {
        WaylandLayerSurface overlay(*connection_, output(0), kRed);
        overlay.show();
        ASSERT_TRUE(serveUntil([&] { return frameCount() == 1; }));
        overlay.hide();
        // Picked while hidden, a colour is drawn at the next show, after a new configure.
        overlay.setColor(kBlue);
        EXPECT_FALSE(serveUntil([&] { return frameCount() > 1; }, 200ms));
        EXPECT_EQ(compositor_.count("wl_surface.attach nil 0 0"), 1);
        overlay.show();
        ASSERT_TRUE(serveUntil([&] { return frameCount() == 2; }));
        EXPECT_EQ(compositor_.frames()[1].pixel, 0xFF0000FFU);
        EXPECT_TRUE(compositor_.frames()[1].acked);
        overlay.setColor(kRed);
        ASSERT_TRUE(serveUntil([&] { return frameCount() == 3; }));
        EXPECT_EQ(compositor_.frames()[2].pixel, 0xFFFF0000U);
        // A new size, configured after a hide, wants a buffer of its own length.
        compositor_.resize(0, {800, 600});
        overlay.hide();
        overlay.show();
        ASSERT_TRUE(serveUntil([&] { return frameCount() == 4; }));
        EXPECT_EQ(compositor_.frames()[3].width, static_cast<int>(pixelBufferLength(800, 1)));
        EXPECT_EQ(compositor_.frames()[3].height, static_cast<int>(pixelBufferLength(600, 1)));
        // Each buffer the compositor let go of is destroyed; the one it holds stays.
        EXPECT_TRUE(serveUntil([&] { return buffersAlive() == 1; })) << buffersAlive();
    }
    EXPECT_TRUE(serveUntil([&] { return buffersAlive() == 0; })) << buffersAlive();
}

TEST_F(WaylandSurfaceTest, RequestsThatFindTheSocketFullAreSentWhenItHasRoom) {
    WaylandLayerSurface overlay(*connection_, output(0), kRed);
    overlay.show();
    ASSERT_TRUE(serveUntil([&] { return frameCount() == 1; }));
    // The smallest send buffer fills after a few writes that the compositor does not read.
    const int smallest = 1;
    ASSERT_EQ(
        ::setsockopt(compositor_.clientEnd(), SOL_SOCKET, SO_SNDBUF, &smallest, sizeof smallest),
        0);
    compositor_.pause(300ms);
    for (int i = 0; i < 60; ++i) {
        overlay.setTakesClicks(true);
    }
    overlay.setTakesClicks(false);
    pollfd writable{compositor_.clientEnd(), POLLOUT, 0};
    ASSERT_EQ(::poll(&writable, 1, 0), 0) << "the socket did not fill";
    EXPECT_TRUE(serveUntil(
        [&] { return compositor_.count("wl_surface.set_input_region wl_region") == 1; }));
    EXPECT_EQ(compositor_.count("wl_surface.set_input_region nil"), 61);
}

}  // namespace
}  // namespace platform::qt
