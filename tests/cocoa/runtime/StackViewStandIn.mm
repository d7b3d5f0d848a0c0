// Stands in for NSStackView (macOS 10.9), which GNUstep lacks. It lays its arranged views out
// in the order added, top to bottom (vertical) or left to right, each centred across the
// stack, with the spacing between neighbours, and takes the size its contents need. GNUstep
// solves no layout constraints: arranged controls take the size that fits their content (as
// their intrinsic size would give them on macOS), other views keep the size they have.

#include <algorithm>
#include <unordered_map>

namespace {
struct StackSettings {
    NSUserInterfaceLayoutOrientation orientation = NSUserInterfaceLayoutOrientationHorizontal;
    NSLayoutAttribute alignment = NSLayoutAttributeCenterY;
    CGFloat spacing = 8.0;
};
std::unordered_map<const void*, StackSettings> stacks;
}  // namespace

@implementation NSStackView

- (void)dealloc {
    stacks.erase(self);
    [super dealloc];
}

- (void)setOrientation:(NSUserInterfaceLayoutOrientation)orientation {
    stacks[self].orientation = orientation;
    [self arrange];
}

- (void)setAlignment:(NSLayoutAttribute)alignment {
    stacks[self].alignment = alignment;
    [self arrange];
}

- (void)setSpacing:(CGFloat)spacing {
    stacks[self].spacing = spacing;
    [self arrange];
}

- (void)addArrangedSubview:(NSView*)view {
    [self addSubview:view];
    [self arrange];
}

// Places the subviews and sizes the stack around them.
- (void)arrange {
    const StackSettings& settings = stacks[self];
    const bool vertical = settings.orientation == NSUserInterfaceLayoutOrientationVertical;
    NSArray* views = [self subviews];
    for (NSUInteger index = 0; index < [views count]; ++index) {
        id view = [views objectAtIndex:index];
        if ([view isKindOfClass:[NSControl class]]) {
            [static_cast<NSControl*>(view) sizeToFit];
        }
    }
    CGFloat along = 0.0;
    CGFloat across = 0.0;
    for (NSUInteger index = 0; index < [views count]; ++index) {
        const NSSize size = [[views objectAtIndex:index] frame].size;
        along += (vertical ? size.height : size.width) + (index > 0 ? settings.spacing : 0.0);
        across = std::max(across, vertical ? size.width : size.height);
    }
    NSRect frame = [self frame];
    frame.size = vertical ? NSMakeSize(across, along) : NSMakeSize(along, across);
    [self setFrame:frame];
    // AppKit's coordinates rise upwards: a vertical stack starts at its top.
    CGFloat position = vertical ? along : 0.0;
    for (NSUInteger index = 0; index < [views count]; ++index) {
        NSView* view = [views objectAtIndex:index];
        const NSSize size = [view frame].size;
        if (vertical) {
            position -= size.height;
            [view setFrameOrigin:NSMakePoint((across - size.width) / 2.0, position)];
            position -= settings.spacing;
        } else {
            [view setFrameOrigin:NSMakePoint(position, (across - size.height) / 2.0)];
            position += size.width + settings.spacing;
        }
    }
}

@end
