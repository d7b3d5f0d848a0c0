// The whole program on the in-memory desktop: what one colour pick and one display change
// cost, and how that grows with the number of displays (one overlay each).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>

#include "bench/support/BenchProgram.h"
#include "main/ColorManager.h"
#include "platform/Color.h"
#include "platform/NotificationCenter.h"
#include "tests/support/FsyncProbe.h"

namespace vellumor::bench {
namespace {

using platform::Color;

// The in-memory desktop keeps a journal line for every platform call it sees, which grows
// for as long as the program runs. Starting the program afresh now and then keeps that
// journal, which the real backends do not have, from weighing on the figures.
constexpr benchmark::IterationCount kRelaunchEvery = 4096;

// Two colours as the X11 colour panel reports them, picked in turn so that every pick is a
// change.
const std::array<Color, 2> kColours{Color::colorWithDeviceRed(0.8, 0.2, 0.1, 1.0),
                                    Color::colorWithDeviceRed(0.1, 0.3, 0.9, 1.0)};

// Runs `step` once per iteration of `state`, with the number of iterations before it; every
// kRelaunchEvery iterations it first runs `launch`, untimed. How many iterations ran.
template <typename Launch, typename Step>
std::size_t relaunching(benchmark::State& state, const Launch& launch, const Step& step) {
    std::size_t done = 0;
    for (auto _ : state) {
        if (done != 0 && done % kRelaunchEvery == 0) {
            state.PauseTiming();
            launch();
            state.ResumeTiming();
        }
        step(done++);
    }
    return done;
}

// Whether every display has a shown overlay in `colour`.
bool everyOverlayShows(const BenchProgram& program, int displays, const Color& colour) {
    const auto& overlays = program.delegate().overlayWindows();
    if (overlays.size() != static_cast<std::size_t>(displays)) {
        return false;
    }
    for (const auto& overlay : overlays) {
        if (!overlay->isVisible() || !(overlay->backgroundColor() == colour)) {
            return false;
        }
    }
    return true;
}

// One pick in the colour panel, from the panel's report through the delegate's action, the
// archive, the defaults write and the colorDidChange post, to every overlay repainted. The
// sync that the event loop makes once the picks pause is not part of it.
void BM_ColorFanOut(benchmark::State& state, DefaultsPlace place) {
    const int displays = static_cast<int>(state.range(0));
    const auto base = defaultsBase(place);
    if (base.empty()) {
        state.SkipWithError("no tmpfs at /dev/shm");
        return;
    }
    const ScratchDirectory directory(base, "fanout");
    std::optional<BenchProgram> program;
    const auto launch = [&] {
        program.emplace(directory.path(), displayGrid(displays));
        program->desktop().chooseStatusMenuEntry("Pick Color...");
    };
    launch();
    if (!program->desktop().colorPanelVisible()) {
        state.SkipWithError("the colour panel did not open");
        return;
    }

    // The picks' own fsyncs (a relaunch's sync of what the last program wrote is not counted),
    // and the slowest pick: a wait for the disk shows there first.
    std::size_t fsyncs = 0;
    std::chrono::steady_clock::duration slowest{};
    const std::size_t picks = relaunching(state, launch, [&](std::size_t i) {
        const std::size_t fsyncsBefore = test::fsyncCount();
        const auto start = std::chrono::steady_clock::now();
        program->desktop().pickColorInPanel(kColours[i % 2]);
        slowest = std::max(slowest, std::chrono::steady_clock::now() - start);
        fsyncs += test::fsyncCount() - fsyncsBefore;
    });
    state.counters["fsyncs_per_pick"] =
        benchmark::Counter(static_cast<double>(fsyncs), benchmark::Counter::kAvgIterations);
    state.counters["slowest_pick_us"] = std::chrono::duration<double, std::micro>(slowest).count();
    if (picks != 0 && !everyOverlayShows(*program, displays, kColours[(picks - 1) % 2])) {
        state.SkipWithError("an overlay did not take the picked colour");
    }
    state.SetLabel(placeName(place));
}
// No complexity fit here: a pick is a fixed cost (archive and defaults write) plus a part per
// display, and the fits offered have no constant term; BM_ColorDidChangeDelivery fits the
// per-display part alone.
BENCHMARK_CAPTURE(BM_ColorFanOut, disk, DefaultsPlace::Disk)
    ->ArgName("displays")
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ColorFanOut, tmpfs, DefaultsPlace::Memory)
    ->ArgName("displays")
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->Unit(benchmark::kMicrosecond);

// The part of a pick after the colour is stored: the colorDidChange post reaching every
// overlay, each of which reads the colour back and repaints.
void BM_ColorDidChangeDelivery(benchmark::State& state) {
    const int displays = static_cast<int>(state.range(0));
    const ScratchDirectory directory(defaultsBase(DefaultsPlace::Disk), "delivery");
    std::optional<BenchProgram> program;
    const auto launch = [&] { program.emplace(directory.path(), displayGrid(displays)); };
    launch();
    ColorManager::shared().setCurrentColor(kColours[0]);

    relaunching(state, launch, [](std::size_t) {
        platform::NotificationCenter::defaultCenter().postNotificationName(
            notification::colorDidChange, nullptr);
    });
    if (!everyOverlayShows(*program, displays, kColours[0])) {
        state.SkipWithError("an overlay does not show the stored colour");
    }
    state.SetComplexityN(displays);
}
BENCHMARK(BM_ColorDidChangeDelivery)
    ->ArgName("displays")
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oN);

// One read of the stored colour, which each overlay makes on every change: a defaults
// look-up and a keyed-archive decode.
void BM_CurrentColor(benchmark::State& state) {
    const ScratchDirectory directory(defaultsBase(DefaultsPlace::Disk), "current");
    const BenchProgram program(directory.path(), displayGrid(1));
    ColorManager::shared().setCurrentColor(kColours[1]);
    bool allRead = true;
    for (auto _ : state) {
        Color colour = ColorManager::shared().currentColor();
        allRead = allRead && colour == kColours[1];
        benchmark::DoNotOptimize(colour);
    }
    if (!allRead) {
        state.SkipWithError("the stored colour did not read back");
    }
}
BENCHMARK(BM_CurrentColor);

// One display change: the screen-parameters notification, every overlay closed and
// freed, and one new overlay made, coloured and shown per display.
void BM_Rebuild(benchmark::State& state) {
    const int displays = static_cast<int>(state.range(0));
    const ScratchDirectory directory(defaultsBase(DefaultsPlace::Disk), "rebuild");
    std::optional<BenchProgram> program;
    std::size_t destroyedBefore = 0;
    const auto launch = [&] {
        program.emplace(directory.path(), displayGrid(displays));
        destroyedBefore = program->desktop().windowsDestroyed();
    };
    launch();
    ColorManager::shared().setCurrentColor(kColours[1]);

    const std::size_t rebuilds = relaunching(
        state, launch, [&](std::size_t) { program->desktop().postScreenParametersChanged(); });
    const std::size_t sinceLaunch = rebuilds == 0 ? 0 : (rebuilds - 1) % kRelaunchEvery + 1;
    const std::size_t destroyed = program->desktop().windowsDestroyed() - destroyedBefore;
    if (destroyed != sinceLaunch * static_cast<std::size_t>(displays) ||
        !everyOverlayShows(*program, displays, kColours[1])) {
        state.SkipWithError("a rebuild did not replace every overlay");
    }
    state.SetComplexityN(displays);
}
BENCHMARK(BM_Rebuild)
    ->ArgName("displays")
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oN);

}  // namespace
}  // namespace vellumor::bench

BENCHMARK_MAIN();
