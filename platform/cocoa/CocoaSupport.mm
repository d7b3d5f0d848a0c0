#include "platform/cocoa/CocoaSupport.h"

#import <objc/runtime.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <vector>

namespace platform::cocoa {

// --- Strings, geometry and property-list values ------------------------------------------------

NSString* toNSString(const std::string& text) {
    NSString* string = [[NSString alloc] initWithBytes:text.data()
                                                length:text.size()
                                              encoding:NSUTF8StringEncoding];
    return [string autorelease];
}

std::string toStdString(NSString* text) {
    const char* bytes = [text UTF8String];
    return bytes != nullptr ? std::string(bytes) : std::string();
}

NSRect toNSRect(Rect rect) {
    return NSMakeRect(rect.x, rect.y, rect.width, rect.height);
}

Rect fromNSRect(NSRect rect) {
    return {rect.origin.x, rect.origin.y, rect.size.width, rect.size.height};
}

namespace {
// Foundation dates count from 1970 here as system_clock does (C++20 fixes its epoch).
NSDate* toNSDate(Date date) {
    const double seconds = std::chrono::duration<double>(date.time_since_epoch()).count();
    return [NSDate dateWithTimeIntervalSince1970:seconds];
}

Date fromNSDate(NSDate* date) {
    const std::chrono::duration<double> seconds([date timeIntervalSince1970]);
    return Date(std::chrono::duration_cast<Date::duration>(seconds));
}

// Booleans are NSNumbers of a class of their own (__NSCFBoolean on macOS), distinct from the
// class of every other number, so the class tells a stored YES from a stored 1.
bool isBooleanNumber(NSNumber* number) {
    return [number isKindOfClass:[[NSNumber numberWithBool:YES] class]];
}

PropertyValue numberValue(NSNumber* number) {
    if (isBooleanNumber(number)) {
        return static_cast<bool>([number boolValue]);
    }
    const char* type = [number objCType];
    switch (type != nullptr ? type[0] : 'q') {
        case 'f':
        case 'd':
            return static_cast<double>([number doubleValue]);
        case 'Q':
        case 'L': {
            // Unsigned values past the signed range keep their magnitude as a double.
            const unsigned long long value = [number unsignedLongLongValue];
            if (value > static_cast<unsigned long long>(std::numeric_limits<std::int64_t>::max())) {
                return static_cast<double>(value);
            }
            return static_cast<std::int64_t>(value);
        }
        default:
            return static_cast<std::int64_t>([number longLongValue]);
    }
}
}  // namespace

id propertyObject(const PropertyValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) {
        return toNSString(*text);
    }
    if (const auto* integer = std::get_if<std::int64_t>(&value)) {
        return [NSNumber numberWithLongLong:*integer];
    }
    if (const auto* real = std::get_if<double>(&value)) {
        return [NSNumber numberWithDouble:*real];
    }
    if (const auto* flag = std::get_if<bool>(&value)) {
        return [NSNumber numberWithBool:*flag ? YES : NO];
    }
    if (const auto* data = std::get_if<Data>(&value)) {
        return [NSData dataWithBytes:data->data() length:data->size()];
    }
    return toNSDate(std::get<Date>(value));
}

std::optional<PropertyValue> propertyValue(id object) {
    if ([object isKindOfClass:[NSString class]]) {
        return toStdString(object);
    }
    if ([object isKindOfClass:[NSNumber class]]) {
        return numberValue(object);
    }
    if ([object isKindOfClass:[NSData class]]) {
        NSData* data = object;
        const auto* bytes = static_cast<const std::uint8_t*>([data bytes]);
        return Data(bytes, bytes + [data length]);
    }
    if ([object isKindOfClass:[NSDate class]]) {
        return fromNSDate(object);
    }
    return std::nullopt;
}

// --- Native objects carried by C++ values -----------------------------------------------------

std::shared_ptr<const void> retainedHandle(id object) {
    if (object == nil) {
        return nullptr;
    }
    [object retain];
    return std::shared_ptr<const void>(static_cast<const void*>(object), [](const void* pointer) {
        @autoreleasepool {
            [static_cast<id>(const_cast<void*>(pointer)) release];
        }
    });
}

id objectFromHandle(const std::shared_ptr<const void>& handle) {
    return static_cast<id>(const_cast<void*>(handle.get()));
}

// --- Colours ----------------------------------------------------------------------------------

