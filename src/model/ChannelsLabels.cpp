// The label operations of a channel: adding, replacing, removing and moving
// labels, and placing them on the visible page for drawing and hit tests.

#include "model/Channels.h"
#include "model/Functions.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace phonaxis {

namespace {

// `value` cut toward zero; non-finite values (from a zero-length page or a
// damaged label) give 0 so that they never reach a coordinate.
double truncOrZero(double value)
{
    return std::isfinite(value) ? std::trunc(value) : 0.0;
}

// Height of `y` inside `strip` as a fraction of the strip's height (0 at its
// top). A strip without height gives 0 instead of dividing by zero.
double stripFraction(const Rect& strip, double y)
{
    const int height = int(strip.bottom) - int(strip.top);
    return height == 0 ? 0.0 : (y - double(strip.top)) / double(height);
}

// Whole pixels from the page start to `timeMs` in a strip `width` wide.
double pixelOffsetForTime(double timeMs, double pageStartMs, double pageEndMs, int width)
{
    return truncOrZero((timeMs - pageStartMs) * width / (pageEndMs - pageStartMs));
}

// How far left a label `width` wide moves for its justification: all of it
// when its right edge is at its time (2), half of it, halved as an integer,
// when centred (1), none otherwise.
double justificationShift(std::int32_t justification, double width)
{
    switch (justification) {
    case 1:
        return std::trunc(width / 2.0);
    case 2:
        return width;
    default:
        return 0.0;
    }
}

Rect viewRect(double top, double left, double bottom, double right)
{
    return Rect{truncToInt16(top), truncToInt16(left), truncToInt16(bottom), truncToInt16(right)};
}

// The label at `index`, or nullptr outside the list. The list itself is the
// bound, so a count that a caller let drift can never index past it.
template <typename List> auto labelAt(List& labels, int index) -> decltype(&labels[0])
{
    if (index < 0 || static_cast<std::size_t>(index) >= labels.size()) {
        return nullptr;
    }
    return &labels[static_cast<std::size_t>(index)];
}

} // namespace

// --- list ---------------------------------------------------------------------

void Channels::Add_Label(const LabelTransfer& record)
{
    Labels label;
    label.setText(transferText(record));
    label.dTime = record.dTime;
    label.dEndTime = record.dEndTime;
    label.dVerticalFactor = record.dVerticalFactor;
    label.nJustification = record.nJustification;
    label.bAddLine = record.bAddLine;
    label.setFont_Color(record.font, record.color);
    // The record's rect is also the label's location, so a label read from
    // a file and written again without being drawn keeps its box.
    label.rectLocation = record.rect;
    label._bounds = Functions::convertRectToNSRect(record.rect);
    Add_Label_Cocoa(label);
}

void Channels::Add_Label_Cocoa(const Labels& label)
{
    m_pArrayLabels.push_back(label);
    m_nLabelCount = static_cast<std::int32_t>(m_pArrayLabels.size());
}

int Channels::Add_Label_Cocoa_Where(const LabelTransfer& record, PointD click, double leftMargin)
{
    Labels label;
    label.setText(transferText(record));
    label.dTime = m_dMarkerTime;
    label.dVerticalFactor = stripFraction(m_rLocation, click.y);
    label.nJustification = record.nJustification;
    label.bAddLine = record.bAddLine;

    const double textWidth = std::fabs(double(record.rect.right) - double(record.rect.left));
    const double textHeight = std::fabs(double(record.rect.bottom) - double(record.rect.top));

    double y = truncOrZero(m_nHeigth * label.dVerticalFactor) + m_rLocation.top;
    const double perSample = msPerSample();
    double x = pixelOffsetForTime(label.dTime, m_dPageMin * perSample, m_dPageMax * perSample,
                                  stripWidth()) +
               leftMargin;
    double yBottom = y + textHeight;

    // A label reaching below its strip moves up until its bottom touches it.
    if (yBottom > m_rLocation.bottom) {
        y = std::max(0.0, double(m_rLocation.bottom) - textHeight);
        yBottom = y + textHeight;
        label.dVerticalFactor = stripFraction(m_rLocation, y);
    }

    double xRight = x + textWidth;
    const double shift = justificationShift(label.nJustification, textWidth);
    x -= shift;
    xRight -= shift;

    label.rectLocation = viewRect(y, x, yBottom, xRight);
    label.setBounds(RectD{x, y, std::fabs(xRight - x), std::fabs(yBottom - y)}, leftMargin);
    label.setFont_Color(record.font, record.color);
    Add_Label_Cocoa(label);
    return static_cast<int>(m_pArrayLabels.size()) - 1;
}

