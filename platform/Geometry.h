#pragma once

namespace platform {

// A point in global desktop coordinates, in points (NSPoint).
struct Point {
    double x = 0.0;
    double y = 0.0;
    friend bool operator==(const Point&, const Point&) = default;
};

// A width and height in points (NSSize).
struct Size {
    double width = 0.0;
    double height = 0.0;
    friend bool operator==(const Size&, const Size&) = default;
};

// A rectangle: origin (bottom-left, y up, as on macOS) and size, in points (NSRect).
struct Rect {
    double x = 0.0;
    double y = 0.0;
    double width = 0.0;
    double height = 0.0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

}  // namespace platform
