// libFuzzer target VELLUMOR_FUZZ_TARGET: any bytes through its checks (FuzzChecks.h).

#include <cstdio>
#include <cstdlib>

#include "tests/fuzz/FuzzChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const platform::Data data(bytes, bytes + size);
    if (const auto broken = vellumor::fuzz::check(VELLUMOR_FUZZ_TARGET, data)) {
        std::fprintf(stderr, "broken promise: %s\n", broken->c_str());
        std::abort();
    }
    return 0;
}
