#pragma once

#include <cstdint>

namespace phonaxis {

// A view rectangle of four signed 16-bit integers, in the order top, left,
// bottom, right. A value of -1 (0xFFFF) in left and right means "draw
// nothing" for the one-pixel cursor rectangles.
struct Rect {
    std::int16_t top = 0;
    std::int16_t left = 0;
    std::int16_t bottom = 0;
    std::int16_t right = 0;

    friend bool operator==(const Rect&, const Rect&) = default;
};

// A colour of three unsigned 16-bit components (0..65535 each).
struct RGBColor {
    std::uint16_t red = 0;
    std::uint16_t green = 0;
    std::uint16_t blue = 0;

    friend bool operator==(const RGBColor&, const RGBColor&) = default;
};

// A point in view coordinates.
struct PointD {
    double x = 0.0;
    double y = 0.0;

    friend bool operator==(const PointD&, const PointD&) = default;
};

// A floating rectangle: origin (x, y) and size (width, height).
struct RectD {
    double x = 0.0;
    double y = 0.0;
    double width = 0.0;
    double height = 0.0;

    friend bool operator==(const RectD&, const RectD&) = default;
};

} // namespace phonaxis
