#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "platform/NotificationCenter.h"
#include "platform/PlatformIntegration.h"
#include "platform/headless/HeadlessPlatform.h"

namespace platform {
namespace {

class Listener : public Object {
public:
    explicit Listener(std::vector<std::string>& log, std::string name) {
        addMethod("heard", [&log, name](Object*) { log.push_back(name); });
    }
};

class NotificationCenterTest : public ::testing::Test {
protected:
    NotificationCenterTest() {
        installPlatformIntegration(std::make_unique<headless::HeadlessPlatform>(
            std::filesystem::temp_directory_path() / "vellumor-platform-tests"));
    }
    ~NotificationCenterTest() override { installPlatformIntegration(nullptr); }
    NotificationCenter& center() { return NotificationCenter::defaultCenter(); }
    std::vector<std::string> log;
};

// Synchronously, in registration order, to observers of that name from any sender or from
// the one posting.
TEST_F(NotificationCenterTest, DeliversInRegistrationOrderToMatchingNamesAndSenders) {
    Object sender;
    Object stranger;
    Listener first(log, "first");
    Listener picky(log, "picky");
    center().addObserver(first, "heard", "ping", nullptr);
    center().addObserver(picky, "heard", "ping", &sender);
    center().addObserver(picky, "heard", "other", nullptr);

    center().postNotificationName("ping", &stranger);
    EXPECT_EQ(log, std::vector<std::string>{"first"});
    center().postNotificationName("ping", &sender);
    EXPECT_EQ(log, (std::vector<std::string>{"first", "first", "picky"}));
}

// An observer destroyed before a post, or by an earlier observer during it, is not called;
// those after it still are.
TEST_F(NotificationCenterTest, ADestroyedObserverIsNotCalledEvenMidPost) {
    auto before = std::make_unique<Listener>(log, "before");
    auto during = std::make_unique<Listener>(log, "during");
    Listener survivor(log, "survivor");
    struct Killer : Object {
        explicit Killer(std::unique_ptr<Listener>& victim) {
            addMethod("kill", [&victim](Object*) { victim.reset(); });
        }
    } assassin(during);
    center().addObserver(*before, "heard", "ping", nullptr);
    center().addObserver(assassin, "kill", "ping", nullptr);
    center().addObserver(*during, "heard", "ping", nullptr);
    center().addObserver(survivor, "heard", "ping", nullptr);

    before.reset();
    center().postNotificationName("ping", nullptr);
    EXPECT_EQ(log, std::vector<std::string>{"survivor"});
}

TEST_F(NotificationCenterTest, ObserversAddedDuringAPostHearTheNextOne) {
    Listener late(log, "late");
    struct Recruiter : Object {
        Recruiter(NotificationCenter& center, Listener& late) {
            addMethod("recruit", [&center, &late](Object*) {
                center.addObserver(late, "heard", "ping", nullptr);
            });
        }
    } recruiter(center(), late);
    center().addObserver(recruiter, "recruit", "ping", nullptr);

    center().postNotificationName("ping", nullptr);
    EXPECT_TRUE(log.empty());
    center().postNotificationName("ping", nullptr);
    EXPECT_EQ(log, std::vector<std::string>{"late"});
}

}  // namespace
}  // namespace platform
