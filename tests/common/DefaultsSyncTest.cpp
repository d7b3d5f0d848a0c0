// When a write of the defaults file reaches stable storage: not while the program waits for
// it, but once per burst, when the domain is closed, and before the process ends.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <tuple>

#include "platform/common/DefaultsFile.h"
#include "tests/common/StoreFiles.h"
#include "tests/support/ForkedChild.h"
#include "tests/support/FsyncProbe.h"

namespace {

using platform::PropertyValue;
using platform::common::DefaultsFile;
using test::Fsync;

using DefaultsSyncTest = test::ScratchTest;

TEST_F(DefaultsSyncTest, ABurstOfWritesIsInPlaceAtOnceAndSyncedOnceWhenAskedOrClosed) {
    const test::fs::path file = dir_ / "org.vellumor.Vellumor.plist";
    const std::size_t mark = test::fsyncCount();
    {
        DefaultsFile defaults(file);
        for (std::int64_t i = 1; i <= 20; ++i) {
            ASSERT_TRUE(defaults.setObject(i, "k"));
            EXPECT_EQ(DefaultsFile(file).objectForKey("k"), PropertyValue(i));
        }
        EXPECT_EQ(test::fsyncsSince(mark), std::vector<Fsync>{});
        EXPECT_EQ(test::entries(dir_), std::vector{file.filename().string()});
        defaults.sync();
        EXPECT_EQ(test::fsyncsSince(mark), test::syncOf(file));
        EXPECT_FALSE(defaults.needsSync());
        defaults.sync();
        EXPECT_EQ(test::fsyncsSince(mark).size(), 2u) << "nothing new to sync";
        ASSERT_TRUE(defaults.setObject(true, "k"));
        EXPECT_TRUE(defaults.needsSync());
    }
    EXPECT_EQ(test::fsyncsSince(mark).size(), 4u) << "not synced when closed";
    EXPECT_EQ(test::fsyncsSince(mark + 2), test::syncOf(file));
    { const DefaultsFile readOnly(file); }
    EXPECT_EQ(test::fsyncsSince(mark).size(), 4u) << "a domain only read has nothing to sync";
}

volatile sig_atomic_t handled = 0;
void noteHandled(int) {
    handled = 1;
}

// With a write still to sync, an exit (which destroys nothing on the stack it is called from,
// as Qt calls it when the X server goes) and a termination signal with its default action sync
// it first, then end the process as they would have. A signal the program ignores or handles
// itself is left to it; the domain, closed, syncs then.
TEST_F(DefaultsSyncTest, TheEndOfTheProcessSyncsFirstUnlessItTakesTheSignalItself) {
    const test::fs::path file = dir_ / "org.vellumor.Vellumor.plist";
    // What ends the process: exit(3), or the signal after the program's own handler is replaced
    // (SIG_DFL: it is not); and the wait status that ending gives.
    const std::vector<std::tuple<const char*, int, sighandler_t, int>> ends = {
        {"exit", 0, SIG_DFL, 3 << 8},
        {"SIGTERM", SIGTERM, SIG_DFL, SIGTERM},
        {"SIGINT", SIGINT, SIG_DFL, SIGINT},
        {"SIGHUP", SIGHUP, SIG_DFL, SIGHUP},
        {"SIGTERM ignored", SIGTERM, SIG_IGN, 0},
        {"SIGTERM handled", SIGTERM, noteHandled, 0},
    };
    for (const auto& [name, raised, handler, endsWith] : ends) {
        SCOPED_TRACE(name);
        const std::size_t mark = test::fsyncCount();
        test::Child child([&](const test::Child&) {
            {
                DefaultsFile defaults(file);
                defaults.setObject(std::string(name), "k");
                if (raised == 0) {
                    std::exit(3);
                }
                if (handler != SIG_DFL) {
                    ::signal(raised, handler);
                }
                ::raise(raised);
            }
            return handled == (handler == noteHandled) ? 0 : 1;
        });
        EXPECT_EQ(child.wait(), endsWith);
        EXPECT_EQ(test::fsyncsSince(mark), test::syncOf(file));
        EXPECT_EQ(DefaultsFile(file).objectForKey("k"), PropertyValue(std::string(name)));
    }
}

}  // namespace
