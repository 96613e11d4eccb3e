#pragma once

#include "model/Geometry.h"

#include <array>
#include <cstdint>
#include <string>

namespace phonaxis {

// A text font as plain values; the UI turns it into a platform font.
struct LabelFont {
    std::string family = "Arial";
    double pointSize = 14.0;
    int weight = 400; // CSS-style weight: 400 normal, 700 bold
    bool italic = false;

    friend bool operator==(const LabelFont&, const LabelFont&) = default;
};

// A colour with alpha, each component 0..1.
struct LabelColor {
    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;
    double alpha = 1.0;

    friend bool operator==(const LabelColor&, const LabelColor&) = default;
};

// The label transfer record: what the label dialog and the file readers hand
// to a channel's add operations, by value.
struct LabelTransfer {
    std::array<char, 256> cText{}; // NUL-terminated byte-string copy of the text
    std::int32_t nJustification = 0;
    double dTime = 0.0;
    double dVerticalFactor = 0.0;
    Rect rect;              // its width and height give the text size
    bool bAddLine = false;
    std::string text;
    LabelFont font;
    LabelColor color;
};

// One styled text label pinned to a time on a channel and to a height inside
// the channel's strip. Labels are values: a channel owns its list of them.
class Labels {
public:
    Labels() { cText.fill('\0'); }

    // Copies every field of `source` into this label.
    void Duplicate(const Labels& source) { *this = source; }

    std::array<char, 256> cText{}; // NUL-terminated byte-string copy of the text
    std::int32_t nJustification = 0; // 0 left edge at dTime, 1 centred, 2 right edge
    double dTime = 0.0;              // ms
    double dVerticalFactor = 0.0;    // top of the label as a fraction of the strip height
    Rect rectLocation;               // last computed on-screen rectangle
    bool bAddLine = false;           // carried with the label; not drawn
    std::string _strText;            // the text that is drawn and stored
    RectD _bounds;                   // drawing and hit-test rectangle
    PointD _deltaShift;              // offset while the label is being dragged
    LabelFont mFont;
    LabelColor mFontColor;
};

} // namespace phonaxis
