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
#include <map>
#include <thread>

#include "platform/qt/QtWaylandConnection.h"
#include "platform/qt/QtWaylandRules.h"
#include "platform/qt/QtWaylandSurface.h"
#include "tests/support/ChildProcess.h"
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
    friend bool operator==(const Frame&, const Frame&) = default;
};
// A frame of `colour` (0xAARRGGBB) as an overlay of that many logical pixels should send it.
Frame shown(std::uint32_t colour, std::uint32_t width, std::uint32_t height) {
    return {static_cast<int>(pixelBufferLength(width, 1)),
            static_cast<int>(pixelBufferLength(height, 1)), colour, true};
}

// The fixture is the compositor: wl_compositor, wl_shm, wp_viewporter, the layer shell and two
// outputs (1920x1080 at the origin, 1280x1024 right of it) for one client on a socket pair,
// served by one dispatcher on the test's thread whenever the test serves its event loop, and
// so never while the test sends. As a real compositor, it configures a layer surface to its
// output's size and holds each buffer until another replaces it or the surface goes.
class WaylandSurfaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        serveUntil([] { return true; });  // makes the application the connection is served by
        wl_display_init_shm(display_);
        for (Global& global : globals_) {
            global.self = this;
            global.global =
                wl_global_create(display_, global.kind, global.kind->version, &global, bind);
        }
        std::array<int, 2> ends{};
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends.data()), 0);
        client_ = wl_client_create(display_, ends[0]);
        clientEnd_ = ends[1];
        ::setenv("WAYLAND_SOCKET", std::to_string(clientEnd_).c_str(), 1);
        // The connection waits for the compositor's answers: served meanwhile on a thread.
        std::atomic<bool> connected{false};
        std::thread server([&] {
            while (!connected) {
                serve(5);
            }
        });
        connection_ = WaylandConnection::connect("");
        connected = true;
        server.join();
        ASSERT_NE(connection_, nullptr);
    }
    void TearDown() override {
        connection_.reset();
        wl_display_destroy_clients(display_);
        wl_display_destroy(display_);
    }

    void serve(int timeout) {
        wl_event_loop_dispatch(wl_display_get_event_loop(display_), timeout);
        wl_display_flush_clients(display_);
    }
    // Serves the program's event loop and the compositor until `done` holds, for `span` at
    // most; whether it held.
    bool serveUntil(const std::function<bool()>& done, std::chrono::milliseconds span = 2s) {
        static int argc = 1;
        static char name[] = "qt_wayland_tests";
        static char* argv[] = {name, nullptr};
        [[maybe_unused]] static const auto* application = new QCoreApplication(argc, argv);
        return vellumor::testsupport::waitUntil(
            [&] {
                for (int turn = 0; turn < 4 && connection_; ++turn) {
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
                    serve(0);
                }
                return done();
            },
            span);
    }
    // How many requests were logged as `line` (interface.request and its arguments: objects
    // by interface, "nil" for none, outputs as output0 and output1).
    long count(const std::string& line) const { return std::count(log_.begin(), log_.end(), line); }
    // How many buffers the client has.
    long buffers() const {
        long count = 0;
        wl_client_for_each_resource(
            client_,
            [](wl_resource* resource, void* total) {
                *static_cast<long*>(total) +=
                    std::string(wl_resource_get_class(resource)) == "wl_buffer";
                return WL_ITERATOR_CONTINUE;
            },
            &count);
        return count;
    }
    std::uint32_t output(int index) {
        return connection_->outputUnder(QRect(index * 1920, 0, 10, 10));
    }

    struct Global {
        const wl_interface* kind;
        int output = -1;
        WaylandSurfaceTest* self = nullptr;
        wl_global* global = nullptr;
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
    // Makes the objects a request asks for and does what the overlays need of a compositor.
    static int dispatch(const void* /*implementation*/, void* target, std::uint32_t /*opcode*/,
                        const wl_message* message, wl_argument* args) {
        auto* resource = static_cast<wl_resource*>(target);
        auto& self = *static_cast<WaylandSurfaceTest*>(wl_resource_get_user_data(resource));
        const std::string name = std::string(wl_resource_get_class(resource)) + "." + message->name;
        const auto object = [&](int i) { return reinterpret_cast<wl_resource*>(args[i].o); };
        std::vector<wl_resource*> made;
        std::string line = name;
        for (int arg = 0; const char c : std::string(message->signature)) {
            if (c == '?' || (c >= '0' && c <= '9')) {
                continue;  // not an argument: nullable mark or version
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

    wl_display* display_ = wl_display_create();
    wl_client* client_ = nullptr;
    int clientEnd_ = -1;
    std::array<Global, 5> globals_{{{&wl_compositor_interface},
                                    {&wp_viewporter_interface},
                                    {&zwlr_layer_shell_v1_interface},
                                    {&wl_output_interface, 0},
                                    {&wl_output_interface, 1}}};
    std::array<QSize, 2> sizes_{QSize(1920, 1080), QSize(1280, 1024)};  // of the next configure
    std::map<wl_resource*, int> outputs_;
    std::map<wl_resource*, Surface> surfaces_;
    std::map<wl_resource*, wl_resource*> roles_;  // layer surface: its wl_surface
    std::vector<std::string> log_;
    std::vector<Frame> frames_;
    std::uint32_t serial_ = 0;
    std::unique_ptr<WaylandConnection> connection_;
};

const Color kRed = Color::colorWithCalibratedRed(1.0, 0.0, 0.0, 1.0);
const Color kBlue = Color::colorWithCalibratedRed(0.0, 0.0, 1.0, 1.0);

TEST_F(WaylandSurfaceTest, OverlayIsAKeyboardlessBottomLayerSurfaceScaledOverItsOutput) {
    WaylandLayerSurface overlay(*connection_, output(1), kRed);
    overlay.show();
    ASSERT_TRUE(serveUntil([&] { return frames_.size() == 1; }));
    for (const char* request :
         {"zwlr_layer_shell_v1.get_layer_surface _ wl_surface output1 1 vellumor",
          "zwlr_layer_surface_v1.set_size 0 0", "zwlr_layer_surface_v1.set_anchor 15",
          "zwlr_layer_surface_v1.set_exclusive_zone -1",
          "zwlr_layer_surface_v1.set_keyboard_interactivity 0", "wl_surface.set_input_region nil",
          "wp_viewport.set_destination 1280 1024"}) {
        EXPECT_EQ(count(request), 1) << request;
    }
    EXPECT_EQ(frames_[0], shown(0xFFFF0000U, 1280, 1024));
    // Clicks through: an empty region.
    overlay.setTakesClicks(false);
    EXPECT_TRUE(serveUntil([&] { return count("wl_surface.set_input_region wl_region") == 1; }));
}

TEST_F(WaylandSurfaceTest, EachColourAndSizeGetsABufferAndEachBufferGoesOnceReleased) {
    {
        WaylandLayerSurface overlay(*connection_, output(0), kRed);
        overlay.show();
        ASSERT_TRUE(serveUntil([&] { return frames_.size() == 1; }));
        overlay.hide();
        // Picked while hidden, a colour is drawn at the next show, after a new configure.
        overlay.setColor(kBlue);
        EXPECT_FALSE(serveUntil([&] { return frames_.size() > 1; }, 200ms));
        EXPECT_EQ(count("wl_surface.attach nil 0 0"), 1);
        overlay.show();
        ASSERT_TRUE(serveUntil([&] { return frames_.size() == 2; }));
        EXPECT_EQ(frames_[1], shown(0xFF0000FFU, 1920, 1080));
        overlay.setColor(kRed);
        ASSERT_TRUE(serveUntil([&] { return frames_.size() == 3; }));
        EXPECT_EQ(frames_[2], shown(0xFFFF0000U, 1920, 1080));
        // A new size, configured after a hide, wants a buffer of its own length.
        sizes_[0] = {800, 600};
        overlay.hide();
        overlay.show();
        ASSERT_TRUE(serveUntil([&] { return frames_.size() == 4; }));
        EXPECT_EQ(frames_[3], shown(0xFFFF0000U, 800, 600));
        // Each buffer the compositor let go of is destroyed; the one it holds stays.
        EXPECT_TRUE(serveUntil([&] { return buffers() == 1; })) << buffers();
    }
    EXPECT_TRUE(serveUntil([&] { return buffers() == 0; })) << buffers();
}

TEST_F(WaylandSurfaceTest, RequestsThatFindTheSocketFullAreSentWhenItHasRoom) {
    WaylandLayerSurface overlay(*connection_, output(0), kRed);
    overlay.show();
    ASSERT_TRUE(serveUntil([&] { return frames_.size() == 1; }));
    // The smallest send buffer fills after a few writes, which the compositor reads only once
    // the loop is served.
    const int smallest = 1;
    ASSERT_EQ(::setsockopt(clientEnd_, SOL_SOCKET, SO_SNDBUF, &smallest, sizeof smallest), 0);
    for (int i = 0; i < 60; ++i) {
        overlay.setTakesClicks(true);
    }
    overlay.setTakesClicks(false);
    pollfd writable{clientEnd_, POLLOUT, 0};
    ASSERT_EQ(::poll(&writable, 1, 0), 0) << "the socket did not fill";
    EXPECT_TRUE(serveUntil([&] { return count("wl_surface.set_input_region wl_region") == 1; }));
    EXPECT_EQ(count("wl_surface.set_input_region nil"), 61);
}

TEST_F(WaylandSurfaceTest, AnOutputTakenAwayIsNoDisplayAnyMore) {
    const std::uint32_t second = output(1);
    ASSERT_EQ(connection_->monitors().size(), 2U);
    wl_global_destroy(globals_[4].global);
    EXPECT_TRUE(serveUntil([&] { return connection_->monitors().size() == 1; }));
    EXPECT_EQ(connection_->output(second), nullptr);
    EXPECT_EQ(output(1), 0U);
}

}  // namespace
}  // namespace platform::qt
