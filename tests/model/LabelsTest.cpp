#include "model/Channels.h"
#include "model/LabelTable.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace phonaxis {
namespace {

constexpr double kMargin = 50.0;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// 1000 samples over 100 ms; strip x 50..250 (200 pixels), y 10..110; page on
// samples 200..600 = 20..60 ms, so 40 ms is 100 pixels into the strip.
Channels makeChannel()
{
    Channels c;
    c.m_dwFileLength = 1000;
    c.m_dLengthMS = 100;
    c.m_rLocation = Rect{10, 50, 110, 250};
    c.m_nHeigth = 100;
    c.m_dPageMin = 200;
    c.m_dPageMax = 600;
    return c;
}

Labels labelAt(double timeMs, double factor = 0.25, std::int32_t justification = 0,
               double width = 41)
{
    Labels label;
    label.dTime = timeMs;
    label.dVerticalFactor = factor;
    label.nJustification = justification;
    label._bounds = RectD{0, 0, width, 12.5};
    return label;
}

RectD boundsOf(const Rect& r)
{
    return RectD{double(r.left), double(r.top), double(r.right - r.left), double(r.bottom - r.top)};
}

TEST(Labels, PlacementOnThePage)
{
    struct Case {
        double timeMs, factor;
        std::int32_t justification;
        double width;
        bool placed;
        Rect location; // top, left, bottom, right
    };
    const Case cases[] = {
        {40, 0.25, 0, 41, true, {35, 150, 47, 191}},
        {40, 0.25, 1, 41, true, {35, 130, 47, 171}}, // centred: 41 / 2 -> 20
        {40, 0.25, 2, 41, true, {35, 109, 47, 150}},
        {40, 0.25, 1, 40.6, true, {35, 130, 47, 170}},
        {20.1, kNaN, 7, 10, true, {10, 50, 22, 60}}, // damaged factor and justification
        {20, 0.25, 0, 41, false, {}},
        {60, 0.25, 0, 41, false, {}},
        {kNaN, 0.25, 0, 41, false, {}},
    };
    for (const Case& c : cases) {
        Channels ch = makeChannel();
        ch.Add_Label_Cocoa(labelAt(c.timeMs, c.factor, c.justification, c.width));
        Labels* placed = ch.GetLabelZoomed(0, 20, 60, kMargin);
        ASSERT_EQ(placed != nullptr, c.placed) << c.timeMs;
        if (placed != nullptr) {
            EXPECT_EQ(placed->rectLocation, c.location) << c.timeMs << " j" << c.justification;
            EXPECT_EQ(placed->bounds(), boundsOf(c.location));
        }
    }
}

TEST(Labels, HitTestingOnlyFindsLabelsPlacedOnThePage)
{
    // Label 0 sits at the page start with stale bounds over the first 400 x 12.5
    // pixels; labels 1 and 2 are placed at x 150..191, y 10..22.
    Channels ch = makeChannel();
    for (const Labels& label :
         {labelAt(20, 0, 0, 400), labelAt(40, 0), labelAt(40, 0), labelAt(60)}) {
        ch.Add_Label_Cocoa(label);
    }
    EXPECT_EQ(ch.LabelSelected({160, 11}), 0); // bounds alone: the stale rectangle
    EXPECT_EQ(ch.labelAtPointOnPage({160, 11}, 20, 60, kMargin), 1);
    EXPECT_EQ(ch.labelAtPointOnPage({150, 10}, 20, 60, kMargin), 1);  // near edges inside
    EXPECT_EQ(ch.labelAtPointOnPage({191, 15}, 20, 60, kMargin), -1); // far edge outside
}

TEST(Labels, AddingAtAClickKeepsTheLabelInsideItsStrip)
{
    struct Case {
        double clickY;
        std::int32_t justification;
        Rect location;
        double factor;
    };
    const Case cases[] = {
        {35, 1, {35, 130, 47, 171}, 0.25},
        {105, 0, {98, 150, 110, 191}, 0.88}, // would end at 117: moved up to touch 110
        {98, 2, {98, 109, 110, 150}, 0.88},  // ends exactly at the bottom: stays
    };
    for (const Case& c : cases) {
        Channels ch = makeChannel();
        ch.m_dMarkerTime = 40;
        ch.Add_Label_Cocoa(Labels{});
        LabelTransfer record;
        record.text = "vowel";
        record.rect = Rect{0, 0, 12, 41};
        record.nJustification = c.justification;
        ASSERT_EQ(ch.Add_Label_Cocoa_Where(record, {123, c.clickY}, kMargin), 1);
        ASSERT_EQ(ch.m_nLabelCount, 2);
        const Labels& label = *ch.GetLabel(1);
        EXPECT_EQ(label.rectLocation, c.location) << c.clickY;
        EXPECT_DOUBLE_EQ(label.dVerticalFactor, c.factor) << c.clickY;
        RectD bounds = boundsOf(c.location);
        bounds.x -= kMargin;
        EXPECT_EQ(label.bounds(), bounds);
        EXPECT_STREQ(label.cText.data(), "vowel");
        EXPECT_EQ(label.dTime, 40);
    }
    Channels flat = makeChannel();
    flat.m_rLocation.bottom = flat.m_rLocation.top; // no height: no division by zero
    flat.Add_Label_Cocoa_Where(LabelTransfer{}, {0, 30}, kMargin);
    EXPECT_EQ(flat.GetLabel(0)->dVerticalFactor, 0.0);
}

TEST(Labels, DragMovesTimeThroughClampedCursorTimes)
{
    // The placed left edge 150 is 50 ms on the point-to-time axis.
    const struct {
        std::int16_t left;
        double timeMs;
    } cases[] = {{190, 48}, {450, 90} /* clamped at 100 ms */, {-200, -10} /* at 0 ms */};
    for (const auto& c : cases) {
        Channels ch = makeChannel();
        ch.Add_Label_Cocoa(labelAt(40));
        ch.GetLabelZoomed(0, 20, 60, kMargin);
        ch.m_pArrayLabels[0]._deltaShift = PointD{3, 4};
        const Rect dragged{60, c.left, 72, std::int16_t(c.left + 41)};
        ch.MoveLabel(0, dragged);
        const Labels& label = *ch.GetLabel(0);
        EXPECT_DOUBLE_EQ(label.dTime, c.timeMs) << c.left;
        EXPECT_DOUBLE_EQ(label.dVerticalFactor, 0.5);
        EXPECT_EQ(label.rectLocation, dragged);
        EXPECT_EQ(label.bounds(), (RectD{double(c.left), 60, 41, 12}));
        EXPECT_EQ(label._deltaShift, PointD{});
    }
}

TEST(Labels, ListOperationsIgnoreIndicesOutsideTheList)
{
    Channels ch = makeChannel();
    for (double t : {10.0, 20.0, 30.0}) {
        ch.Add_Label_Cocoa(labelAt(t));
    }
    for (int bad : {-1, 3}) {
        ch.Modify_Labels(bad, labelAt(99));
        ch.MoveLabel(bad, Rect{1, 1, 2, 2});
        ch.MoveLabelTimeBy(bad, 5);
        EXPECT_EQ(ch.RemoveLabel(bad), -1);
        EXPECT_EQ(ch.GetLabel(bad), nullptr);
        EXPECT_EQ(ch.GetLabelZoomed(bad, 0, 100, kMargin), nullptr);
    }
    ch.Modify_Labels(2, labelAt(35));
    ch.MoveLabelTimeBy(0, -2.5);
    EXPECT_EQ(ch.RemoveLabel(1), 1);
    ASSERT_EQ(ch.m_nLabelCount, 2);
    EXPECT_EQ(ch.GetLabel(0)->dTime, 7.5);
    EXPECT_EQ(ch.GetLabel(1)->dTime, 35);
    ch.RemoveAllLabels();
    EXPECT_EQ(ch.m_nLabelCount, 0);
}

TEST(Labels, TextFromRecordsAndMeasuring)
{
    Channels ch = makeChannel();
    LabelTransfer record;
    record.cText.fill('x'); // no NUL anywhere, as a damaged file may give
    record.rect = Rect{40, 30, 58, 20};
    ch.Add_Label(record);
    const Labels& label = *ch.GetLabel(0);
    EXPECT_EQ(label.getLabelText(), std::string(256, 'x'));
    EXPECT_EQ(label.cText[255], '\0');
    EXPECT_EQ(label.bounds(), (RectD{30, 40, 10, 18}));
    EXPECT_EQ(label.rectLocation, record.rect); // kept for writing back

    struct Measurer : TextMeasurer {
        RectD measure(const std::string& text, const LabelFont& font) const override
        {
            return RectD{99, 99, 7.0 * double(text.size()), font.pointSize + 0.5};
        }
    };
    Labels sized = labelAt(0);
    sized.rectLocation = Rect{5, 6, 0, 0};
    sized.setLabelNSText("abc", Measurer{}, kMargin);
    EXPECT_EQ(sized.bounds(), (RectD{-50, 0, 21, 14.5}));
    EXPECT_EQ(sized.rectLocation, (Rect{5, 6, 14, 21})); // top and left kept
    // cText holds at most 255 bytes and never splits a character.
    const std::string longText = std::string(254, 'a') + "\xC3\xA9";
    sized.setLabelNSText(longText, Measurer{}, 0);
    EXPECT_EQ(std::string(sized.cText.data()), std::string(254, 'a'));
    EXPECT_EQ(sized.getLabelText(), longText);
}

TEST(LabelTable, RowsNumberAcrossChannelsAndTimesReadBack)
{
    std::vector<Channels> channels(3);
    channels[0].SetTitle("Audio");
    channels[0].Add_Label_Cocoa(labelAt(12.25));
    channels[0].m_pArrayLabels[0].setText("a");
    channels[2].SetTitle("EGG");
    channels[2].Add_Label_Cocoa(labelAt(-0.04));
    channels[2].Add_Label_Cocoa(labelAt(1e300));

    const std::vector<LabelTableRow> rows = buildLabelTableRows(channels);
    ASSERT_EQ(rows.size(), 3u);
    const auto cells = [](const LabelTableRow& r) {
        return r.row + "|" + r.name + "|" + r.label + "|" + std::to_string(r.channelIndex) + ":" +
               std::to_string(r.labelIndex) + "|" + r.time.substr(0, 5);
    };
    EXPECT_EQ(cells(rows[0]), "1|Audio|a|0:0|12.2");
    EXPECT_EQ(cells(rows[1]), "2|EGG||2:0|-0.0");
    EXPECT_EQ(cells(rows[2]), "3|EGG||2:1|10000");
    EXPECT_EQ(rows[2].time.size(), 303u); // all 301 digits, the point and one decimal
    EXPECT_EQ(labelTableJumpTime(rows, 0), 12.2f);
    EXPECT_EQ(labelTableJumpTime(rows, -1), std::nullopt);
    EXPECT_EQ(labelTableJumpTime(rows, 3), std::nullopt);
    EXPECT_EQ(labelTableJumpTime(rows, 2), std::nullopt); // beyond a 32-bit float

    const struct {
        const char* text;
        std::optional<float> value;
    } texts[] = {
        {"  7.5ms", 7.5f}, {"", std::nullopt}, {"ms", std::nullopt}, {"nan", std::nullopt}};
    for (const auto& t : texts) {
        EXPECT_EQ(parseLabelTableTime(t.text), t.value) << t.text;
    }
}

} // namespace
} // namespace phonaxis
