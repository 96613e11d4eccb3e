#include "document/FileIO.h"
#include "log/FormantPlot.h"
#include "log/FormantTable.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <numbers>
#include <string_view>
#include <tuple>
#include <unistd.h>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;

ByteView bytesOf(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

FormantTable tableOf(std::vector<FormantRow> rows)
{
    FormantTable table;
    table.m_rows = std::move(rows);
    table.m_bHaveData = !table.m_rows.empty();
    return table;
}

class FormantFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("phonaxis-formant-" + std::to_string(::getpid()));
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }
    std::string path(const std::string& name) const { return (m_dir / name).string(); }

    fs::path m_dir;
};

TEST_F(FormantFile, SaveWritesOneLinePerRowAndReadingBringsTheRowsBack)
{
    FormantTable table = tableOf({{"1", "500", "1500", "2500", "  a  "},
                                  {"2", "300", "2200", "", "e\tlo\rng"},
                                  {"3", "-1", "x12", "3000", ""}});
    table.m_bDirty = true;
    std::string error;
    ASSERT_TRUE(table.Save(path("vowels.txt"), error)) << error;
    EXPECT_FALSE(table.m_bDirty);
    EXPECT_EQ(table.m_strFilePath, path("vowels.txt"));

    FileContents file;
    ASSERT_TRUE(file.open(path("vowels.txt"), error));
    EXPECT_EQ(std::string(file.bytes().begin(), file.bytes().end()),
              "500\t1500\t2500\t\"a\"\n300\t2200\t\t\"e lo ng\"\n-1\tx12\t3000\t\"\"\n");

    FormantTable back;
    back.m_bDirty = true;
    ASSERT_TRUE(back.ReadDocument(path("vowels.txt")));
    EXPECT_EQ(back.rows(), (std::vector<FormantRow>{{"0", "500", "1500", "2500", "a"},
                                                    {"1", "300", "2200", "", "e lo ng"},
                                                    {"2", "-1", "x12", "3000", ""}}));
    EXPECT_FALSE(back.m_bDirty);
    EXPECT_TRUE(back.GetData());
    EXPECT_EQ(back.m_strFilePath, path("vowels.txt"));

    // A save that fails leaves the table unsaved, under its old name.
    back.m_bDirty = true;
    EXPECT_FALSE(back.Save(path("missing/vowels.txt"), error));
    EXPECT_TRUE(back.m_bDirty);
    EXPECT_EQ(back.m_strFilePath, path("vowels.txt"));
}

TEST_F(FormantFile, UnreadableFilesLeaveTheTableAsItWas)
{
    std::string error;
    ASSERT_TRUE(
        writeFileAtomically(path("latin1.txt"), bytesOf("500\t1500\t2500\t\"\xE9\"\n"), error));
    for (const std::string& p : {path("latin1.txt"), path("missing.txt"), m_dir.string()}) {
        FormantTable table = tableOf({{"1", "1", "2", "3", "x"}});
        table.m_strFilePath = "old.txt";
        table.m_bDirty = true;
        std::string diagnostic;
        EXPECT_FALSE(table.ReadDocument(p, &diagnostic)) << p;
        EXPECT_EQ(diagnostic, "File length is zero, " + p);
        EXPECT_EQ(table.rows(), (std::vector<FormantRow>{{"1", "1", "2", "3", "x"}}));
        EXPECT_EQ(table.m_strFilePath, "old.txt");
        EXPECT_TRUE(table.m_bDirty);
    }
}

TEST(FormantText, OnlyLinesOfFourFieldsBecomeRowsNumberedByLine)
{
    const auto rows = FormantTable::parseFormantText(bytesOf("\xEF\xBB\xBF\xEF\xBB\xBF"
                                                             "500\t1500\t2500\t\"i\"\n"
                                                             "too\tfew\tfields\n"
                                                             "\n"
                                                             "1\t2\t3\t4\t5\n"
                                                             "\t\t\t\n"
                                                             "7\t8\t9\tsay \"hi\" \xC3\xA9"));
    ASSERT_TRUE(rows);
    EXPECT_EQ(*rows, (std::vector<FormantRow>{{"0", "500", "1500", "2500", "i"},
                                              {"4", "", "", "", ""},
                                              {"5", "7", "8", "9", "say hi \xC3\xA9"}}));
    EXPECT_TRUE(FormantTable::parseFormantText(bytesOf(""))->empty());
    for (std::string_view bad : {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "a\xE2\x82"}) {
        EXPECT_FALSE(FormantTable::parseFormantText(bytesOf(bad)));
    }
}

