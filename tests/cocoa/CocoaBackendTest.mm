// The cocoa backend on a real AppKit (macOS only): what AppKit sees of the program's windows,
// menus, colours and defaults, and how AppKit's messages reach the C++ side.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "main/AboutWindow.h"
#include "main/OverlayWindow.h"
#include "platform/Application.h"
#include "platform/ColorPanel.h"
#include "platform/KeyedArchiver.h"
#include "platform/Menu.h"
#include "platform/NotificationCenter.h"
#include "platform/Screen.h"
#include "platform/Window.h"
#include "platform/cocoa/CocoaPlatform.h"

namespace platform::cocoa {
namespace {

// Lets AppKit's loop run until `done` holds (at most a second), so that what AppKit let go of
// is freed.
void settle(const std::function<bool()>& done) {
    for (int turn = 0; turn < 100 && !done(); ++turn) {
        @autoreleasepool {
            [[NSRunLoop currentRunLoop] runUntilDate:[NSDate dateWithTimeIntervalSinceNow:0.01]];
        }
    }
}

SEL selectorNamed(const char* name) {
    return NSSelectorFromString([NSString stringWithUTF8String:name]);
}

// A delegate or target that answers the selectors it is told to, recording each message.
class Recorder : public ApplicationDelegate {
public:
    void answer(const Selector& selector) {
        addMethod(selector, [=, this](Object* sender) {
            received.push_back(selector);
            senders.push_back(sender);
        });
    }
    std::vector<Selector> received;
    std::vector<Object*> senders;
};

class CocoaBackendTest : public ::testing::Test {
protected:
    CocoaBackendTest() {
        auto platform = std::make_unique<CocoaPlatform>();
        cocoa = platform.get();
        installPlatformIntegration(std::move(platform));
    }
    ~CocoaBackendTest() override { installPlatformIntegration(nullptr); }

    std::optional<Data> archive(const Color& color) {
        std::string error;
        auto data = KeyedArchiver::archivedDataWithRootObject(color, false, &error);
        EXPECT_TRUE(data.has_value()) << error;
        return data;
    }
    std::optional<Color> unarchive(const std::optional<Data>& data) {
        std::string error;
        auto color = data ? KeyedUnarchiver::unarchivedColorFromData(*data, &error) : std::nullopt;
        EXPECT_TRUE(color.has_value()) << error;
        return color;
    }

