// The colour's way to and from the user's defaults on the non-Apple backends: the keyed
// archive codec and the defaults file, per operation.

#include <benchmark/benchmark.h>

#include <optional>

#include "bench/support/BenchProgram.h"
#include "platform/Color.h"
#include "platform/common/DefaultsFile.h"
#include "platform/common/KeyedArchive.h"
#include "tests/support/FsyncProbe.h"

namespace vellumor::bench {
namespace {

using platform::Color;
using platform::Data;

// A colour as the X11 colour panel reports it, and the one the program starts with.
const Color kPicked = Color::colorWithDeviceRed(0.8, 0.2, 0.1, 1.0);
const Color kDefault = Color::colorWithCalibratedRed(0.1, 0.1, 0.1, 1.0);
const char* const kKey = "selectedBackgroundColor";

void BM_ArchiveColor(benchmark::State& state, const Color& colour) {
    std::optional<Data> archive;
    for (auto _ : state) {
        archive = platform::common::archiveColor(colour);
        benchmark::DoNotOptimize(archive);
    }
    if (!archive || platform::common::unarchiveColor(*archive) != colour) {
        state.SkipWithError("the archive does not read back as the colour");
        return;
    }
    state.counters["archive_bytes"] = static_cast<double>(archive->size());
}
BENCHMARK_CAPTURE(BM_ArchiveColor, device_rgb, kPicked);
BENCHMARK_CAPTURE(BM_ArchiveColor, calibrated_rgb, kDefault);

void BM_UnarchiveColor(benchmark::State& state, const Color& colour) {
    const auto archive = platform::common::archiveColor(colour);
    if (!archive) {
        state.SkipWithError("the colour could not be archived");
        return;
    }
    bool allRead = true;
    for (auto _ : state) {
        auto read = platform::common::unarchiveColor(*archive);
        allRead = allRead && read == colour;
        benchmark::DoNotOptimize(read);
    }
    if (!allRead) {
        state.SkipWithError("the archive did not read back as the colour");
    }
}
BENCHMARK_CAPTURE(BM_UnarchiveColor, device_rgb, kPicked);
BENCHMARK_CAPTURE(BM_UnarchiveColor, calibrated_rgb, kDefault);

// One stored colour, as a pick stores it before the overlays hear of it: the whole domain
// written to a temporary file and renamed over the old one. No fsync: fsyncs_per_write counts
// them (every fsync of the process is counted, tests/support/FsyncProbe.h).
void BM_DefaultsSetObject(benchmark::State& state, DefaultsPlace place) {
    const auto base = defaultsBase(place);
    if (base.empty()) {
        state.SkipWithError("no tmpfs at /dev/shm");
        return;
    }
    const ScratchDirectory directory(base, "defaults");
    const auto archive = platform::common::archiveColor(kPicked);
    if (!archive) {
        state.SkipWithError("the colour could not be archived");
        return;
    }
    platform::common::DefaultsFile defaults(directory.path() / "org.vellumor.Vellumor.plist");
    bool allWritten = true;
    const std::size_t fsyncsBefore = test::fsyncCount();
    for (auto _ : state) {
        allWritten = defaults.setObject(*archive, kKey) && allWritten;
    }
    state.counters["fsyncs_per_write"] = benchmark::Counter(
        static_cast<double>(test::fsyncCount() - fsyncsBefore), benchmark::Counter::kAvgIterations);
    // What a later launch would read.
    const platform::common::DefaultsFile reread(defaults.path());
    if (!allWritten || reread.dataForKey(kKey) != archive) {
        state.SkipWithError("the defaults file was not written");
    }
    state.SetLabel(placeName(place));
}
BENCHMARK_CAPTURE(BM_DefaultsSetObject, disk, DefaultsPlace::Disk)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DefaultsSetObject, tmpfs, DefaultsPlace::Memory)
    ->Unit(benchmark::kMicrosecond);

// One stored colour and its sync (fsync of the file, then of the directory): what each pick
// cost when every write was synced before the overlays heard of it, and what the event loop
// now pays once per burst of picks.
void BM_DefaultsSetObjectAndSync(benchmark::State& state, DefaultsPlace place) {
    const auto base = defaultsBase(place);
    if (base.empty()) {
        state.SkipWithError("no tmpfs at /dev/shm");
        return;
    }
    const ScratchDirectory directory(base, "synced");
    const auto archive = platform::common::archiveColor(kPicked);
    if (!archive) {
        state.SkipWithError("the colour could not be archived");
        return;
    }
    platform::common::DefaultsFile defaults(directory.path() / "org.vellumor.Vellumor.plist");
    bool allWritten = true;
    const std::size_t fsyncsBefore = test::fsyncCount();
    for (auto _ : state) {
        allWritten = defaults.setObject(*archive, kKey) && allWritten;
        defaults.sync();
    }
    state.counters["fsyncs_per_write"] = benchmark::Counter(
        static_cast<double>(test::fsyncCount() - fsyncsBefore), benchmark::Counter::kAvgIterations);
    if (!allWritten || defaults.needsSync()) {
        state.SkipWithError("the defaults file was not written and synced");
    }
    state.SetLabel(placeName(place));
}
BENCHMARK_CAPTURE(BM_DefaultsSetObjectAndSync, disk, DefaultsPlace::Disk)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DefaultsSetObjectAndSync, tmpfs, DefaultsPlace::Memory)
    ->Unit(benchmark::kMicrosecond);

// One read of the stored colour's archive from the open domain (kept in memory).
void BM_DefaultsDataForKey(benchmark::State& state) {
    const ScratchDirectory directory(defaultsBase(DefaultsPlace::Memory).empty()
                                         ? defaultsBase(DefaultsPlace::Disk)
                                         : defaultsBase(DefaultsPlace::Memory),
                                     "read");
    const auto archive = platform::common::archiveColor(kPicked);
    platform::common::DefaultsFile defaults(directory.path() / "org.vellumor.Vellumor.plist");
    if (!archive || !defaults.setObject(*archive, kKey)) {
        state.SkipWithError("the defaults file was not written");
        return;
    }
    bool allRead = true;
    for (auto _ : state) {
        auto data = defaults.dataForKey(kKey);
        allRead = allRead && data == archive;
        benchmark::DoNotOptimize(data);
    }
    if (!allRead) {
        state.SkipWithError("the stored archive did not read back");
    }
}
BENCHMARK(BM_DefaultsDataForKey);

}  // namespace
}  // namespace vellumor::bench

BENCHMARK_MAIN();
