#pragma once

// Objective-C++ only: what the stand-ins keep that the test control reads back. The getters
// are macOS API too (macOS 10.6 and 10.10), declared here because only the tests read them.

#import <AppKit/AppKit.h>

#include <vector>

@interface NSApplication (VellumorMacOSShimReadBack)
- (NSApplicationActivationPolicy)activationPolicy;
@end

@interface NSWindow (VellumorMacOSShimReadBack)
- (BOOL)titlebarAppearsTransparent;
@end

namespace vellumor::gnustep {

// The items in the stand-in status bar now, oldest first.
std::vector<NSStatusItem*> statusBarItems();

}  // namespace vellumor::gnustep
