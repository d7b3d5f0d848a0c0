// When a write of the defaults file reaches stable storage: not while the program waits for
// it, but once per burst, when the domain is closed and before a termination signal ends the
// process.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <functional>

#include "platform/common/DefaultsFile.h"
#include "tests/common/ScratchDirectory.h"
#include "tests/support/ForkedChild.h"
#include "tests/support/FsyncProbe.h"

namespace {

namespace fs = std::filesystem;
using platform::PropertyValue;
using platform::common::DefaultsFile;
using test::Fsync;
using test::fsyncOf;

// A forked child that runs `body` and leaves with its result: its wait status, and every
// fsync it made from when it began, told through a pipe so that a signal's end loses none.
struct ChildRun {
    int status = -1;
    std::vector<Fsync> fsyncs;
};
ChildRun runChild(const std::function<int()>& body) {
    test::Child child([&](const test::Child& self) {
        test::tellFsyncsTo(self.fd);
        return body();
    });
    ChildRun run;
    run.fsyncs = test::fsyncsToldBy(child.fd);
    run.status = child.wait();
    return run;
}

class DefaultsSyncTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = test::makeScratchDirectory("defaults-sync");
        ASSERT_FALSE(dir_.empty());
        file_ = dir_ / "org.vellumor.Vellumor.plist";
    }
    void TearDown() override { fs::remove_all(dir_); }

    // The fsyncs that make the file now in place durable: its contents, then its name.
    std::vector<Fsync> syncOfTheFile() const {
        return {fsyncOf(file_.c_str()), fsyncOf(dir_.c_str())};
    }

    fs::path dir_;
    fs::path file_;
};

TEST_F(DefaultsSyncTest, WritesAreInPlaceAtOnceAndABurstOfThemIsSyncedOnce) {
    DefaultsFile defaults(file_);
    const std::size_t mark = test::fsyncCount();
    for (std::int64_t i = 1; i <= 20; ++i) {
        ASSERT_TRUE(defaults.setObject(i, "k"));
        EXPECT_EQ(DefaultsFile(file_).objectForKey("k"), PropertyValue(i));
    }
    EXPECT_EQ(test::fsyncsSince(mark), std::vector<Fsync>{});
    EXPECT_TRUE(defaults.needsSync());
    EXPECT_EQ(test::entries(dir_), std::vector<std::string>{file_.filename()});

    defaults.sync();
    EXPECT_EQ(test::fsyncsSince(mark), syncOfTheFile());
    EXPECT_FALSE(defaults.needsSync());
    defaults.sync();
    EXPECT_EQ(test::fsyncsSince(mark).size(), 2u) << "nothing new to sync";

    // A refused write leaves nothing to sync.
    EXPECT_FALSE(defaults.setObject(std::string("a\0b", 3), "k"));
    EXPECT_FALSE(defaults.needsSync());
}

TEST_F(DefaultsSyncTest, WhatIsLeftToSyncIsSyncedWhenTheDomainIsClosed) {
    const std::size_t mark = test::fsyncCount();
    {
        DefaultsFile defaults(file_);
        ASSERT_TRUE(defaults.setObject(true, "k"));
        ASSERT_TRUE(defaults.setObject(false, "k"));
        EXPECT_EQ(test::fsyncsSince(mark), std::vector<Fsync>{});
    }
    EXPECT_EQ(test::fsyncsSince(mark), syncOfTheFile());
    { const DefaultsFile readOnly(file_); }
    EXPECT_EQ(test::fsyncsSince(mark).size(), 2u) << "a domain only read has nothing to sync";
}

// exit() destroys no object of the stack it is called from (Qt calls it when the X server goes),
// so the domain open there is not closed: the exit itself syncs what it wrote.
TEST_F(DefaultsSyncTest, AnExitWithTheDomainStillOpenSyncsIt) {
    const ChildRun exited = runChild([&] {
        DefaultsFile defaults(file_);
        defaults.setObject(std::int64_t{3}, "k");
        std::exit(3);
        return 0;
    });
    EXPECT_TRUE(WIFEXITED(exited.status) && WEXITSTATUS(exited.status) == 3)
        << "wait status " << exited.status;
    EXPECT_EQ(exited.fsyncs, syncOfTheFile());
}

// A termination signal with its default action syncs before it ends the process, which ends
// as the signal's default action ends it. One the program ignores or handles itself is its own.
TEST_F(DefaultsSyncTest, ATerminationSignalSyncsFirstUnlessTheProcessTakesItItself) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        const ChildRun ended = runChild([&] {
            ::signal(signal, SIG_DFL);
            DefaultsFile defaults(file_);
            defaults.setObject(std::int64_t{signal}, "k");
            ::raise(signal);
            return 0;
        });
        EXPECT_TRUE(WIFSIGNALED(ended.status) && WTERMSIG(ended.status) == signal)
            << "wait status " << ended.status;
        EXPECT_EQ(ended.fsyncs, syncOfTheFile());
        EXPECT_EQ(DefaultsFile(file_).objectForKey("k"), PropertyValue(std::int64_t{signal}));
    }

    static volatile sig_atomic_t handled = 0;
    for (const bool ignored : {true, false}) {
        SCOPED_TRACE(ignored ? "ignored" : "handled");
        const ChildRun survived = runChild([&] {
            ::signal(
                SIGTERM, ignored ? SIG_IGN : +[](int) { handled = 1; });
            DefaultsFile defaults(file_);
            defaults.setObject(true, "k");
            ::raise(SIGTERM);
            return ignored || handled == 1 ? 0 : 1;
        });
        EXPECT_EQ(survived.status, 0);
        // The one sync is the closing one.
        EXPECT_EQ(survived.fsyncs, syncOfTheFile());
    }
}

}  // namespace
