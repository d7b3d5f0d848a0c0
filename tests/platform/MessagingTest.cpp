#include <gtest/gtest.h>

#include <functional>

#include "platform/Application.h"
#include "platform/Menu.h"
#include "platform/NotificationCenter.h"
#include "platform/PlatformIntegration.h"
#include "platform/Window.h"
#include "platform/headless/HeadlessPlatform.h"

namespace platform {
namespace {

// Notices and actions, on the in-memory desktop.
class MessagingTest : public ::testing::Test {
protected:
    MessagingTest() {
        installPlatformIntegration(std::make_unique<headless::HeadlessPlatform>(
            std::filesystem::temp_directory_path() / "vellumor-platform-tests"));
    }
    ~MessagingTest() override { installPlatformIntegration(nullptr); }
    NotificationCenter& center() { return NotificationCenter::defaultCenter(); }
    std::vector<std::string> log;
};

// A `Base` that logs `name` and keeps the sender at each `selector` it receives.
template <typename Base = Object>
struct Heard : Base {
    template <typename... Args>
    Heard(std::vector<std::string>& log, std::string name, const Selector& selector, Args&&... args)
        : Base(std::forward<Args>(args)...) {
        this->addMethod(selector, [this, &log, name](Object* sender) {
            log.push_back(name);
            senders.push_back(sender);
        });
    }
    std::vector<Object*> senders;
};

// Synchronously, in registration order, to observers of that name from any sender or from
// the one posting.
TEST_F(MessagingTest, DeliversInRegistrationOrderToMatchingNamesAndSenders) {
    Object sender;
    Object stranger;
    Heard<> first(log, "first", "heard");
    Heard<> picky(log, "picky", "heard");
    center().addObserver(first, "heard", "ping", nullptr);
    center().addObserver(picky, "heard", "ping", &sender);
    center().addObserver(picky, "heard", "other", nullptr);
    center().postNotificationName("ping", &stranger);
    EXPECT_EQ(log, std::vector<std::string>{"first"});
    center().postNotificationName("ping", &sender);
    EXPECT_EQ(log, (std::vector<std::string>{"first", "first", "picky"}));
}

// An observer destroyed before a post, or by an earlier one during it, is not called; one
// added during a post hears only the next.
TEST_F(MessagingTest, ObserversDestroyedOrAddedMidPostAreSafe) {
    auto before = std::make_unique<Heard<>>(log, "before", "heard");
    auto during = std::make_unique<Heard<>>(log, "during", "heard");
    Heard<> late(log, "late", "heard");
    struct Meddler : Object {
        explicit Meddler(std::function<void()> meddle) {
            addMethod("meddle", [meddle](Object*) { meddle(); });
        }
    } meddler([&] {
        during.reset();
        center().addObserver(late, "heard", "ping", nullptr);
    });
    center().addObserver(*before, "heard", "ping", nullptr);
    center().addObserver(meddler, "meddle", "ping", nullptr);
    center().addObserver(*during, "heard", "ping", nullptr);
    before.reset();
    center().postNotificationName("ping", nullptr);
    EXPECT_TRUE(log.empty());
    center().postNotificationName("ping", nullptr);
    EXPECT_EQ(log, std::vector<std::string>{"late"});
}

// An entry without a target is enabled, and performed, only while something along the
// responder chain (key window, then the application's delegate) answers its action.
TEST_F(MessagingTest, EntriesAreEnabledByWhatTheResponderChainAnswers) {
    Application& app = Application::sharedApplication();
    auto delegate = std::make_unique<Heard<ApplicationDelegate>>(log, "delegate", "open");
    Menu menu;
    MenuItem& open = menu.addItemWithTitle("Open", "open", "");
    menu.addItem(MenuItem::separatorItem());
    MenuItem& other = menu.addItemWithTitle("Other", "other", "");
    EXPECT_FALSE(open.isEnabled() || menu.performActionForItemAtIndex(0));

    app.setDelegate(delegate.get());
    EXPECT_TRUE(open.isEnabled());
    EXPECT_FALSE(other.isEnabled() || menu.itemArray()[1]->isEnabled());
    EXPECT_TRUE(menu.performActionForItemAtIndex(0));
    EXPECT_FALSE(menu.performActionForItemAtIndex(2));
    EXPECT_EQ(delegate->senders, std::vector<Object*>{&open});

    // The key window answers before the delegate; a target before both.
    Heard<Window> window(log, "window", "open", Rect{0, 0, 100, 100}, NSWindowStyleMaskTitled,
                         NSBackingStoreType::NSBackingStoreBuffered, false);
    window.makeKeyAndOrderFront(nullptr);
    EXPECT_TRUE(menu.performActionForItemAtIndex(0));
    EXPECT_EQ(window.senders, std::vector<Object*>{&open});
    Heard<> target(log, "target", "open");
    app.sendAction("open", &target, nullptr);
    EXPECT_EQ(log, (std::vector<std::string>{"delegate", "window", "target"}));
    // A target that does not answer is not bypassed.
    Object mute;
    open.setTarget(&mute);
    EXPECT_FALSE(open.isEnabled());
    open.setTarget(nullptr);

    // The application does not keep its delegate: once it is gone, it answers nothing.
    window.orderOut(nullptr);
    delegate.reset();
    EXPECT_EQ(app.delegate(), nullptr);
    EXPECT_FALSE(open.isEnabled());
}

}  // namespace
}  // namespace platform
