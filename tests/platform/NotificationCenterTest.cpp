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

TEST_F(NotificationCenterTest, DeliversSynchronouslyInRegistrationOrderToMatchingNamesOnly) {
    Listener first(log, "first");
    Listener second(log, "second");
    center().addObserver(first, "heard", "ping", nullptr);
    center().addObserver(second, "heard", "ping", nullptr);
    center().addObserver(second, "heard", "other", nullptr);

    center().postNotificationName("ping", nullptr);
    EXPECT_EQ(log, (std::vector<std::string>{"first", "second"}));
}

TEST_F(NotificationCenterTest, ADestroyedObserverStopsReceivingWithoutUnregistering) {
    auto doomed = std::make_unique<Listener>(log, "doomed");
    Listener survivor(log, "survivor");
    center().addObserver(*doomed, "heard", "ping", nullptr);
    center().addObserver(survivor, "heard", "ping", nullptr);

    doomed.reset();
    center().postNotificationName("ping", nullptr);
    EXPECT_EQ(log, std::vector<std::string>{"survivor"});
}

TEST_F(NotificationCenterTest, AnObserverDestroyedDuringAPostIsNotCalledAfterwards) {
    auto doomed = std::make_unique<Listener>(log, "doomed");
    Listener survivor(log, "survivor");
    // Registered first, it destroys the second observer while the post is under way; the
    // third still hears it.
    struct Killer : Object {
        explicit Killer(std::unique_ptr<Listener>& victim) {
            addMethod("kill", [&victim](Object*) { victim.reset(); });
        }
    } assassin(doomed);
    center().addObserver(assassin, "kill", "ping", nullptr);
    center().addObserver(*doomed, "heard", "ping", nullptr);
    center().addObserver(survivor, "heard", "ping", nullptr);

    center().postNotificationName("ping", nullptr);
    EXPECT_EQ(log, std::vector<std::string>{"survivor"});
}

TEST_F(NotificationCenterTest, ASenderFilterTakesOnlyThatSender) {
    Object sender;
    Object stranger;
    Listener picky(log, "picky");
    Listener open(log, "open");
    center().addObserver(picky, "heard", "ping", &sender);
    center().addObserver(open, "heard", "ping", nullptr);

    center().postNotificationName("ping", &stranger);
    center().postNotificationName("ping", &sender);
    EXPECT_EQ(log, (std::vector<std::string>{"open", "picky", "open"}));
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
