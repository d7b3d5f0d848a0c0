// Vellumor started where there is neither an X display nor a Wayland compositor to run on: it
// says what is missing in one line and ends with status 1, before Qt could abort it, leaving
// the stored colour alone.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#if VELLUMOR_WAYLAND_TEST_SERVER
#include <wayland-server.h>

#include <atomic>
#include <thread>
#endif

#include "tests/x11/ShortRun.h"
#include "tests/x11/X11Desktop.h"

namespace vellumor::x11test {
namespace {

class NoDisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string dir =
            (std::filesystem::temp_directory_path() / "vellumor-nodisplay-XXXXXX").string();
        ASSERT_NE(::mkdtemp(dir.data()), nullptr);
        dir_ = dir;
        defaults_ = dir_ / "config/vellumor/org.vellumor.Vellumor.plist";
        // Any stored colour: its bytes and time must stay as they are.
        std::filesystem::create_directories(defaults_.parent_path());
        std::ofstream(defaults_) << "bplist00 a colour stored earlier";
        written_ = std::filesystem::last_write_time(defaults_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // Runs vellumor with `environment` and expects the one-line failure that names the
    // problem (`saying`) and the way out (`remedy`).
    void expectNoDisplayLine(const std::string& environment, const std::string& saying,
                             const std::string& remedy = kSetDisplay) {
        SCOPED_TRACE(environment);
        const ShortRun run = runVellumorToEnd(dir_, environment, "");
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_EQ(run.out, "");
        const auto said = lines(run.err);
        ASSERT_EQ(said.size(), 1U) << run.err;
        EXPECT_EQ(said[0].rfind("vellumor: ", 0), 0U) << said[0];
        EXPECT_NE(said[0].find(saying), std::string::npos) << said[0];
        EXPECT_NE(said[0].find(remedy), std::string::npos) << said[0];
        EXPECT_EQ(fileText(defaults_), "bplist00 a colour stored earlier");
        EXPECT_EQ(std::filesystem::last_write_time(defaults_), written_);
    }

    static inline const std::string kSetDisplay =
        "set DISPLAY, or WAYLAND_DISPLAY to a compositor with the layer shell";

    std::filesystem::path dir_;
    // Inside the run's own directory, so that tests running side by side never share it.
    std::filesystem::path defaults_;
    std::filesystem::file_time_type written_;
};

// A display number no server listens on.
std::string unusedDisplay() {
    int number = 4242;
    while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number))) {
        ++number;
    }
    return ":" + std::to_string(number);
}

TEST_F(NoDisplayTest, UnsetWrongOrWaylandOnlyDisplayEndsWithOneLineAndStatusOne) {
    expectNoDisplayLine("-u DISPLAY -u WAYLAND_DISPLAY", "no X display: ");
    const std::string wrong = unusedDisplay();
    expectNoDisplayLine("-u WAYLAND_DISPLAY DISPLAY=" + wrong, "no X display at \"" + wrong + "\"");
    // A Wayland session whose compositor is gone, without XWayland: only a Wayland display is
    // named, in a runtime directory where nothing listens.
    expectNoDisplayLine(
        "-u DISPLAY WAYLAND_DISPLAY=wayland-0 XDG_SESSION_TYPE=wayland "
        "XDG_RUNTIME_DIR=" +
            dir_.string(),
        "no Wayland compositor at \"wayland-0\" and no X display: ");
}

TEST_F(NoDisplayTest, ScreenTheServerDoesNotHaveEndsWithOneLineAndStatusOne) {
    if (std::system("which Xvfb xrandr >/dev/null") != 0) {
        GTEST_SKIP() << "Xvfb or xrandr is not installed";
    }
    X11Desktop desktop(true);
    // The desktop's DISPLAY=:n with a screen 3, where the server has only screen 0.
    const std::string environment = desktop.environment();
    const std::string display = environment.substr(8, environment.find(' ') - 8) + ".3";
    expectNoDisplayLine("-u WAYLAND_DISPLAY DISPLAY=" + display,
                        "the X display \"" + display + "\" has no such screen");
}

#if VELLUMOR_WAYLAND_TEST_SERVER
// A compositor that offers surfaces and nothing else, as GNOME's offers no layer shell: it
// serves its socket in `runtimeDirectory` from a thread of its own until destroyed.
class SurfacesOnlyCompositor {
public:
    explicit SurfacesOnlyCompositor(const std::filesystem::path& runtimeDirectory)
        : display_(wl_display_create()) {
        ::setenv("XDG_RUNTIME_DIR", runtimeDirectory.c_str(), 1);
        socket_ = wl_display_add_socket_auto(display_);
        wl_global_create(display_, &wl_compositor_interface, 4, nullptr, bind);
        thread_ = std::thread([this] {
            while (!stop_) {
                wl_event_loop_dispatch(wl_display_get_event_loop(display_), 50);
                wl_display_flush_clients(display_);
            }
        });
    }
    ~SurfacesOnlyCompositor() {
        stop_ = true;
        thread_.join();
        wl_display_destroy(display_);
    }
    SurfacesOnlyCompositor(const SurfacesOnlyCompositor&) = delete;
    SurfacesOnlyCompositor& operator=(const SurfacesOnlyCompositor&) = delete;

    std::string socket() const { return socket_ == nullptr ? "" : socket_; }

private:
    static void bind(wl_client* client, void* /*data*/, std::uint32_t version, std::uint32_t id) {
        wl_resource_create(client, &wl_compositor_interface, static_cast<int>(version), id);
    }

    wl_display* display_;
    const char* socket_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(NoDisplayTest, CompositorWithoutLayerShellAndNoXDisplaySendsTheUserToXWayland) {
    SurfacesOnlyCompositor compositor(dir_);
    ASSERT_NE(compositor.socket(), "");
    expectNoDisplayLine(
        "-u DISPLAY XDG_RUNTIME_DIR=" + dir_.string() + " WAYLAND_DISPLAY=" + compositor.socket(),
        "the Wayland compositor at \"" + compositor.socket() +
            "\" lacks zwlr_layer_shell_v1, wl_shm, wp_viewporter and no X display",
        "run it through XWayland (set DISPLAY)");
}
#endif

}  // namespace
}  // namespace vellumor::x11test
