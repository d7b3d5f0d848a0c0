#include "platform/cocoa/CocoaPlatform.h"

#include <cstdint>

#include "platform/NotificationCenter.h"

namespace {
constexpr bool same(std::int64_t ours, std::int64_t appKits) {
    return ours == appKits;
}
constexpr std::int64_t number(platform::WindowLevelKey key) {
    return static_cast<std::int64_t>(key);
}
constexpr std::int64_t number(platform::NSApplicationActivationPolicy policy) {
    return static_cast<std::int64_t>(policy);
}

// AppKit's notice; inside namespace platform the name means the layer's C++ namesake.
NSString* appKitScreenParametersNotification() {
    return NSApplicationDidChangeScreenParametersNotification;
}
}  // namespace

// The layer's level keys and activation policies are the platform's numbers, handed on as they
// are.
static_assert(same(number(platform::WindowLevelKey::kCGBaseWindowLevelKey), kCGBaseWindowLevelKey));
static_assert(same(number(platform::WindowLevelKey::kCGDesktopWindowLevelKey),
                   kCGDesktopWindowLevelKey));
static_assert(same(number(platform::WindowLevelKey::kCGNormalWindowLevelKey),
                   kCGNormalWindowLevelKey));
static_assert(same(number(platform::WindowLevelKey::kCGStatusWindowLevelKey),
                   kCGStatusWindowLevelKey));
static_assert(same(number(platform::WindowLevelKey::kCGMaximumWindowLevelKey),
                   kCGMaximumWindowLevelKey));
static_assert(same(number(platform::WindowLevelKey::kCGDesktopIconWindowLevelKey),
                   kCGDesktopIconWindowLevelKey));
static_assert(same(number(platform::WindowLevelKey::kCGAssistiveTechHighWindowLevelKey),
                   kCGAssistiveTechHighWindowLevelKey));
static_assert(
    same(number(platform::NSApplicationActivationPolicy::NSApplicationActivationPolicyRegular),
         NSApplicationActivationPolicyRegular));
static_assert(
    same(number(platform::NSApplicationActivationPolicy::NSApplicationActivationPolicyAccessory),
         NSApplicationActivationPolicyAccessory));
static_assert(
    same(number(platform::NSApplicationActivationPolicy::NSApplicationActivationPolicyProhibited),
         NSApplicationActivationPolicyProhibited));

@implementation VLMApplicationDelegate

- (id)initWithApplication:(platform::Application*)application {
    self = [super initForwardingTo:nullptr];
    if (self != nil) {
        _application = application;
    }
    return self;
}

- (void)detach {
    _application = nullptr;
}

- (platform::Object*)forwardedObject {
    return _application != nullptr ? _application->delegate() : nullptr;
}

- (void)applicationDidFinishLaunching:(NSNotification*)notification {
    (void)notification;
    @autoreleasepool {
        if (_application != nullptr) {
            _application->finishLaunching();
        }
    }
}

@end

@implementation VLMScreenObserver

- (id)init {
    self = [super init];
    if (self != nil) {
        _attached = YES;
    }
    return self;
}

- (void)detach {
    _attached = NO;
}

- (void)screenParametersChanged:(NSNotification*)notification {
    @autoreleasepool {
        if (![NSThread isMainThread]) {
            // The program lives on the main thread; the notice goes there, in order.
            [self performSelectorOnMainThread:@selector(screenParametersChanged:)
                                   withObject:notification
                                waitUntilDone:NO];
            return;
        }
        if (_attached) {
            platform::NotificationCenter::defaultCenter().postNotificationName(
                platform::NSApplicationDidChangeScreenParametersNotification, nullptr);
        }
    }
}

@end