TEST(FormantText, IntegerCellsReadTheirLeadingNumber)
{
    // clang-format off
    const std::pair<const char*, std::int32_t> cases[] = {
        {"500", 500}, {"  -1", -1}, {"+42Hz", 42}, {"3.9", 3}, {"abc", 0}, {"", 0}, {"- 5", 0},
        {"\t\n12 13", 12}, {"2147483647", 2147483647}, {"99999999999", 2147483647},
        {"-99999999999", -2147483647 - 1}};
    // clang-format on
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(intValue(text), expected) << '"' << text << '"';
    }
}

TEST(FormantTableEditing, EditsMarkTheTableDirtyAndKeepRowsNumbered)
{
    FormantTable table;
    EXPECT_FALSE(table.GetData());
    table.insertRow();
    table.insertRow();
    table.insertRow();
    EXPECT_TRUE(table.m_bDirty);
    EXPECT_EQ(table.rows()[2], (FormantRow{"3", "0", "0", "0", ""}));

    table.m_bDirty = false;
    EXPECT_FALSE(table.setCell(0, FormantTable::kColumnF1, "0"));
    EXPECT_FALSE(table.setCell(0, FormantTable::kColumnRow, "9"));
    EXPECT_FALSE(table.setCell(3, FormantTable::kColumnF1, "9"));
    EXPECT_FALSE(table.m_bDirty);
    EXPECT_TRUE(table.setCell(1, FormantTable::kColumnF2, "1200"));
    EXPECT_EQ(table.GetTableCellData(1, 2), 1200);
    EXPECT_TRUE(table.m_bDirty);

    table.labelRows({0, 2, 7}, "u");
    EXPECT_EQ(table.GetTableCellStringData(0), "u");
    EXPECT_EQ(table.GetTableCellStringData(1), "");
    EXPECT_EQ(table.GetTableCellStringData(2), "u");

    table.deleteRows({0, 0, 9});
    ASSERT_EQ(table.rowCount(), 2u);
    EXPECT_EQ(table.rows()[0], (FormantRow{"1", "0", "1200", "0", ""}));
    EXPECT_EQ(table.rows()[1].row, "2");

    table.deleteRows({1});
    ASSERT_EQ(table.rowCount(), 1u);
    table.deleteRows({}); // a single row goes whatever is selected
    EXPECT_EQ(table.rowCount(), 0u);
    EXPECT_FALSE(table.GetData());
}

TEST(FormantTableEditing, SpectrogramHandOverFillsShortColumnsWithEmptyCells)
{
    FormantTable table = tableOf({{"1", "1", "1", "1", "old"}});
    table.m_strFilePath = "old.txt";
    ASSERT_TRUE(table.ReadDocumentFromSpectrogramDict(
        {{"row", {"0", "1"}}, {"f1", {"510", "640"}}, {"f2", {"1720", "1100"}}, {"f3", {"2400"}}}));
    EXPECT_EQ(table.rows(), (std::vector<FormantRow>{{"0", "510", "1720", "2400", ""},
                                                     {"1", "640", "1100", "", ""}}));
    EXPECT_TRUE(table.m_bDirty);
    EXPECT_TRUE(table.m_strFilePath.empty());
    EXPECT_EQ(table.GetTable().at("f3"), (std::vector<std::string>{"2400", ""}));
}

