#include <algorithm>
#include <cstdint>
#include <map>
#include <unordered_map>
#include <vector>

#include "platform/View.h"
#include "platform/cocoa/CocoaSupport.h"

// The helpers live outside namespace platform, whose enums carry AppKit's names: here every
// NS name is AppKit's own.
namespace {

constexpr bool same(std::int64_t ours, std::int64_t appKits) {
    return ours == appKits;
}
template <class Enum>
constexpr std::int64_t number(Enum value) {
    return static_cast<std::int64_t>(value);
}

// The layer's view settings are AppKit's numbers, handed on as they are.
static_assert(same(number(platform::NSLayoutAttribute::NotAnAttribute),
                   NSLayoutAttributeNotAnAttribute));
static_assert(same(number(platform::NSLayoutAttribute::Left), NSLayoutAttributeLeft));
static_assert(same(number(platform::NSLayoutAttribute::Right), NSLayoutAttributeRight));
static_assert(same(number(platform::NSLayoutAttribute::Top), NSLayoutAttributeTop));
static_assert(same(number(platform::NSLayoutAttribute::Bottom), NSLayoutAttributeBottom));
static_assert(same(number(platform::NSLayoutAttribute::Leading), NSLayoutAttributeLeading));
static_assert(same(number(platform::NSLayoutAttribute::Trailing), NSLayoutAttributeTrailing));
static_assert(same(number(platform::NSLayoutAttribute::Width), NSLayoutAttributeWidth));
static_assert(same(number(platform::NSLayoutAttribute::Height), NSLayoutAttributeHeight));
static_assert(same(number(platform::NSLayoutAttribute::CenterX), NSLayoutAttributeCenterX));
static_assert(same(number(platform::NSLayoutAttribute::CenterY), NSLayoutAttributeCenterY));
static_assert(same(number(platform::NSVisualEffectMaterial::NSVisualEffectMaterialHUDWindow),
                   NSVisualEffectMaterialHUDWindow));
static_assert(same(number(platform::NSVisualEffectMaterial::NSVisualEffectMaterialWindowBackground),
                   NSVisualEffectMaterialWindowBackground));
static_assert(same(number(platform::NSVisualEffectState::NSVisualEffectStateActive),
                   NSVisualEffectStateActive));
static_assert(same(
    number(platform::NSUserInterfaceLayoutOrientation::NSUserInterfaceLayoutOrientationVertical),
    NSUserInterfaceLayoutOrientationVertical));
static_assert(same(number(platform::NSImageScaling::NSImageScaleProportionallyUpOrDown),
                   NSImageScaleProportionallyUpOrDown));
static_assert(same(number(platform::NSViewWidthSizable), NSViewWidthSizable));
static_assert(same(number(platform::NSViewHeightSizable), NSViewHeightSizable));

using NativeViews = std::unordered_map<const platform::View*, NSView*>;

NSView* bareView(const platform::View& view) {
    const NSRect frame = platform::cocoa::toNSRect(view.frame());
    if (const auto* effect = dynamic_cast<const platform::VisualEffectView*>(&view)) {
        NSVisualEffectView* native = [[[NSVisualEffectView alloc] initWithFrame:frame] autorelease];
        [native setMaterial:static_cast<NSVisualEffectMaterial>(number(effect->material()))];
        [native setState:static_cast<NSVisualEffectState>(number(effect->state()))];
        return native;
    }
    if (const auto* stack = dynamic_cast<const platform::StackView*>(&view)) {
        NSStackView* native = [[[NSStackView alloc] initWithFrame:frame] autorelease];
        [native setOrientation:static_cast<NSUserInterfaceLayoutOrientation>(
                                   number(stack->orientation()))];
        [native setAlignment:static_cast<NSLayoutAttribute>(number(stack->alignment()))];
        [native setSpacing:static_cast<CGFloat>(stack->spacing())];
        return native;
    }
    if (const auto* image = dynamic_cast<const platform::ImageView*>(&view)) {
        NSImageView* native = [[[NSImageView alloc] initWithFrame:frame] autorelease];
        [native setImage:image->image() ? platform::cocoa::nativeImage(*image->image()) : nil];
        [native setImageScaling:static_cast<NSImageScaling>(number(image->imageScaling()))];
        return native;
    }
    if (const auto* text = dynamic_cast<const platform::TextField*>(&view)) {
        // A label takes the size of its text; the program places labels by layout alone.
        NSTextField* native =
            [NSTextField labelWithString:platform::cocoa::toNSString(text->stringValue())];
        [native setFont:[NSFont systemFontOfSize:static_cast<CGFloat>(text->font().pointSize)
                                          weight:static_cast<CGFloat>(text->font().weight)]];
        [native setTextColor:platform::cocoa::nativeColor(text->textColor())];
        [native setEditable:text->isEditable() ? YES : NO];
        [native setSelectable:text->isSelectable() ? YES : NO];
        [native setBezeled:text->isBezeled() ? YES : NO];
        [native setDrawsBackground:text->drawsBackground() ? YES : NO];
        return native;
    }
    return [[[NSView alloc] initWithFrame:frame] autorelease];
}

NSView* buildTree(const platform::View& view, NativeViews& natives) {
    NSView* native = bareView(view);
    [native setTranslatesAutoresizingMaskIntoConstraints:
                view.translatesAutoresizingMaskIntoConstraints() ? YES : NO];
    [native setAutoresizingMask:static_cast<NSUInteger>(view.autoresizingMask())];
    natives[&view] = native;

    const auto* stack = dynamic_cast<const platform::StackView*>(&view);
    for (const auto& subview : view.subviews()) {
        NSView* child = buildTree(*subview, natives);
        const bool arranged =
            stack != nullptr &&
            std::find(stack->arrangedSubviews().begin(), stack->arrangedSubviews().end(),
                      subview.get()) != stack->arrangedSubviews().end();
        if (arranged) {
            [static_cast<NSStackView*>(native) addArrangedSubview:child];
        } else {
            [native addSubview:child];
        }
    }
    return native;
}

void collectConstraints(const platform::View& view,
                        std::vector<const platform::LayoutConstraint*>& constraints) {
    for (const auto& constraint : view.constraints()) {
        constraints.push_back(constraint.get());
    }
    for (const auto& subview : view.subviews()) {
        collectConstraints(*subview, constraints);
    }
}

NSView* nativeOf(const NativeViews& natives, const platform::View* view) {
    const auto found = natives.find(view);
    return found != natives.end() ? found->second : nil;
}

// AppKit gets the constraints in the batches the program activated them in, in its order.
void activateInBatches(const platform::View& root, const NativeViews& natives) {
    std::vector<const platform::LayoutConstraint*> constraints;
    collectConstraints(root, constraints);
    std::map<int, NSMutableArray*> batches;
    for (const platform::LayoutConstraint* constraint : constraints) {
        NSView* first = nativeOf(natives, constraint->firstItem());
        NSView* second = nativeOf(natives, constraint->secondItem());
        // A constraint to a view outside this window has nothing to tie here.
        if (first == nil || (constraint->secondItem() != nullptr && second == nil)) {
            continue;
        }
        NSLayoutConstraint* native = [NSLayoutConstraint
            constraintWithItem:first
                     attribute:static_cast<NSLayoutAttribute>(number(constraint->firstAttribute()))
                     relatedBy:NSLayoutRelationEqual
                        toItem:second
                     attribute:static_cast<NSLayoutAttribute>(number(constraint->secondAttribute()))
                    multiplier:1.0
                      constant:static_cast<CGFloat>(constraint->constant())];
        NSMutableArray*& batch = batches[constraint->activationBatch()];
        if (batch == nil) {
            batch = [NSMutableArray array];
        }
        [batch addObject:native];
    }
    for (const auto& entry : batches) {
        [NSLayoutConstraint activateConstraints:entry.second];
    }
}

}  // namespace

namespace platform::cocoa {

void installContentView(NSWindow* window, View* root) {
    if (root == nullptr) {
        [window setContentView:[[[NSView alloc] initWithFrame:NSZeroRect] autorelease]];
        return;
    }
    NativeViews natives;
    [window setContentView:buildTree(*root, natives)];
    // Constraints may tie any two views of the tree, so they go in once it is whole and in
    // the window.
    activateInBatches(*root, natives);
}

}  // namespace platform::cocoa
