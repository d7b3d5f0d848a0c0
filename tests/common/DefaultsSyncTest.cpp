// When a write of the defaults file reaches stable storage: not while the program waits for
// it, but once per burst, when the domain is closed, and before the process ends.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <functional>

#include "platform/common/DefaultsFile.h"
#include "tests/common/StoreFiles.h"
#include "tests/support/ForkedChild.h"
#include "tests/support/FsyncProbe.h"

namespace {

using platform::PropertyValue;
using platform::common::DefaultsFile;
using test::Fsync;

class DefaultsSyncTest : public test::ScratchTest {
protected:
    void SetUp() override {
        ScratchTest::SetUp();
        file_ = dir_ / "org.vellumor.Vellumor.plist";
    }
    // The fsyncs that make the file now in place durable: its contents, then its name.
    std::vector<Fsync> syncOfTheFile() const {
        return {test::fsyncOf(file_.c_str()), test::fsyncOf(dir_.c_str())};
    }

    test::fs::path file_;
};

TEST_F(DefaultsSyncTest, ABurstOfWritesIsInPlaceAtOnceAndSyncedOnceWhenAskedOrClosed) {
    const std::size_t mark = test::fsyncCount();
    {
        DefaultsFile defaults(file_);
        for (std::int64_t i = 1; i <= 20; ++i) {
            ASSERT_TRUE(defaults.setObject(i, "k"));
            EXPECT_EQ(DefaultsFile(file_).objectForKey("k"), PropertyValue(i));
        }
        EXPECT_EQ(test::fsyncsSince(mark), std::vector<Fsync>{});
        EXPECT_EQ(test::entries(dir_), std::vector{file_.filename().string()});
        defaults.sync();
        EXPECT_EQ(test::fsyncsSince(mark), syncOfTheFile());
        EXPECT_FALSE(defaults.needsSync());
        defaults.sync();
        EXPECT_EQ(test::fsyncsSince(mark).size(), 2u) << "nothing new to sync";
        ASSERT_TRUE(defaults.setObject(true, "k"));
        EXPECT_TRUE(defaults.needsSync());
    }
    EXPECT_EQ(test::fsyncsSince(mark).size(), 4u) << "not synced when closed";
    EXPECT_EQ(test::fsyncsSince(mark + 2), syncOfTheFile());
    { const DefaultsFile readOnly(file_); }
    EXPECT_EQ(test::fsyncsSince(mark).size(), 4u) << "a domain only read has nothing to sync";
}

// With a write still to sync, an exit (which destroys nothing on the stack it is called from,
// as Qt calls it when the X server goes) and a termination signal with its default action sync
// it first, then end the process as they would have. A signal the program ignores or handles
// itself is left to it; the domain, closed, syncs then.
TEST_F(DefaultsSyncTest, TheEndOfTheProcessSyncsFirstUnlessItTakesTheSignalItself) {
    static volatile sig_atomic_t handled = 0;
    struct End {
        const char* name;
        std::function<void()> end;
        std::function<bool(int)> endedAsExpected;
    };
    const auto signalled = [](int signal) {
        return [signal](int status) { return WIFSIGNALED(status) && WTERMSIG(status) == signal; };
    };
    const auto raiseDefault = [](int signal) { return [signal] { ::raise(signal); }; };
    const auto survived = [](int status) { return status == 0; };
    const std::vector<End> ends = {
        {"exit", [] { std::exit(3); },
         [](int status) { return WIFEXITED(status) && WEXITSTATUS(status) == 3; }},
        {"SIGTERM", raiseDefault(SIGTERM), signalled(SIGTERM)},
        {"SIGINT", raiseDefault(SIGINT), signalled(SIGINT)},
        {"SIGHUP", raiseDefault(SIGHUP), signalled(SIGHUP)},
        {"SIGTERM ignored",
         [] {
             ::signal(SIGTERM, SIG_IGN);
             ::raise(SIGTERM);
         },
         survived},
        {"SIGTERM handled",
         [] {
             ::signal(
                 SIGTERM, +[](int) { handled = 1; });
             ::raise(SIGTERM);
         },
         survived},
    };
    for (const auto& [name, end, endedAsExpected] : ends) {
        SCOPED_TRACE(name);
        test::Child child([&](const test::Child& self) {
            test::tellFsyncsTo(self.fd);
            {
                DefaultsFile defaults(file_);
                defaults.setObject(std::string(name), "k");
                end();
            }
            return handled == 0 && std::string(name) == "SIGTERM handled" ? 1 : 0;
        });
        const std::vector<Fsync> fsyncs = test::fsyncsToldBy(child.fd);
        const int status = child.wait();
        EXPECT_TRUE(endedAsExpected(status)) << "wait status " << status;
        EXPECT_EQ(fsyncs, syncOfTheFile());
        EXPECT_EQ(DefaultsFile(file_).objectForKey("k"), PropertyValue(std::string(name)));
    }
}

}  // namespace