void Channels::Modify_Labels(int index, const Labels& replacement)
{
    if (Labels* label = labelAt(m_pArrayLabels, index)) {
        *label = replacement;
    }
}

int Channels::RemoveLabel(int index)
{
    if (labelAt(m_pArrayLabels, index) == nullptr) {
        return -1;
    }
    m_pArrayLabels.erase(m_pArrayLabels.begin() + index);
    m_nLabelCount = static_cast<std::int32_t>(m_pArrayLabels.size());
    return index;
}

void Channels::RemoveAllLabels()
{
    m_pArrayLabels.clear();
    m_nLabelCount = 0;
}

const Labels* Channels::GetLabel(int index) const
{
    return labelAt(m_pArrayLabels, index);
}

// --- moving -------------------------------------------------------------------

void Channels::MoveLabel(int index, const Rect& dragged)
{
    Labels* found = labelAt(m_pArrayLabels, index);
    if (found == nullptr) {
        return;
    }
    Labels& label = *found;
    label.dVerticalFactor = stripFraction(m_rLocation, dragged.top);
    // Both edges go through the same point-to-time clamping, so a drag past
    // the channel's end moves the label only as far as the end.
    const double newTimeMs = GetCursorTime(PointD{double(dragged.left), double(dragged.top)});
    const double oldTimeMs =
        GetCursorTime(PointD{double(label.rectLocation.left), double(label.rectLocation.top)});
    label.dTime += newTimeMs - oldTimeMs;
    label.dEndTime += newTimeMs - oldTimeMs;
    label.rectLocation = dragged;
    label._bounds.x = dragged.left;
    label._bounds.y = dragged.top;
    label._deltaShift = PointD{};
}

void Channels::MoveLabelTimeBy(int index, double ms)
{
    if (Labels* label = labelAt(m_pArrayLabels, index)) {
        label->dTime += ms;
        label->dEndTime += ms;
    }
}

// --- placing and hit testing --------------------------------------------------

Labels* Channels::GetLabelZoomed(int index, double pageStartMs, double pageEndMs, double leftMargin)
{
    Labels* found = labelAt(m_pArrayLabels, index);
    if (found == nullptr) {
        return nullptr;
    }
    Labels& label = *found;
    // Strictly inside: a label at either page edge is neither drawn nor hit.
    if (!(pageStartMs < label.dTime && label.dTime < pageEndMs)) {
        return nullptr;
    }
    double x = pixelOffsetForTime(label.dTime, pageStartMs, pageEndMs, stripWidth()) + leftMargin;
    const double y = truncOrZero(m_nHeigth * label.dVerticalFactor) + m_rLocation.top;
    const double width = label._bounds.width;
    double xRight = truncOrZero(x + width);
    const double yBottom = truncOrZero(y + label._bounds.height);

    const double shift = justificationShift(label.nJustification, truncOrZero(width));
    x -= shift;
    xRight -= shift;

    label._bounds = RectD{x, y, std::fabs(xRight - x), std::fabs(yBottom - y)};
    label.rectLocation = viewRect(y, x, yBottom, xRight);
    return &label;
}

int Channels::LabelSelected(PointD point) const
{
    for (std::size_t i = 0; i < m_pArrayLabels.size(); ++i) {
        if (m_pArrayLabels[i].isContentsUnderPoint(point)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int Channels::labelAtPointOnPage(PointD point, double pageStartMs, double pageEndMs,
                                 double leftMargin)
{
    int hit = -1;
    const int count = static_cast<int>(m_pArrayLabels.size());
    for (int i = 0; i < count; ++i) {
        const Labels* placed = GetLabelZoomed(i, pageStartMs, pageEndMs, leftMargin);
        if (hit < 0 && placed != nullptr && placed->isContentsUnderPoint(point)) {
            hit = i;
        }
    }
    return hit;
}

} // namespace phonaxis
