// A label's own operations: its text and the copy kept in cText, its font
// and colour, its bounds and hit test.

#include "model/Labels.h"

#include "model/Functions.h"

#include <algorithm>
#include <cstring>

namespace phonaxis {

namespace {

// Fills `out` with the first bytes of `text`, at most out.size() - 1 of
// them, cut back to the start of a UTF-8 sequence so that no character is
// split, followed by NULs.
void copyToCText(const std::string& text, std::array<char, 256>& out)
{
    out.fill('\0');
    std::size_t count = std::min(text.size(), out.size() - 1);
    if (count < text.size()) {
        // Continuation bytes are 10xxxxxx: step back to the lead byte of the
        // character the cut would split.
        while (count > 0 && (static_cast<unsigned char>(text[count]) & 0xC0u) == 0x80u) {
            --count;
        }
    }
    std::memcpy(out.data(), text.data(), count);
}

} // namespace

std::string transferText(const LabelTransfer& record)
{
    if (!record.text.empty()) {
        return record.text;
    }
    // cText comes from files too: its NUL may be missing.
    const auto end = std::find(record.cText.begin(), record.cText.end(), '\0');
    return std::string(record.cText.begin(), end);
}

void Labels::setText(const std::string& text)
{
    _strText = text;
    copyToCText(_strText, cText);
}

void Labels::setLabelNSText(const std::string& text, const TextMeasurer& measurer,
                            double leftMargin)
{
    setText(text);
    const RectD size = measurer.measure(_strText, mFont);
    _bounds.width = size.width;
    _bounds.height = size.height;
    rectLocation.right = truncToInt16(size.width);
    rectLocation.bottom = truncToInt16(size.height);
    _bounds.x -= leftMargin;
}

void Labels::setFont_Color(const LabelFont& font, const LabelColor& color)
{
    mFont = font;
    mFontColor = color;
}

void Labels::setBounds(const RectD& bounds, double leftMargin)
{
    _bounds = bounds;
    _bounds.x -= leftMargin;
}

bool Labels::isContentsUnderPoint(PointD point) const
{
    return point.x >= _bounds.x && point.x < _bounds.x + _bounds.width && point.y >= _bounds.y &&
           point.y < _bounds.y + _bounds.height;
}

} // namespace phonaxis
