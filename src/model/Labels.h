#pragma once

#include "model/Geometry.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
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

// The text attributes a label is drawn with: its font and foreground colour.
struct LabelAttributes {
    LabelFont font;
    LabelColor color;

    friend bool operator==(const LabelAttributes&, const LabelAttributes&) = default;
};

// Measures text as the UI will draw it. Core never measures text itself: the
// UI supplies an implementation over its platform fonts, tests a fake.
class TextMeasurer {
public:
    virtual ~TextMeasurer() = default;
    // Size of `text` drawn in `font`, in view units (width and height; the
    // origin is not used).
    virtual RectD measure(const std::string& text, const LabelFont& font) const = 0;
};

// The label transfer record: what the label dialog and the file readers hand
// to a channel's add operations, by value.
struct LabelTransfer {
    std::array<char, 256> cText{}; // NUL-terminated byte-string copy of the text
    std::int32_t nJustification = 0;
    double dTime = 0.0;
    double dVerticalFactor = 0.0;
    // End of the interval the label opens, in ms; NaN for a label that
    // marks a point in time (see Labels::dEndTime).
    double dEndTime = std::numeric_limits<double>::quiet_NaN();
    Rect rect; // its width and height give the text size
    bool bAddLine = false;
    std::string text;
    LabelFont font;
    LabelColor color;
};

// The text a transfer record carries: `text`, or, when that is empty, the
// bytes of `cText` up to its first NUL (at most all 256 of them).
std::string transferText(const LabelTransfer& record);

// One styled text label pinned to a time on a channel and to a height inside
// the channel's strip. Labels are values: a channel owns its list of them.
//
// `cText` mirrors the first bytes of `_strText` (at most 255, never splitting
// a UTF-8 sequence, NUL-padded) whenever the text is set through this class.
// View coordinates are in pixels; the drawing itself is the UI's.
class Labels {
public:
    Labels() = default;

    // Resets every field to a new label's: empty text, zero bounds and shift,
    // "Arial" 14 in black.
    void init() { *this = Labels(); }

    // Copies every field of `source` into this label.
    void Duplicate(const Labels& source) { *this = source; }

    // Sets the text (and its `cText` copy), then sizes the bounds to the text
    // as `measurer` measures it in this label's font: bounds size := measured
    // size, `rectLocation` right/bottom := trunc(width)/trunc(height) (top and
    // left keep their values), bounds origin x -= `leftMargin`. Placement on
    // the page (Channels::GetLabelZoomed) recomputes the rest before drawing.
    void setLabelNSText(const std::string& text, const TextMeasurer& measurer, double leftMargin);

    // Sets the font and foreground colour the label is drawn with.
    void setFont_Color(const LabelFont& font, const LabelColor& color);

    // Stores `bounds`, then moves its origin x left by `leftMargin`.
    void setBounds(const RectD& bounds, double leftMargin);

    // Sets the text and its `cText` copy without touching the geometry.
    void setText(const std::string& text);

    const RectD& bounds() const { return _bounds; }
    double getLabelTime() const { return dTime; }
    const std::string& getLabelText() const { return _strText; }
    // The text's UTF-8 bytes, NUL-terminated.
    const char* getLabelcText() const { return _strText.c_str(); }
    LabelAttributes getLabelAttributes() const { return LabelAttributes{mFont, mFontColor}; }

    // Whether `point` lies inside the bounds: origin edges included, far
    // edges excluded, so an empty rectangle contains nothing.
    bool isContentsUnderPoint(PointD point) const;

    // Whether the label opens an interval (it has an end).
    bool hasEndTime() const { return !std::isnan(dEndTime); }

    std::array<char, 256> cText{};   // NUL-terminated byte-string copy of the text
    std::int32_t nJustification = 0; // 0 left edge at dTime, 1 centred, 2 right edge
    double dTime = 0.0;              // ms
    double dVerticalFactor = 0.0;    // top of the label as a fraction of the strip height
    // End of the interval the label opens, in ms, for a label that came from
    // an interval of an annotation tier; NaN for a label that marks a point.
    // It moves with dTime wherever the label is moved, shifted or copied.
    double dEndTime = std::numeric_limits<double>::quiet_NaN();
    Rect rectLocation;               // last computed on-screen rectangle
    bool bAddLine = false;           // carried with the label; not drawn
    std::string _strText;            // the text that is drawn and stored
    RectD _bounds;                   // drawing and hit-test rectangle
    PointD _deltaShift;              // offset while the label is being dragged
    LabelFont mFont;                 // with mFontColor, the label's text attributes
    LabelColor mFontColor;
};

} // namespace phonaxis
