#include <cstdint>
#include <optional>

#include "platform/Screen.h"
#include "platform/View.h"
#include "platform/cocoa/CocoaSupport.h"

namespace {
constexpr bool same(std::uint64_t ours, std::uint64_t appKits) {
    return ours == appKits;
}
}  // namespace

// The program's window flags are AppKit's numbers, handed to AppKit unchanged.
static_assert(same(platform::NSWindowStyleMaskTitled, NSWindowStyleMaskTitled));
static_assert(same(platform::NSWindowStyleMaskClosable, NSWindowStyleMaskClosable));
static_assert(same(platform::NSWindowStyleMaskMiniaturizable, NSWindowStyleMaskMiniaturizable));
static_assert(same(platform::NSWindowStyleMaskResizable, NSWindowStyleMaskResizable));
static_assert(same(platform::NSWindowStyleMaskFullSizeContentView,
                   NSWindowStyleMaskFullSizeContentView));
static_assert(same(platform::NSWindowCollectionBehaviorCanJoinAllSpaces,
                   NSWindowCollectionBehaviorCanJoinAllSpaces));
static_assert(same(platform::NSWindowCollectionBehaviorMoveToActiveSpace,
                   NSWindowCollectionBehaviorMoveToActiveSpace));
static_assert(same(platform::NSWindowCollectionBehaviorManaged, NSWindowCollectionBehaviorManaged));
static_assert(same(platform::NSWindowCollectionBehaviorTransient,
                   NSWindowCollectionBehaviorTransient));
static_assert(same(platform::NSWindowCollectionBehaviorStationary,
                   NSWindowCollectionBehaviorStationary));
static_assert(same(platform::NSWindowCollectionBehaviorParticipatesInCycle,
                   NSWindowCollectionBehaviorParticipatesInCycle));
static_assert(same(platform::NSWindowCollectionBehaviorIgnoresCycle,
                   NSWindowCollectionBehaviorIgnoresCycle));

@implementation VLMWindow

- (id)initWithOwner:(platform::Window*)owner
        contentRect:(NSRect)contentRect
          styleMask:(NSWindowStyleMask)styleMask {
    // The owner is linked once NSWindow's initialiser has run. AppKit may already ask the
    // window about itself from there (GNUstep 0.29 constrains its frame), while the owner is
    // still being made and has no platform window: NSWindow answers for itself until then.
    _owner = nullptr;
    self = [super initWithContentRect:contentRect
                            styleMask:styleMask
                              backing:NSBackingStoreBuffered
                                defer:NO];
    if (self != nil) {
        _owner = owner;
    }
    return self;
}

- (platform::Window*)owner {
    return _owner;
}

- (void)detachOwner {
    _owner = nullptr;
}

- (BOOL)canBecomeKeyWindow {
    @autoreleasepool {
        return _owner != nullptr ? _owner->canBecomeKey() : [super canBecomeKeyWindow];
    }
}

- (BOOL)canBecomeMainWindow {
    @autoreleasepool {
        return _owner != nullptr ? _owner->canBecomeMain() : [super canBecomeMainWindow];
    }
}

- (NSRect)constrainFrameRect:(NSRect)frameRect toScreen:(NSScreen*)screen {
    @autoreleasepool {
        if (_owner == nullptr) {
            return [super constrainFrameRect:frameRect toScreen:screen];
        }
        const std::optional<platform::Screen> target =
            screen != nil
                ? std::optional<platform::Screen>(platform::cocoa::fromNSRect([screen frame]))
                : std::nullopt;
        return platform::cocoa::toNSRect(_owner->constrainFrameRect(
            platform::cocoa::fromNSRect(frameRect), target ? &*target : nullptr));
    }
}

- (NSRect)appKitConstrainFrameRect:(NSRect)frameRect toScreen:(NSScreen*)screen {
    return [super constrainFrameRect:frameRect toScreen:screen];
}

// As the key window, the window is the first stop of AppKit's responder chain for actions
// without a target, where the owner's selectors answer as they do in the C++ chain.
- (BOOL)respondsToSelector:(SEL)selector {
    @autoreleasepool {
        return [super respondsToSelector:selector] || platform::cocoa::answers(_owner, selector);
    }
}

- (NSMethodSignature*)methodSignatureForSelector:(SEL)selector {
    NSMethodSignature* signature = nil;
    @autoreleasepool {
        signature = [super methodSignatureForSelector:selector];
        if (signature == nil) {
            signature = platform::cocoa::forwardingSignature(_owner, selector);
        }
        // The signature outlives this pool: it is the caller's to use.
        [signature retain];
    }
    return [signature autorelease];
}

- (void)forwardInvocation:(NSInvocation*)invocation {
    @autoreleasepool {
        if (!platform::cocoa::deliver(_owner, invocation)) {
            [super forwardInvocation:invocation];
        }
    }
}

