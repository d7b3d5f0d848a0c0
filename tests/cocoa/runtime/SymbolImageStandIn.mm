// Stands in for +[NSImage imageWithSystemSymbolName:accessibilityDescription:] (macOS 11),
// which GNUstep lacks. It knows the symbols the program asks for, drawn as simple template
// shapes in black; any other name gives nil, as macOS gives for a symbol it does not have.

namespace {
constexpr CGFloat kSymbolSize = 18.0;

void fillSquare(NSRect square) {
    [[NSColor blackColor] set];
    NSRectFill(square);
}

NSImage* symbolImage(void (*draw)()) {
    NSImage* image =
        [[[NSImage alloc] initWithSize:NSMakeSize(kSymbolSize, kSymbolSize)] autorelease];
    [image lockFocus];
    draw();
    [image unlockFocus];
    return image;
}
}  // namespace

@implementation NSImage (VellumorMacOSShim)

+ (NSImage*)imageWithSystemSymbolName:(NSString*)symbolName
             accessibilityDescription:(NSString*)description {
    (void)description;
    if ([symbolName isEqualToString:@"square.fill.on.square.fill"]) {
        return symbolImage([] {
            fillSquare(NSMakeRect(1, 5, 12, 12));
            [[NSColor whiteColor] set];
            NSRectFill(NSMakeRect(4, 2, 14, 14));
            fillSquare(NSMakeRect(5, 3, 12, 12));
        });
    }
    if ([symbolName isEqualToString:@"app.fill"]) {
        return symbolImage([] { fillSquare(NSMakeRect(2, 2, 14, 14)); });
    }
    return nil;
}

@end