TEST(FormantTableEditing, RangeCombosReadEachLimitOnlyWhileThePreviousIsSelected)
{
    const auto& choices = FormantTable::rangeChoicesHz();
    ASSERT_EQ(choices.size(), 20u);
    EXPECT_EQ(choices.front(), 1000);
    EXPECT_EQ(choices.back(), 4800);
    EXPECT_EQ(FormantTable::rangeChoiceIndex(1600), 3);
    EXPECT_EQ(FormantTable::rangeChoiceIndex(1700), -1);

    FormantTable table;
    table.comboBoxSelectionDidChange(-1, 0, 0);
    EXPECT_EQ(table.GetF1(), 1600);
    table.comboBoxSelectionDidChange(0, 20, 1);
    EXPECT_EQ(std::tuple(table.GetF1(), table.GetF2(), table.GetF3()),
              std::tuple(1000, 3000, 3000));
    table.comboBoxSelectionDidChange(1, 2, 19);
    EXPECT_EQ(std::tuple(table.GetF1(), table.GetF2(), table.GetF3()),
              std::tuple(1200, 1400, 4800));
}

TEST(FormantPlotMaths, BarkAndF2Prime)
{
    EXPECT_DOUBLE_EQ(HzToBark(0), 0.0);
    EXPECT_NEAR(HzToBark(200), 1.9634785895415792, 1e-12);
    EXPECT_NEAR(HzToBark(1000), 8.510531510721993, 1e-12);
    EXPECT_NEAR(HzToBark(3000), 15.6023504069748, 1e-12);

    struct Case {
        std::int32_t f1, f2, f3, expected;
    };
    const Case table[] = {
        {500, 1500, 2500, 1750},                     // 1500 + 0.5·1000·1000/2000
        {300, 2000, 2600, 2221},                     // 2000 + 0.5·600·1700/2300 = 2221.7
        {700, 1000, 500, 1375},                      // 1000 + 0.5·(−500)·300/(−200)
        {600, 1200, 600, 1200},                      // F3 = F1: no weight for F3
        {-2147483647 - 1, 0, 2147483647, 536870911}, // differences beyond int32
    };
    for (const Case& c : table) {
        EXPECT_EQ(F2Prime(c.f1, c.f2, c.f3), c.expected) << c.f1 << ' ' << c.f2 << ' ' << c.f3;
    }
}

TEST(FormantPlotMaths, GroupsGatherEveryRowOfALabelWhereverItStands)
{
    struct Case {
        const char* name;
        std::vector<std::string> labels;
        std::vector<std::pair<std::string, std::vector<std::size_t>>> groups;
    };
    const Case cases[] = {
        {"split run", {"a", "a", "b", "a", "a", "a"}, {{"a", {0, 1, 3, 4, 5}}}},
        {"interleaved",
         {"a", "i", "u", "a", "i", "u", "a", "i", "u"},
         {{"a", {0, 3, 6}}, {"i", {1, 4, 7}}, {"u", {2, 5, 8}}}},
        {"unlabelled rows form no group", {"", " ", "", "\t", "", "o", "", "o", "o"},
         {{"o", {5, 7, 8}}}},
        {"two rows are too few", {"a", "", "a", "b", "b", "b"}, {{"b", {3, 4, 5}}}},
        {"order of first rows", {"z", "a", "z", "a", "z", "a"}, {{"z", {0, 2, 4}}, {"a", {1, 3, 5}}}},
    };
    for (const Case& c : cases) {
        const std::vector<double> p(c.labels.size(), 1.0);
        std::vector<double> q;
        for (std::size_t i = 0; i < c.labels.size(); ++i) {
            q.push_back(double(i));
        }
        const auto groups = groupByLabel(p, q, c.labels);
        std::vector<std::pair<std::string, std::vector<std::size_t>>> found;
        for (const FormantGroup& g : groups) {
            found.emplace_back(g.label, g.rows);
        }
        EXPECT_EQ(found, c.groups) << c.name;
    }

    // The statistics are those of the group's rows only, not of the rows
    // between them.
    const std::vector<std::string> labels = {"a", "b", "a", "b", "a"};
    const std::vector<double> p = {1, 9, 3, 9, 2};
    const std::vector<double> q = {4, 9, 6, 9, 8};
    const auto groups = groupByLabel(p, q, labels);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_DOUBLE_EQ(groups[0].meanP, 2.0);
    EXPECT_DOUBLE_EQ(groups[0].meanQ, 6.0);
    EXPECT_NEAR(groups[0].varianceP, 2.0 / 3.0, 1e-12);
    EXPECT_NEAR(groups[0].varianceQ, 8.0 / 3.0, 1e-12);
    EXPECT_NEAR(groups[0].covariance, 2.0 / 3.0, 1e-12); // (4 + 18 + 16)/3 − 12

    // Equal values have no spread, however Σx²/n − mean² rounds.
    const auto flat = groupByLabel({0.1, 0.1, 0.1}, {1, 2, 3}, {"o", "o", "o"});
    ASSERT_EQ(flat.size(), 1u);
    EXPECT_EQ(flat[0].varianceP, 0.0);
    EXPECT_FALSE(flat[0].hasEllipse());
    EXPECT_TRUE(ellipseBark(flat[0]).empty());
}