@end

namespace platform::cocoa {

namespace {

// The NSScreen whose frame is `screen`'s, or nil.
NSScreen* nativeScreen(const Screen* screen) {
    if (screen == nullptr) {
        return nil;
    }
    NSArray* screens = [NSScreen screens];
    for (NSUInteger index = 0; index < [screens count]; ++index) {
        NSScreen* candidate = [screens objectAtIndex:index];
        if (fromNSRect([candidate frame]) == screen->frame()) {
            return candidate;
        }
    }
    return nil;
}

// The native side of one Window. It holds the only strong reference the backend keeps to its
// NSWindow; AppKit is told never to release the window on close, so the NSWindow is freed
// exactly once, when this object goes with its Window.
class CocoaWindow final : public PlatformWindow {
public:
    CocoaWindow(Window& owner, Rect contentRect) : owner_(owner) {
        @autoreleasepool {
            window_ = ObjcHandle<VLMWindow>::adopt([[VLMWindow alloc]
                initWithOwner:&owner
                  contentRect:toNSRect(contentRect)
                    styleMask:static_cast<::NSWindowStyleMask>(owner.styleMask())]);
            // The Window's own releasedWhenClosed flag is only recorded: the C++ owner
            // decides when the window goes, never AppKit.
            [window_.get() setReleasedWhenClosed:NO];
        }
    }

    CocoaWindow(const CocoaWindow&) = delete;
    CocoaWindow& operator=(const CocoaWindow&) = delete;

    ~CocoaWindow() override {
        @autoreleasepool {
            VLMWindow* window = window_.get();
            // First the back-pointer, so that nothing AppKit sends from here on (while
            // closing, or later from an event still queued) reaches the C++ window, which
            // is being destroyed.
            [window detachOwner];
            if (!closed_) {
                [window close];
            }
            window_.reset();
        }
    }

    Rect frame() const override { return fromNSRect([window_.get() frame]); }

    void backgroundColorChanged() override {
        @autoreleasepool {
            [window_.get() setBackgroundColor:nativeColor(owner_.backgroundColor())];
            [[window_.get() contentView] setNeedsDisplay:YES];
        }
    }

    void levelChanged() override {
        [window_.get() setLevel:static_cast<NSInteger>(owner_.level())];
    }

    void collectionBehaviorChanged() override {
        [window_.get() setCollectionBehavior:static_cast<::NSWindowCollectionBehavior>(
                                                 owner_.collectionBehavior())];
    }

    void ignoresMouseEventsChanged() override {
        [window_.get() setIgnoresMouseEvents:owner_.ignoresMouseEvents() ? YES : NO];
    }

    void decorationChanged() override {
        @autoreleasepool {
            VLMWindow* window = window_.get();
            [window setTitle:toNSString(owner_.title())];
            [window setTitlebarAppearsTransparent:owner_.titlebarAppearsTransparent() ? YES : NO];
            [window setMovableByWindowBackground:owner_.isMovableByWindowBackground() ? YES : NO];
        }
    }

    // The native views follow the program's tree as it is built, so that the window is
    // complete from the moment the program has made it, shown or not.
    void contentViewChanged() override { rebuildContent(); }
    void contentTreeChanged() override { rebuildContent(); }

    void orderFront(bool makeKey) override {
        @autoreleasepool {
            closed_ = false;
            if (makeKey) {
                [window_.get() makeKeyAndOrderFront:nil];
            } else {
                [window_.get() orderFront:nil];
            }
        }
    }

    void orderOut() override {
        @autoreleasepool {
            [window_.get() orderOut:nil];
        }
    }

    bool isVisible() const override { return [window_.get() isVisible] == YES; }

    void close() override {
        @autoreleasepool {
            closed_ = true;
            [window_.get() close];
        }
    }

    void center() override {
        @autoreleasepool {
            [window_.get() center];
        }
    }

    // AppKit's own rule, for the windows whose owner does not override it.
    Rect constrainFrameRect(Rect frameRect, const Screen* screen,
                            std::uint64_t /*styleMask*/) const override {
        @autoreleasepool {
            return fromNSRect([window_.get() appKitConstrainFrameRect:toNSRect(frameRect)
                                                             toScreen:nativeScreen(screen)]);
        }
    }

private:
    void rebuildContent() {
        @autoreleasepool {
            installContentView(window_.get(), owner_.contentView());
        }
    }

    Window& owner_;
    ObjcHandle<VLMWindow> window_;
    bool closed_ = false;
};

}  // namespace

std::unique_ptr<PlatformWindow> makeWindow(Window& owner, Rect contentRect) {
    return std::make_unique<CocoaWindow>(owner, contentRect);
}

}  // namespace platform::cocoa
