#include "platform/Menu.h"
#include "platform/cocoa/CocoaSupport.h"

namespace {

using platform::cocoa::forwardedObjectOf;
using platform::cocoa::toNSString;
using platform::cocoa::toStdString;

SEL actionOf(const platform::MenuItem& item) {
    return item.action().empty() ? nullptr : NSSelectorFromString(toNSString(item.action()));
}

// Whether `entry` still shows `item` as it is now.
bool shows(NSMenuItem* entry, const platform::MenuItem& item) {
    if (item.isSeparatorItem() || [entry isSeparatorItem]) {
        return item.isSeparatorItem() && [entry isSeparatorItem];
    }
    return forwardedObjectOf([entry representedObject]) == &item &&
           toStdString([entry title]) == item.title() && [entry action] == actionOf(item) &&
           toStdString([entry keyEquivalent]) == item.keyEquivalent() &&
           forwardedObjectOf([entry target]) == item.target();
}

}  // namespace

@implementation VLMMenuBridge

- (id)initWithMenu:(platform::Menu*)menu {
    self = [super init];
    if (self != nil) {
        _source = new platform::WeakObjectRef(menu != nullptr ? menu->weakRef()
                                                              : platform::WeakObjectRef());
        _menu = [[NSMenu alloc] initWithTitle:@""];
        _targets = [[NSMutableArray alloc] init];
        // NSMenu does not keep its delegate; whoever holds this bridge keeps both.
        [_menu setDelegate:self];
        [self refresh];
    }
    return self;
}

- (void)dealloc {
    [_menu setDelegate:nil];
    [_menu release];
    [_targets release];
    delete _source;
    [super dealloc];
}

- (NSMenu*)nativeMenu {
    return _menu;
}

- (platform::Menu*)cppMenu {
    return static_cast<platform::Menu*>(_source->get());
}

- (BOOL)isCurrent {
    platform::Menu* source = [self cppMenu];
    const auto& items = source->itemArray();
    if (static_cast<std::size_t>([_menu numberOfItems]) != items.size()) {
        return NO;
    }
    for (std::size_t index = 0; index < items.size(); ++index) {
        if (!shows([_menu itemAtIndex:static_cast<NSInteger>(index)], *items[index])) {
            return NO;
        }
    }
    return YES;
}

- (void)rebuild {
    platform::Menu* source = [self cppMenu];
    [_menu removeAllItems];
    [_targets removeAllObjects];
    for (const auto& item : source->itemArray()) {
        if (item->isSeparatorItem()) {
            [_menu addItem:[NSMenuItem separatorItem]];
            continue;
        }
        NSMenuItem* entry =
            [[[NSMenuItem alloc] initWithTitle:toNSString(item->title())
                                        action:actionOf(*item)
                                 keyEquivalent:toNSString(item->keyEquivalent())] autorelease];
        [_menu addItem:entry];
        // The entry is the sender of its action; the represented object leads back to the
        // C++ entry, which the C++ receiver expects as sender.
        [entry setRepresentedObject:[[[VLMObjectForwarder alloc] initForwardingTo:item.get()]
                                        autorelease]];
        if (platform::Object* target = item->target()) {
            VLMObjectForwarder* forwarder =
                [[[VLMObjectForwarder alloc] initForwardingTo:target] autorelease];
            // NSMenuItem does not keep its target; _targets does.
            [_targets addObject:forwarder];
            [entry setTarget:forwarder];
        }
    }
}

- (void)refresh {
    platform::Menu* source = [self cppMenu];
    if (source == nullptr) {
        [_menu removeAllItems];
        [_targets removeAllObjects];
        return;
    }
    // Entries are rebuilt only when the C++ menu changed, so that AppKit's own state of
    // the entries (highlight, validation) is not disturbed while a menu is shown.
    if (![self isCurrent]) {
        [self rebuild];
    }
    // AppKit enables each entry by whether the responder chain answers its action.
    [_menu setAutoenablesItems:YES];
}

- (void)menuNeedsUpdate:(NSMenu*)menu {
    @autoreleasepool {
        if (menu == _menu) {
            [self refresh];
        }
    }
}

@end

namespace platform::cocoa {

namespace {

// The program's item in the menu bar. AppKit's status bar does not keep its items: this
// object holds it, and takes it out of the menu bar when it goes.
class CocoaStatusItem final : public PlatformStatusItem {
public:
    explicit CocoaStatusItem(NSStatusItem* item) : item_(ObjcHandle<NSStatusItem>::retain(item)) {}

    CocoaStatusItem(const CocoaStatusItem&) = delete;
    CocoaStatusItem& operator=(const CocoaStatusItem&) = delete;

    ~CocoaStatusItem() override {
        @autoreleasepool {
            [item_.get() setMenu:nil];
            [[NSStatusBar systemStatusBar] removeStatusItem:item_.get()];
            bridge_.reset();
            item_.reset();
        }
    }

    bool hasButton() const override { return [item_.get() button] != nil; }

    void setImage(const std::shared_ptr<const Image>& image) override {
        @autoreleasepool {
            [[item_.get() button] setImage:image ? nativeImage(*image) : nil];
        }
    }

    void setMenu(Menu* menu) override {
        @autoreleasepool {
            ObjcHandle<VLMMenuBridge> bridge;
            if (menu != nullptr) {
                bridge =
                    ObjcHandle<VLMMenuBridge>::adopt([[VLMMenuBridge alloc] initWithMenu:menu]);
            }
            [item_.get() setMenu:[bridge.get() nativeMenu]];
            bridge_ = std::move(bridge);
        }
    }

private:
    ObjcHandle<NSStatusItem> item_;
    ObjcHandle<VLMMenuBridge> bridge_;
};

}  // namespace

std::unique_ptr<PlatformStatusItem> makeStatusItem(double length) {
    @autoreleasepool {
        NSStatusItem* item =
            [[NSStatusBar systemStatusBar] statusItemWithLength:static_cast<CGFloat>(length)];
        if (item == nil) {
            return nullptr;
        }
        return std::make_unique<CocoaStatusItem>(item);
    }
}

}  // namespace platform::cocoa