// Every ellipse point lies two standard deviations from the mean (Mahalanobis
// distance 2) at polar angle k·2π/200 from the F1 direction.
TEST(FormantPlotMaths, EllipsePointsLieTwoStandardDeviationsOut)
{
    struct Case {
        const char* name;
        std::vector<double> p, q;
    };
    const Case cases[] = {
        {"positive covariance", {0, 2, 4}, {0, 2, 2}},
        {"negative covariance", {0, 2, 4}, {2, 2, 0}},
        {"no covariance, wider in F1", {1, 5, 1, 5}, {2, 2, 4, 4}},
        {"no covariance, wider in F2", {1, 3, 1, 3}, {0, 0, 6, 6}},
        {"circle", {1, 3, 1, 3}, {2, 2, 4, 4}},
    };
    for (const Case& c : cases) {
        const auto groups = groupByLabel(c.p, c.q, std::vector<std::string>(c.p.size(), "v"));
        ASSERT_EQ(groups.size(), 1u) << c.name;
        const FormantGroup& g = groups[0];
        const auto points = ellipseBark(g);
        ASSERT_EQ(points.size(), 200u) << c.name;
        const double det = g.varianceP * g.varianceQ - g.covariance * g.covariance;
        for (std::size_t k = 0; k < points.size(); ++k) {
            const double dp = points[k].y - g.meanP;
            const double dq = points[k].x - g.meanQ;
            const double distance =
                (g.varianceQ * dp * dp - 2 * g.covariance * dp * dq + g.varianceP * dq * dq) / det;
            EXPECT_NEAR(distance, 4.0, 1e-9) << c.name << " point " << k;
            const double angle = std::remainder(std::atan2(dq, dp) - k * 2 * std::numbers::pi / 200,
                                                2 * std::numbers::pi);
            EXPECT_NEAR(angle, 0.0, 1e-9) << c.name << " point " << k;
        }
    }
    // All points on a line: no ellipse can be drawn.
    EXPECT_TRUE(ellipseBark(groupByLabel({1, 2, 3}, {2, 4, 6}, {"o", "o", "o"})[0]).empty());
}

// The boxes of every axis text (titles, tick labels) of a chart.
std::vector<RectD> textBoxes(const PlotGeometry& g)
{
    std::vector<RectD> boxes;
    for (const PlotAxis* axis : {&g.f1Axis, &g.secondAxis}) {
        std::vector<const PlotText*> texts = {&axis->title};
        for (const PlotText& label : axis->labels) {
            texts.push_back(&label);
        }
        for (const PlotText* t : texts) {
            RectD box{t->at.x, t->at.y, t->width, t->height};
            if (t->anchor == TextAnchor::LeftCentre) {
                box.y -= t->height / 2.0;
            } else if (t->anchor == TextAnchor::TopCentre) {
                box.x -= t->width / 2.0;
            }
            boxes.push_back(box);
        }
    }
    boxes.push_back({g.caption.at.x, g.caption.at.y, g.caption.width, g.caption.height});
    return boxes;
}

bool overlap(const RectD& a, const RectD& b)
{
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height &&
           b.y < a.y + a.height;
}