namespace {
CGFloat unit(double value) {
    return static_cast<CGFloat>(std::clamp(value, 0.0, 1.0));
}

NSColor* colorInSpace(NSColorSpace* space, const std::vector<double>& components) {
    std::vector<CGFloat> values(components.begin(), components.end());
    return [NSColor colorWithColorSpace:space
                             components:values.data()
                                  count:static_cast<NSInteger>(values.size())];
}

NSColor* catalogColor(const Color& color) {
    const std::string& name = color.catalogName();
    if (name == "labelColor") {
        return [NSColor labelColor];
    }
    if (name == "secondaryLabelColor") {
        return [NSColor secondaryLabelColor];
    }
    if (name == "tertiaryLabelColor") {
        return [NSColor tertiaryLabelColor];
    }
    return [NSColor colorWithCatalogName:@"System" colorName:toNSString(name)];
}

NSColor* customColor(const Color& color) {
    const std::vector<double>& components = color.components();
    if (!color.iccProfile().empty()) {
        NSData* profile = [NSData dataWithBytes:color.iccProfile().data()
                                         length:color.iccProfile().size()];
        NSColorSpace* space = [[[NSColorSpace alloc] initWithICCProfileData:profile] autorelease];
        if (space != nil &&
            static_cast<std::size_t>([space numberOfColorComponents]) + 1 == components.size()) {
            return colorInSpace(space, components);
        }
    }
    // Without a usable profile the components are read as sRGB, a single one as a grey.
    const std::vector<double> rgba{color.displayRed(), color.displayGreen(), color.displayBlue(),
                                   color.alphaComponent()};
    return colorInSpace([NSColorSpace sRGBColorSpace], rgba);
}

// A pattern has no components; it is described by a mid grey.
Color patternFallback() {
    return Color::colorWithCalibratedWhite(0.5, 1.0);
}

Color describeComponents(NSColor* color, bool convertOthers) {
    if (color == nil) {
        return patternFallback();
    }
    NSColorSpace* space = [color colorSpace];
    std::vector<CGFloat> buffer(static_cast<std::size_t>([color numberOfComponents]));
    [color getComponents:buffer.data()];
    const std::vector<double> values(buffer.begin(), buffer.end());
    if (values.size() == 4 && [space isEqual:[NSColorSpace genericRGBColorSpace]]) {
        return Color::colorWithCalibratedRed(values[0], values[1], values[2], values[3]);
    }
    if (values.size() == 4 && [space isEqual:[NSColorSpace deviceRGBColorSpace]]) {
        return Color::colorWithDeviceRed(values[0], values[1], values[2], values[3]);
    }
    if (values.size() == 2 && [space isEqual:[NSColorSpace genericGrayColorSpace]]) {
        return Color::colorWithCalibratedWhite(values[0], values[1]);
    }
    if (values.size() == 2 && [space isEqual:[NSColorSpace deviceGrayColorSpace]]) {
        return Color::colorWithDeviceWhite(values[0], values[1]);
    }
    const NSColorSpaceModel model = [space colorSpaceModel];
    if (model == NSColorSpaceModelRGB || model == NSColorSpaceModelGray || !convertOthers) {
        NSData* profile = [space ICCProfileData];
        const auto* bytes = static_cast<const std::uint8_t*>([profile bytes]);
        return Color::colorWithCustomSpace(
            values, 0, bytes != nullptr ? Data(bytes, bytes + [profile length]) : Data());
    }
    // CMYK and the like: the components a screen would show, in sRGB.
    return describeComponents([color colorUsingColorSpace:[NSColorSpace sRGBColorSpace]], false);
}

Color describe(NSColor* color) {
    switch ([color type]) {
        case NSColorTypeCatalog: {
            const std::string name = toStdString([color colorNameComponent]);
            if (name == "labelColor") {
                return Color::labelColor();
            }
            if (name == "secondaryLabelColor") {
                return Color::secondaryLabelColor();
            }
            if (name == "tertiaryLabelColor") {
                return Color::tertiaryLabelColor();
            }
            // Other named colours are described as they look in the current appearance.
            return describeComponents([color colorUsingColorSpace:[NSColorSpace sRGBColorSpace]],
                                      false);
        }
        case NSColorTypePattern:
            return patternFallback();
        default:
            return describeComponents(color, true);
    }
}
}  // namespace

NSColor* nativeColor(const Color& color) {
    id native = objectFromHandle(color.nativeHandle());
    if ([native isKindOfClass:[NSColor class]]) {
        return native;
    }
    const CGFloat alpha = unit(color.alphaComponent());
    switch (color.colorSpaceModel()) {
        case ColorSpaceModel::CalibratedRGB:
            return [NSColor colorWithCalibratedRed:unit(color.displayRed())
                                             green:unit(color.displayGreen())
                                              blue:unit(color.displayBlue())
                                             alpha:alpha];
        case ColorSpaceModel::DeviceRGB:
            return [NSColor colorWithDeviceRed:unit(color.displayRed())
                                         green:unit(color.displayGreen())
                                          blue:unit(color.displayBlue())
                                         alpha:alpha];
        case ColorSpaceModel::CalibratedWhite:
            return [NSColor colorWithCalibratedWhite:unit(color.displayRed()) alpha:alpha];
        case ColorSpaceModel::DeviceWhite:
            return [NSColor colorWithDeviceWhite:unit(color.displayRed()) alpha:alpha];
        case ColorSpaceModel::Custom:
            return customColor(color);
        case ColorSpaceModel::Catalog:
            if (NSColor* named = catalogColor(color)) {
                return named;
            }
            break;
    }
    return [NSColor colorWithCalibratedWhite:unit(color.displayRed()) alpha:alpha];
}