    CocoaPlatform* cocoa;
};

TEST_F(CocoaBackendTest, AnOverlayIsABorderlessUnfocusableWindowAboveTheDesktopIcons) {
    @autoreleasepool {
        // A display left of the primary one: AppKit's coordinates go through unchanged.
        const vellumor::OverlayWindow overlay(Screen({-1440.0, 200.0, 1440.0, 900.0}));
        NSWindow* native = nativeWindowOf(overlay);

        EXPECT_TRUE(NSEqualRects([native frame], NSMakeRect(-1440.0, 200.0, 1440.0, 900.0)));
        EXPECT_EQ([native styleMask], static_cast<NSUInteger>(::NSWindowStyleMaskBorderless));
        EXPECT_EQ([native level], ::CGWindowLevelForKey(::kCGDesktopIconWindowLevelKey) + 1);
        const NSUInteger behaviour = [native collectionBehavior];
        EXPECT_NE(behaviour & ::NSWindowCollectionBehaviorCanJoinAllSpaces, 0u);
        EXPECT_NE(behaviour & ::NSWindowCollectionBehaviorStationary, 0u);
        EXPECT_NE(behaviour & ::NSWindowCollectionBehaviorIgnoresCycle, 0u);
        EXPECT_FALSE([native ignoresMouseEvents]);
        EXPECT_FALSE([native canBecomeKeyWindow]);
        EXPECT_FALSE([native canBecomeMainWindow]);
        EXPECT_FALSE([native isReleasedWhenClosed]);
        // AppKit would pull a window below the menu bar; the overlay keeps what it is given.
        const NSRect aboveTheMenuBar = NSMakeRect(0.0, 5000.0, 100.0, 100.0);
        EXPECT_TRUE(NSEqualRects([native constrainFrameRect:aboveTheMenuBar
                                                   toScreen:[NSScreen mainScreen]],
                                 aboveTheMenuBar));
    }
}

TEST_F(CocoaBackendTest, AClosedOverlayLivesUntilDroppedAndIsThenFreedOnce) {
    const std::size_t before = liveNativeWindowCount();
    @autoreleasepool {
        auto overlay = std::make_unique<vellumor::OverlayWindow>(Screen({0.0, 0.0, 800.0, 600.0}));
        overlay->orderFront(nullptr);
        EXPECT_TRUE(overlay->isVisible());
        overlay->close();
        EXPECT_FALSE(overlay->isVisible());
        // Closed, not freed: the program may still talk to it until its list drops it.
        overlay->setBackgroundColor(Color::colorWithCalibratedWhite(0.5, 1.0));
        overlay->orderOut(nullptr);
        EXPECT_EQ(liveNativeWindowCount(), before + 1);
        overlay.reset();
    }
    settle([&] { return liveNativeWindowCount() == before; });
    EXPECT_EQ(liveNativeWindowCount(), before);
}

TEST_F(CocoaBackendTest, AppKitNoLongerReachesAWindowOnceItIsDestroyed) {
    // A borderless window that claims focus and answers an action, unlike AppKit's default.
    struct Eager : Window {
        Eager()
            : Window({0.0, 0.0, 200.0, 100.0}, NSWindowStyleMaskBorderless,
                     NSBackingStoreType::NSBackingStoreBuffered, false) {
            addMethod("customAction", [](Object*) {});
        }
        bool canBecomeKey() const override { return true; }
    };
    NSWindow* native = nil;
    @autoreleasepool {
        auto window = std::make_unique<Eager>();
        native = [nativeWindowOf(*window) retain];
        EXPECT_TRUE([native canBecomeKeyWindow]);
        EXPECT_TRUE([native respondsToSelector:selectorNamed("customAction")]);
        window.reset();
    }
    // AppKit's own answers for a borderless window: the C++ window is not asked any more.
    EXPECT_FALSE([native canBecomeKeyWindow]);
    EXPECT_FALSE([native respondsToSelector:selectorNamed("customAction")]);
    [native release];
}

TEST_F(CocoaBackendTest, TheAboutWindowShowsItsWholeViewTreeLaidOutByItsConstraints) {
    @autoreleasepool {
        vellumor::AboutWindow about;
        about.makeKeyAndOrderFront(nullptr);
        NSView* content = [nativeWindowOf(about) contentView];
        ASSERT_TRUE([content isKindOfClass:[NSVisualEffectView class]]);
        EXPECT_EQ([static_cast<NSVisualEffectView*>(content) material],
                  NSVisualEffectMaterialHUDWindow);
        NSStackView* column = nil;
        for (NSUInteger index = 0; index < [[content subviews] count]; ++index) {
            id subview = [[content subviews] objectAtIndex:index];
            if ([subview isKindOfClass:[NSStackView class]]) {
                column = subview;
            }
        }
        ASSERT_TRUE(column != nil);
        NSArray* rows = [column arrangedSubviews];
        ASSERT_EQ([rows count], 4u);
        ASSERT_TRUE([[rows objectAtIndex:0] isKindOfClass:[NSImageView class]]);
        EXPECT_EQ(toStdString([[rows objectAtIndex:1] stringValue]), "Vellumor");
        EXPECT_EQ(toStdString([[rows objectAtIndex:2] stringValue]), "Build Unknown");

        [content layoutSubtreeIfNeeded];
        const NSRect icon = [[rows objectAtIndex:0] frame];
        EXPECT_DOUBLE_EQ(icon.size.width, 96.0);
        EXPECT_DOUBLE_EQ(icon.size.height, 96.0);
        EXPECT_NEAR(NSMidX([column frame]), NSMidX([content bounds]), 1.0);
        EXPECT_NEAR(NSMidY([column frame]), NSMidY([content bounds]), 1.0);
        about.close();
    }
}

TEST_F(CocoaBackendTest, NSAppsDelegateAnswersAsTheProgramsDelegateAndLaunchesOnce) {
    Application& app = Application::sharedApplication();
    auto delegate = std::make_unique<Recorder>();
    delegate->answer("toggleVisibility");
    delegate->answer("applicationDidFinishLaunching:");
    app.setDelegate(delegate.get());
    cocoa->attachApplication(app);
    VLMApplicationDelegate* appKits = cocoa->applicationDelegate();
    ASSERT_TRUE(appKits != nil);
    EXPECT_TRUE([NSApp delegate] == appKits);

    EXPECT_TRUE([appKits respondsToSelector:selectorNamed("toggleVisibility")]);
    EXPECT_FALSE([appKits respondsToSelector:selectorNamed("quitApp")]);
    EXPECT_TRUE([NSApp targetForAction:selectorNamed("toggleVisibility")] == appKits);
    EXPECT_TRUE([NSApp targetForAction:selectorNamed("quitApp")] == nil);

    [appKits applicationDidFinishLaunching:nil];
    [appKits applicationDidFinishLaunching:nil];
    EXPECT_EQ(delegate->received, std::vector<Selector>{"applicationDidFinishLaunching:"});

    // The application does not keep its delegate; once it is gone nothing answers for it.
    delegate.reset();
    EXPECT_FALSE([appKits respondsToSelector:selectorNamed("toggleVisibility")]);
}

TEST_F(CocoaBackendTest, MenuEntriesAreEnabledExactlyWhenTheResponderChainAnswers) {
    Application& app = Application::sharedApplication();
    Recorder delegate;
    delegate.answer("openAbout");
    app.setDelegate(&delegate);
    cocoa->attachApplication(app);

    Menu menu;
    MenuItem& about = menu.addItemWithTitle("About Vellumor", "openAbout", "");
    menu.addItem(MenuItem::separatorItem());
    menu.addItemWithTitle("Pick Color...", "pickColor", "");
    @autoreleasepool {
        auto bridge = ObjcHandle<VLMMenuBridge>::adopt([[VLMMenuBridge alloc] initWithMenu:&menu]);
        NSMenu* native = [bridge.get() nativeMenu];
        ASSERT_EQ([native numberOfItems], 3);
        NSMenuItem* aboutEntry = [native itemAtIndex:0];
        EXPECT_EQ(toStdString([aboutEntry title]), "About Vellumor");
        EXPECT_EQ(toStdString([aboutEntry keyEquivalent]), "");
        EXPECT_TRUE([aboutEntry target] == nil);
        EXPECT_TRUE([[native itemAtIndex:1] isSeparatorItem]);

        [native update];
        EXPECT_TRUE([aboutEntry isEnabled]);
        EXPECT_FALSE([[native itemAtIndex:2] isEnabled]);
        delegate.answer("pickColor");
        [native update];
        EXPECT_TRUE([[native itemAtIndex:2] isEnabled]);

        // Choosing an entry: AppKit sends its action up the chain, the entry as sender.
        EXPECT_TRUE([NSApp sendAction:[aboutEntry action] to:nil from:aboutEntry]);
        EXPECT_EQ(delegate.received, std::vector<Selector>{"openAbout"});
        EXPECT_EQ(delegate.senders, std::vector<Object*>{&about});
    }
}

TEST_F(CocoaBackendTest, TheNativeMenuFollowsTheCppMenuWhenAboutToOpen) {
    Menu menu;
    menu.addItemWithTitle("Quit", "quitApp", "");
    @autoreleasepool {
        auto bridge = ObjcHandle<VLMMenuBridge>::adopt([[VLMMenuBridge alloc] initWithMenu:&menu]);
        NSMenu* native = [bridge.get() nativeMenu];
        ASSERT_EQ([native numberOfItems], 1);

        menu.addItem(MenuItem::separatorItem());
        MenuItem& later = menu.addItemWithTitle("Later", "laterThing", "l");
        later.setEnabled(false);
        menu.setAutoenablesItems(false);
        [bridge.get() menuNeedsUpdate:native];

        ASSERT_EQ([native numberOfItems], 3);
        EXPECT_TRUE([[native itemAtIndex:1] isSeparatorItem]);
        EXPECT_EQ(toStdString([[native itemAtIndex:2] title]), "Later");
        EXPECT_EQ(toStdString([[native itemAtIndex:2] keyEquivalent]), "l");
        EXPECT_FALSE([native autoenablesItems]);
        EXPECT_FALSE([[native itemAtIndex:2] isEnabled]);
        EXPECT_TRUE([[native itemAtIndex:0] isEnabled]);
    }
}

TEST_F(CocoaBackendTest, ColoursComeBackAsTheNSColorsTheyWere) {
    @autoreleasepool {
        // A named system colour stays named, so that it follows the appearance.
        const auto label = unarchive(archive(Color::labelColor()));
        ASSERT_TRUE(label.has_value());
        EXPECT_EQ(*label, Color::labelColor());
        NSColor* labelNative = objectFromHandle(label->nativeHandle());
        ASSERT_TRUE(labelNative != nil);
        EXPECT_EQ([labelNative type], NSColorTypeCatalog);
        EXPECT_EQ(toStdString([labelNative colorNameComponent]), "labelColor");

        const auto teal = unarchive(archive(Color::colorWithCalibratedRed(0.0, 0.5, 0.5, 0.75)));
        ASSERT_TRUE(teal.has_value());
        ASSERT_EQ(teal->colorSpaceModel(), ColorSpaceModel::CalibratedRGB);
        const std::vector<double> expected{0.0, 0.5, 0.5, 0.75};
        ASSERT_EQ(teal->components().size(), expected.size());
        for (std::size_t index = 0; index < expected.size(); ++index) {
            EXPECT_NEAR(teal->components()[index], expected[index], 1e-6);
        }

        // A pattern has no components; it still travels, and comes back, as itself.
        NSBitmapImageRep* pixels =
            [[[NSBitmapImageRep alloc] initWithBitmapDataPlanes:nullptr
                                                     pixelsWide:2
                                                     pixelsHigh:2
                                                  bitsPerSample:8
                                                samplesPerPixel:4
                                                       hasAlpha:YES
                                                       isPlanar:NO
                                                 colorSpaceName:NSDeviceRGBColorSpace
                                                    bytesPerRow:0
                                                   bitsPerPixel:0] autorelease];
        NSImage* tile = [[[NSImage alloc] initWithSize:NSMakeSize(2.0, 2.0)] autorelease];
        [tile addRepresentation:pixels];
        const Color pattern = colorFromNative([NSColor colorWithPatternImage:tile]);
        const auto patternBack = unarchive(archive(pattern));
        ASSERT_TRUE(patternBack.has_value());
        NSColor* patternNative = objectFromHandle(patternBack->nativeHandle());
        ASSERT_TRUE(patternNative != nil);
        EXPECT_EQ([patternNative type], NSColorTypePattern);
    }
}

TEST_F(CocoaBackendTest, DefaultsKeepEachKindOfValueAsItsOwnKind) {
    const std::string prefix = "VellumorCocoaBackendTest.";
    NSUserDefaults* defaults = [NSUserDefaults standardUserDefaults];
    const std::vector<std::pair<std::string, PropertyValue>> values{
        {"text", std::string("Vellumor \u2713")},
        {"integer", std::int64_t{-(std::int64_t{1} << 40)}},
        {"real", 0.25},
        {"flag", true},
        {"data", Data{0, 1, 2, 255}},
    };
    @autoreleasepool {
        for (const auto& [key, value] : values) {
            cocoa->setDefaultsObject(value, prefix + key);
            EXPECT_EQ(cocoa->defaultsObjectForKey(prefix + key), std::optional(value)) << key;
        }
        // Dates keep their instant to well under a millisecond.
        const Date now = std::chrono::system_clock::now();
        cocoa->setDefaultsObject(now, prefix + "date");
        const auto date = cocoa->defaultsObjectForKey(prefix + "date");
        ASSERT_TRUE(date && std::holds_alternative<Date>(*date));
        EXPECT_LT(std::chrono::abs(std::get<Date>(*date) - now), std::chrono::milliseconds(1));

        // A stored 1 is a number and a stored YES a flag, though both are NSNumbers.
        [defaults setObject:[NSNumber numberWithInt:1] forKey:toNSString(prefix + "one")];
        [defaults setObject:[NSNumber numberWithBool:YES] forKey:toNSString(prefix + "yes")];
        EXPECT_EQ(cocoa->defaultsObjectForKey(prefix + "one"),
                  std::optional(PropertyValue(std::int64_t{1})));
        EXPECT_EQ(cocoa->defaultsObjectForKey(prefix + "yes"), std::optional(PropertyValue(true)));
        EXPECT_FALSE(cocoa->defaultsObjectForKey(prefix + "absent").has_value());

        for (const char* key : {"text", "integer", "real", "flag", "data", "date", "one", "yes"}) {
            [defaults removeObjectForKey:toNSString(prefix + key)];
        }
    }
}

TEST_F(CocoaBackendTest, AppKitsDisplayChangeNoticeReachesTheProgramAtOnce) {
    struct Observer : Object {
        Observer() {
            addMethod("screensChanged", [this](Object*) { ++count; });
        }
        int count = 0;
    } observer;
    NotificationCenter::defaultCenter().addObserver(
        observer, "screensChanged", NSApplicationDidChangeScreenParametersNotification, nullptr);
    @autoreleasepool {
        // AppKit's name; the unqualified one is the layer's C++ namesake.
        NSString* appKitsName = ::NSApplicationDidChangeScreenParametersNotification;
        [[NSNotificationCenter defaultCenter] postNotificationName:appKitsName object:NSApp];
    }
    EXPECT_EQ(observer.count, 1);
}

TEST_F(CocoaBackendTest, AColourTheProgramShowsInThePanelIsNotAPick) {
    Recorder target;
    target.answer("colorPanelAction:");
    ColorPanel& panel = ColorPanel::sharedColorPanel();
    panel.setTarget(&target);
    panel.setAction("colorPanelAction:");
    @autoreleasepool {
        panel.setColor(Color::colorWithCalibratedRed(1.0, 0.5, 0.0, 1.0));
        NSColor* shown = [[[NSColorPanel sharedColorPanel] color]
            colorUsingColorSpace:[NSColorSpace genericRGBColorSpace]];
        ASSERT_TRUE(shown != nil);
        EXPECT_NEAR([shown redComponent], 1.0, 1e-3);
        EXPECT_NEAR([shown greenComponent], 0.5, 1e-3);
        EXPECT_NEAR([shown blueComponent], 0.0, 1e-3);
    }
    EXPECT_TRUE(target.received.empty());
}

}  // namespace
}  // namespace platform::cocoa