bool inside(const RectD& inner, const RectD& outer)
{
    return inner.x >= outer.x && inner.y >= outer.y &&
           inner.x + inner.width <= outer.x + outer.width &&
           inner.y + inner.height <= outer.y + outer.height;
}

TEST(FormantPlotGeometry, AxesCarryTitlesWithUnitsAndTheirTextsFitWithoutOverlapping)
{
    FormantTable table; // limits 1600, 3000, 3000
    struct Case {
        std::int32_t type;
        std::int16_t width, height;
        double lineHeight;
        const char* title;
    };
    const Case cases[] = {
        {0, 640, 560, 15.0, "F2 (Hz)"},  {1, 640, 560, 15.0, "F2' (Hz)"},
        {2, 640, 560, 15.0, "F3 (Hz)"},  {0, 1600, 900, 28.0, "F2 (Hz)"},
        {0, 700, 400, 13.0, "F2 (Hz)"},  {2, 300, 200, 10.0, "F3 (Hz)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " type " +
                     std::to_string(c.type));
        PlotStyle style;
        style.text.lineHeight = c.lineHeight;
        const PlotGeometry g = PlotData(table, Rect{0, 0, c.height, c.width}, c.type, style);
        EXPECT_EQ(g.f1Axis.title.text, "F1 (Hz)");
        EXPECT_TRUE(g.f1Axis.title.vertical);
        EXPECT_EQ(g.secondAxis.title.text, c.title);
        // The caption names the table and the plot, cut to the plot's width.
        EXPECT_EQ(g.caption.text.rfind("Untitled", 0), 0u) << g.caption.text;
        EXPECT_LE(g.caption.width, g.plotArea.width);

        // Ticks every 100 Hz over the axes' ranges; 200 Hz on the second
        // axis, 400 Hz on the F1 axis.
        ASSERT_EQ(g.f1Axis.ticks.size(), 15u);
        EXPECT_EQ(g.f1Axis.ticks.front().frequencyHz, 200);
        EXPECT_EQ(g.f1Axis.ticks.back().frequencyHz, 1600);
        EXPECT_NEAR(g.yOfF1(200), g.secondAxisY, 1e-9);
        EXPECT_NEAR(g.xOfSecond(400), g.f1AxisX, 1e-9);
        ASSERT_EQ(g.secondAxis.ticks.size(), 27u);
        EXPECT_NEAR(g.xOfSecond(3000), g.plotArea.x, 1e-9);
        EXPECT_NEAR(g.yOfF1(1600), g.plotArea.y + g.plotArea.height, 1e-9);
        EXPECT_GE(g.f1Axis.labels.size(), 3u);
        EXPECT_GE(g.secondAxis.labels.size(), 3u);

        const RectD picture{0, 0, double(c.width), double(c.height)};
        const std::vector<RectD> boxes = textBoxes(g);
        for (std::size_t i = 0; i < boxes.size(); ++i) {
            EXPECT_TRUE(inside(boxes[i], picture)) << "text " << i;
            EXPECT_FALSE(overlap(boxes[i], g.plotArea)) << "text " << i;
            for (std::size_t j = i + 1; j < boxes.size(); ++j) {
                EXPECT_FALSE(overlap(boxes[i], boxes[j])) << "texts " << i << " and " << j;
            }
        }
    }
}