Color colorFromNative(NSColor* color) {
    return describe(color).withNativeHandle(retainedHandle(color));
}

NSImage* nativeImage(const Image& image) {
    id native = objectFromHandle(image.nativeHandle());
    if ([native isKindOfClass:[NSImage class]]) {
        return native;
    }
    return [NSImage imageWithSystemSymbolName:toNSString(image.name())
                     accessibilityDescription:toNSString(image.accessibilityDescription())];
}

// --- Message forwarding -----------------------------------------------------------------------

namespace {
// From the runtime's own C string: answering whether a selector is understood makes no
// Objective-C objects, so AppKit may ask as often as it likes.
std::string selectorName(SEL selector) {
    return sel_getName(selector);
}

std::size_t argumentCount(const std::string& name) {
    return static_cast<std::size_t>(std::count(name.begin(), name.end(), ':'));
}

// The name of `selector` if `object` answers it, else nothing.
std::optional<std::string> answeredName(const Object* object, SEL selector) {
    if (object == nullptr || selector == nullptr) {
        return std::nullopt;
    }
    std::string name = selectorName(selector);
    if (!object->respondsToSelector(name)) {
        return std::nullopt;
    }
    return name;
}
}  // namespace

bool answers(const Object* object, SEL selector) {
    return answeredName(object, selector).has_value();
}

NSMethodSignature* forwardingSignature(const Object* object, SEL selector) {
    const auto name = answeredName(object, selector);
    if (!name) {
        return nil;
    }
    // void, then self and _cmd, then one object per argument.
    std::string types = "v@:";
    types.append(argumentCount(*name), '@');
    return [NSMethodSignature signatureWithObjCTypes:types.c_str()];
}

bool deliver(Object* object, NSInvocation* invocation) {
    const auto name = answeredName(object, [invocation selector]);
    if (!name) {
        return false;
    }
    id sender = nil;
    if ([[invocation methodSignature] numberOfArguments] > 2) {
        [invocation getArgument:&sender atIndex:2];
    }
    return object->performSelector(*name, objectForSender(sender));
}

Object* forwardedObjectOf(id object) {
    return [object isKindOfClass:[VLMObjectForwarder class]]
               ? [static_cast<VLMObjectForwarder*>(object) forwardedObject]
               : nullptr;
}

Object* objectForSender(id sender) {
    if (Object* forwarded = forwardedObjectOf(sender)) {
        return forwarded;
    }
    if ([sender isKindOfClass:[NSMenuItem class]]) {
        // Each entry the backend builds carries its C++ entry as represented object.
        return objectForSender([static_cast<NSMenuItem*>(sender) representedObject]);
    }
    if ([sender isKindOfClass:[VLMWindow class]]) {
        return [static_cast<VLMWindow*>(sender) owner];
    }
    return nullptr;
}

}  // namespace platform::cocoa

@implementation VLMObjectForwarder

- (id)initForwardingTo:(platform::Object*)object {
    self = [super init];
    if (self != nil) {
        _object = new platform::WeakObjectRef(object != nullptr ? object->weakRef()
                                                                : platform::WeakObjectRef());
    }
    return self;
}

- (void)dealloc {
    delete _object;
    [super dealloc];
}

- (platform::Object*)forwardedObject {
    return _object->get();
}

- (BOOL)respondsToSelector:(SEL)selector {
    @autoreleasepool {
        return [super respondsToSelector:selector] ||
               platform::cocoa::answers([self forwardedObject], selector);
    }
}

- (NSMethodSignature*)methodSignatureForSelector:(SEL)selector {
    NSMethodSignature* signature = nil;
    @autoreleasepool {
        signature = [super methodSignatureForSelector:selector];
        if (signature == nil) {
            signature = platform::cocoa::forwardingSignature([self forwardedObject], selector);
        }
        // The signature outlives this pool: it is the caller's to use.
        [signature retain];
    }
    return [signature autorelease];
}

- (void)forwardInvocation:(NSInvocation*)invocation {
    @autoreleasepool {
        if (!platform::cocoa::deliver([self forwardedObject], invocation)) {
            [super forwardInvocation:invocation];
        }
    }
}

@end
