#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "platform/Application.h"
#include "platform/Menu.h"
#include "platform/PlatformIntegration.h"
#include "platform/Window.h"
#include "platform/headless/HeadlessPlatform.h"

namespace platform {
namespace {

class Delegate : public ApplicationDelegate {
public:
    void answer(const Selector& selector) {
        addMethod(selector, [this, selector](Object* sender) {
            received.push_back(selector);
            senders.push_back(sender);
        });
    }
    std::vector<Selector> received;
    std::vector<Object*> senders;
};

class TargetActionTest : public ::testing::Test {
protected:
    TargetActionTest() {
        auto platform = std::make_unique<headless::HeadlessPlatform>(
            std::filesystem::temp_directory_path() / "vellumor-platform-tests");
        desktop = platform.get();
        installPlatformIntegration(std::move(platform));
    }
    ~TargetActionTest() override { installPlatformIntegration(nullptr); }
    headless::HeadlessPlatform* desktop;
};

TEST_F(TargetActionTest, AutomaticEnablingFollowsWhatTheResponderChainAnswers) {
    auto delegate = std::make_unique<Delegate>();
    Application::sharedApplication().setDelegate(delegate.get());
    Menu menu;
    MenuItem& open = menu.addItemWithTitle("Open", "openThing", "");
    menu.addItem(MenuItem::separatorItem());
    MenuItem& later = menu.addItemWithTitle("Later", "laterThing", "");

    EXPECT_FALSE(open.isEnabled());
    EXPECT_FALSE(menu.performActionForItemAtIndex(0));
    delegate->answer("openThing");
    EXPECT_TRUE(open.isEnabled());
    EXPECT_FALSE(later.isEnabled());
    EXPECT_FALSE(menu.itemArray()[1]->isEnabled());

    EXPECT_TRUE(menu.performActionForItemAtIndex(0));
    EXPECT_FALSE(menu.performActionForItemAtIndex(2));
    EXPECT_EQ(delegate->received, std::vector<Selector>{"openThing"});
    EXPECT_EQ(delegate->senders, std::vector<Object*>{&open});

    // The application's link does not keep its delegate: once it is gone, nothing answers.
    delegate.reset();
    EXPECT_EQ(Application::sharedApplication().delegate(), nullptr);
    EXPECT_FALSE(open.isEnabled());
}

TEST_F(TargetActionTest, TheKeyWindowAnswersBeforeTheDelegateAndATargetBeforeBoth) {
    Delegate delegate;
    delegate.answer("act");
    Application::sharedApplication().setDelegate(&delegate);

    struct Answering : Window {
        Answering()
            : Window({0, 0, 100, 100}, NSWindowStyleMaskTitled,
                     NSBackingStoreType::NSBackingStoreBuffered, false) {
            addMethod("act", [this](Object*) { ++count; });
        }
        int count = 0;
    } window;
    window.makeKeyAndOrderFront(nullptr);
    ASSERT_EQ(desktop->keyWindow(), &window);

    Application::sharedApplication().sendAction("act", nullptr, nullptr);
    EXPECT_EQ(window.count, 1);
    EXPECT_TRUE(delegate.received.empty());

    Delegate target;
    target.answer("act");
    Application::sharedApplication().sendAction("act", &target, nullptr);
    EXPECT_EQ(target.received.size(), 1u);
    EXPECT_EQ(window.count, 1);

    // A target that does not answer is not bypassed: the entry is disabled.
    Menu menu;
    MenuItem& item = menu.addItemWithTitle("Act", "act", "");
    Object mute;
    item.setTarget(&mute);
    EXPECT_FALSE(item.isEnabled());
}

}  // namespace
}  // namespace platform