TEST(FormantPlotGeometry, EveryEllipseLiesInsideThePlotArea)
{
    // /i/ spreading above 200 Hz and beyond 3000 Hz, /a/ below the F1
    // limit, /u/ beyond 400 Hz on the right: the axes widen to take them.
    FormantTable table = tableOf({{"0", "210", "2900", "3300", "i"},
                                  {"1", "350", "3400", "3500", "i"},
                                  {"2", "260", "2600", "3200", "i"},
                                  {"3", "900", "1300", "2500", "a"},
                                  {"4", "1500", "1000", "2600", "a"},
                                  {"5", "1200", "1500", "2400", "a"},
                                  {"6", "300", "420", "2300", "u"},
                                  {"7", "380", "700", "2200", "u"},
                                  {"8", "330", "380", "2250", "u"}});
    table.m_nF1RangeHigh = 1400;
    for (std::int32_t type : {0, 1, 2}) {
        const PlotGeometry g = PlotData(table, Rect{0, 0, 400, 700}, type);
        ASSERT_EQ(g.groups.size(), 3u) << type;
        const RectD& area = g.plotArea;
        for (const PlotGroup& group : g.groups) {
            ASSERT_EQ(group.ellipse.size(), 200u) << group.group.label;
            for (const PointD& point : group.ellipse) {
                EXPECT_TRUE(point.x >= area.x && point.x <= area.x + area.width &&
                            point.y >= area.y && point.y <= area.y + area.height)
                    << "type " << type << " /" << group.group.label << "/ " << point.x << ","
                    << point.y;
            }
        }
        // The widened F1 axis still starts and ends at the plot's edges.
        EXPECT_LT(g.yOfF1(200), g.secondAxisY + g.plotArea.height);
        EXPECT_GT(g.yOfF1(200), g.secondAxisY);
    }
}

TEST(FormantPlotGeometry, PointsMeansAndEllipsesFollowTheCheckBoxes)
{
    FormantTable table = tableOf({{"0", "500", "1500", "2500", "a"},
                                  {"1", "300", "2200", "2900", "i"},
                                  {"2", "500", "1700", "2600", "a"},
                                  {"3", "350", "2300", "3000", "i"},
                                  {"4", "500", "1900", "2400", "a"},
                                  {"5", "320", "2100", "2800", "i"},
                                  {"6", "600", "1200", "2500", ""},
                                  {"7", "610", "1300", "2500", ""},
                                  {"8", "650", "1250", "2500", ""}});
    const Rect bounds{0, 0, 600, 800};
    table.m_bDrawellipse = false;
    table.m_bDrawmean = false;
    table.m_bDrawindividuallabels = false;
    table.m_bDrawmeanlabel = false;
    PlotGeometry g = PlotData(table, bounds, 1);
    ASSERT_EQ(g.points.size(), 9u);
    EXPECT_TRUE(g.groups.empty());
    // F2' of 500/1500/2500 is 1750 Hz; the circle is centred on the point.
    EXPECT_EQ(g.points[0].circle.topLeft,
              (PointD{std::trunc(g.xOfSecond(1750) - 2.5), std::trunc(g.yOfF1(500) - 2.5)}));
    EXPECT_EQ(g.points[0].circle.diameter, 5.0);
    EXPECT_FALSE(g.points[0].drawLabel);

    table.m_bDrawdata = false;
    table.m_bDrawellipse = true;
    table.m_bDrawmean = true;
    table.m_bDrawmeanlabel = true;
    g = PlotData(table, bounds, 0);
    EXPECT_TRUE(g.points.empty());
    // The unlabelled rows get neither mean nor ellipse.
    ASSERT_EQ(g.groups.size(), 2u);
    // Equal F1 values: the mean is drawn, the ellipse is not.
    EXPECT_TRUE(g.groups[0].drawMean);
    EXPECT_TRUE(g.groups[0].mean.filled);
    EXPECT_EQ(g.groups[0].label.text, "a");
    EXPECT_TRUE(g.groups[0].ellipse.empty());
    EXPECT_EQ(g.groups[0].mean.topLeft.y, std::trunc(g.yOfF1(500) - 2.5));
    EXPECT_EQ(g.groups[1].label.text, "i");
    ASSERT_EQ(g.groups[1].ellipse.size(), 200u);
    for (const PointD& point : g.groups[1].ellipse) {
        EXPECT_EQ(point.x, std::trunc(point.x));
        EXPECT_EQ(point.y, std::trunc(point.y));
    }

    table.m_bDrawdata = true;
    table.m_bDrawindividuallabels = true;
    g = PlotData(table, bounds, 2);
    EXPECT_EQ(g.points[3].label.text, "i");
    EXPECT_TRUE(g.points[3].label.plotAttributes);
    EXPECT_EQ(g.points[3].label.at, g.points[3].circle.topLeft);
}

} // namespace
} // namespace phonaxis