namespace platform::cocoa {

CocoaPlatform::CocoaPlatform() {
    @autoreleasepool {
        [NSApplication sharedApplication];
        screenObserver_ = ObjcHandle<VLMScreenObserver>::adopt([[VLMScreenObserver alloc] init]);
        [[NSNotificationCenter defaultCenter] addObserver:screenObserver_.get()
                                                 selector:@selector(screenParametersChanged:)
                                                     name:appKitScreenParametersNotification()
                                                   object:nil];
    }
}

CocoaPlatform::~CocoaPlatform() {
    @autoreleasepool {
        // The layer's shared objects are already gone: nothing AppKit sends from here on may
        // reach them.
        [[NSNotificationCenter defaultCenter] removeObserver:screenObserver_.get()];
        [screenObserver_.get() detach];
        if (delegate_) {
            if ([NSApp delegate] == delegate_.get()) {
                [NSApp setDelegate:nil];
            }
            [delegate_.get() detach];
        }
        colorPanel_.reset();
    }
}

void CocoaPlatform::attachApplication(Application& app) {
    @autoreleasepool {
        if (delegate_) {
            [delegate_.get() detach];
        }
        delegate_ = ObjcHandle<VLMApplicationDelegate>::adopt(
            [[VLMApplicationDelegate alloc] initWithApplication:&app]);
        // NSApp does not keep its delegate; delegate_ does.
        [NSApp setDelegate:delegate_.get()];
    }
}

void CocoaPlatform::run(Application& app) {
    @autoreleasepool {
        attachApplication(app);
        [NSApp run];
    }
}

bool CocoaPlatform::setActivationPolicy(NSApplicationActivationPolicy policy) {
    return [NSApp setActivationPolicy:static_cast<::NSApplicationActivationPolicy>(policy)] == YES;
}

void CocoaPlatform::activateIgnoringOtherApps() {
    [NSApp activateIgnoringOtherApps:YES];
}

void CocoaPlatform::terminate() {
    [NSApp terminate:nil];
}

std::shared_ptr<const Image> CocoaPlatform::applicationIconImage() {
    @autoreleasepool {
        NSImage* icon = [NSApp applicationIconImage];
        if (icon == nil) {
            return nullptr;
        }
        return std::make_shared<const Image>("NSApplicationIcon", "Vellumor", retainedHandle(icon));
    }
}

bool CocoaPlatform::hasSystemSymbol(const std::string& name) {
    @autoreleasepool {
        return [NSImage imageWithSystemSymbolName:toNSString(name)
                         accessibilityDescription:nil] != nil;
    }
}

Window* CocoaPlatform::keyWindow() {
    id key = [NSApp keyWindow];
    if (![key isKindOfClass:[VLMWindow class]]) {
        return nullptr;
    }
    return [static_cast<VLMWindow*>(key) owner];
}

std::vector<Rect> CocoaPlatform::screenFrames() {
    @autoreleasepool {
        std::vector<Rect> frames;
        NSArray* screens = [NSScreen screens];
        // AppKit lists the display with the menu bar first.
        for (NSUInteger index = 0; index < [screens count]; ++index) {
            frames.push_back(fromNSRect([[screens objectAtIndex:index] frame]));
        }
        return frames;
    }
}

std::int32_t CocoaPlatform::windowLevelForKey(WindowLevelKey key) {
    return ::CGWindowLevelForKey(static_cast<::CGWindowLevelKey>(static_cast<std::int32_t>(key)));
}

std::unique_ptr<PlatformWindow> CocoaPlatform::createWindow(Window& owner, Rect contentRect) {
    return makeWindow(owner, contentRect);
}

std::unique_ptr<PlatformStatusItem> CocoaPlatform::createStatusItem(double length) {
    return makeStatusItem(length);
}

PlatformColorPanel& CocoaPlatform::colorPanel(ColorPanel& panel) {
    if (!colorPanel_) {
        colorPanel_ = makeColorPanel(panel);
    }
    return *colorPanel_;
}

std::optional<PropertyValue> CocoaPlatform::defaultsObjectForKey(const std::string& key) {
    @autoreleasepool {
        return propertyValue([[NSUserDefaults standardUserDefaults] objectForKey:toNSString(key)]);
    }
}

void CocoaPlatform::setDefaultsObject(const PropertyValue& value, const std::string& key) {
    @autoreleasepool {
        id object = propertyObject(value);
        if (object != nil) {
            [[NSUserDefaults standardUserDefaults] setObject:object forKey:toNSString(key)];
        }
    }
}

namespace {
void setError(std::string* error, NSError* reason, const char* fallback) {
    if (error != nullptr) {
        *error = reason != nil ? toStdString([reason localizedDescription]) : fallback;
    }
}
}  // namespace

std::optional<Data> CocoaPlatform::archiveColor(const Color& color, std::string* error) {
    @autoreleasepool {
        NSError* reason = nil;
        NSData* archive = [NSKeyedArchiver archivedDataWithRootObject:nativeColor(color)
                                                requiringSecureCoding:NO
                                                                error:&reason];
        if (archive == nil) {
            setError(error, reason, "the colour could not be archived");
            return std::nullopt;
        }
        const auto* bytes = static_cast<const std::uint8_t*>([archive bytes]);
        return Data(bytes, bytes + [archive length]);
    }
}

std::optional<Color> CocoaPlatform::unarchiveColor(const Data& data, std::string* error) {
    @autoreleasepool {
        NSData* archive = [NSData dataWithBytes:data.data() length:data.size()];
        NSError* reason = nil;
        NSColor* color = nil;
        // Stored data is outside the program's control: a damaged archive reads as no colour.
        @try {
            color = [NSKeyedUnarchiver unarchivedObjectOfClass:[NSColor class]
                                                      fromData:archive
                                                         error:&reason];
        } @catch (NSException* exception) {
            if (error != nullptr) {
                *error = toStdString([exception reason]);
            }
            return std::nullopt;
        }
        if (color == nil) {
            setError(error, reason, "the data holds no colour");
            return std::nullopt;
        }
        return colorFromNative(color);
    }
}

std::optional<PropertyValue> CocoaPlatform::infoDictionaryValue(const std::string& key) {
    @autoreleasepool {
        return propertyValue([[NSBundle mainBundle] objectForInfoDictionaryKey:toNSString(key)]);
    }
}

}  // namespace platform::cocoa
