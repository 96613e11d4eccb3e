#include "document/TextGrid.h"

#include "document/AppSettings.h"
#include "document/MyDocument.h"
#include "support/FileProbes.h"
#include "support/RunawayGuard.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;
using test::ScriptedPrompts;

constexpr const char* kPraatFolder = PHONAXIS_TEST_SOURCE_DIR "/document/textgrid";
constexpr double kNoEnd = std::numeric_limits<double>::quiet_NaN();

// Text boxes as wide as 7 units a byte and as high as the point size.
struct FixedMeasurer : TextMeasurer {
    RectD measure(const std::string& text, const LabelFont& font) const override
    {
        return RectD{3, 4, 7.0 * double(text.size()) + 0.6, font.pointSize + 0.5};
    }
};

std::vector<std::uint8_t> bytesOf(const std::string& text)
{
    return {text.begin(), text.end()};
}

std::string textOf(const std::vector<std::uint8_t>& bytes)
{
    return {bytes.begin(), bytes.end()};
}

// The grid the Praat script makes (tools/praat/make-textgrids.praat).
TextGrid praatGrid()
{
    TextGrid grid{0, 2.5, {}};
    grid.tiers.push_back(TextGridTier{true,
                                      "words",
                                      0,
                                      2.5,
                                      {{0, 0.35, ""},
                                       {0.35, 1.2, "say \"hello\""},
                                       {1.2, 2.125, "ʃé日本"},
                                       {2.125, 2.5, "two\nlines"}},
                                      {}});
    grid.tiers.push_back(TextGridTier{
        true,
        "phones",
        0,
        2.5,
        {{0, 0.35, ""}, {0.35, 0.6, "a"}, {0.6, 0.987654321, ""}, {0.987654321, 2.5, "ʃ"}},
        {}});
    grid.tiers.push_back(
        TextGridTier{false, "tones", 0, 2.5, {}, {{0.5, "H*"}, {1.75, "L-L%"}, {2.25, "\"\""}}});
    return grid;
}

TextGrid praatEmptyPoints()
{
    return TextGrid{0.5, 3, {TextGridTier{false, "marks", 0.5, 3, {}, {}}}};
}

std::string fileText(const std::string& name)
{
    return test::fileBytes(fs::path(kPraatFolder) / name);
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// UTF-16 bytes with their two bytes of each unit swapped.
std::string swapped(std::string bytes)
{
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        std::swap(bytes[i], bytes[i + 1]);
    }
    return bytes;
}

std::optional<TextGrid> parse(const std::string& bytes, std::string& error,
                              TextGridFileForm* found = nullptr)
{
    const auto data = bytesOf(bytes);
    return parseTextGrid(data, error, found);
}

// --- files Praat wrote ---------------------------------------------------------

// The Praat grid with its second intervals starting `gap` seconds late.
TextGrid praatGridWithGap(double gap)
{
    TextGrid grid = praatGrid();
    grid.tiers[0].intervals[1].xmin += gap;
    grid.tiers[1].intervals[1].xmin += gap;
    return grid;
}

TEST(TextGridRead, FilesPraatWroteAndTheirVariantsReadExactly)
{
    const std::string longUtf8 = fileText("praat-long-utf8.TextGrid");
    const std::string longUtf16 = fileText("praat-long-utf16.TextGrid");
    ASSERT_FALSE(longUtf8.empty());
    ASSERT_FALSE(longUtf16.empty());
    struct Case {
        const char* what;
        std::string bytes;
        TextGrid expected;
        TextGridFileForm form;
    };
    using F = TextGridForm;
    using E = TextGridEncoding;
    const Case cases[] = {
        {"long UTF-8", longUtf8, praatGrid(), {F::Long, E::Utf8, false}},
        {"short UTF-8",
         fileText("praat-short-utf8.TextGrid"),
         praatGrid(),
         {F::Short, E::Utf8, false}},
        {"old short header, bare class",
         replaceAll(fileText("praat-short-utf8.TextGrid"),
                    "\"ooTextFile\"\nObject class = ", "\"ooTextFile short\"\n"),
         praatGrid(),
         {F::Short, E::Utf8, false}},
        {"long UTF-16", longUtf16, praatGrid(), {F::Long, E::Utf16BigEndian, true}},
        {"short UTF-16",
         fileText("praat-short-utf16.TextGrid"),
         praatGrid(),
         {F::Short, E::Utf16BigEndian, true}},
        {"empty point tier",
         fileText("praat-empty-points.TextGrid"),
         praatEmptyPoints(),
         {F::Long, E::Utf8, false}},
        {"empty point tier, short",
         fileText("praat-empty-points-short.TextGrid"),
         praatEmptyPoints(),
         {F::Short, E::Utf8, false}},
        // What other writers and systems make of the same file.
        {"CR LF line ends",
         replaceAll(longUtf8, "\n", "\r\n"),
         praatGrid(),
         {F::Long, E::Utf8, false}},
        {"UTF-8 mark", "\xEF\xBB\xBF" + longUtf8, praatGrid(), {F::Long, E::Utf8, true}},
        {"no trailing spaces",
         replaceAll(longUtf8, " \n", "\n"),
         praatGrid(),
         {F::Long, E::Utf8, false}},
        {"tabs", replaceAll(longUtf8, "    ", "\t"), praatGrid(), {F::Long, E::Utf8, false}},
        {"point times named time",
         replaceAll(longUtf8, "number =", "time ="),
         praatGrid(),
         {F::Long, E::Utf8, false}},
        {"no exists flag",
         replaceAll(longUtf8, "tiers? <exists> \n", "tiers? \n"),
         praatGrid(),
         {F::Long, E::Utf8, false}},
        {"old short header",
         replaceAll(fileText("praat-short-utf8.TextGrid"), "\"ooTextFile\"",
                    "\"ooTextFile short\""),
         praatGrid(),
         {F::Short, E::Utf8, false}},
        {"gaps far below a nanosecond kept as read",
         replaceAll(longUtf8, "            xmin = 0.35 \n", "            xmin = 0.350000000001 \n"),
         praatGridWithGap(0.350000000001 - 0.35),
         {F::Long, E::Utf8, false}},
        {"UTF-16 LE", swapped(longUtf16), praatGrid(), {F::Long, E::Utf16LittleEndian, true}},
        {"UTF-16 BE without mark",
         longUtf16.substr(2),
         praatGrid(),
         {F::Long, E::Utf16BigEndian, false}},
        {"UTF-16 LE without mark",
         swapped(longUtf16).substr(2),
         praatGrid(),
         {F::Long, E::Utf16LittleEndian, false}},
        {"no tiers",
         "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\nxmin = 0\nxmax = 1\n"
         "tiers? <absent>\n",
         TextGrid{0, 1, {}},
         {F::Long, E::Utf8, false}},
    };
    for (const Case& c : cases) {
        std::string error;
        TextGridFileForm found;
        const auto grid = parse(c.bytes, error, &found);
        ASSERT_TRUE(grid) << c.what << ": " << error;
        EXPECT_EQ(*grid, c.expected) << c.what;
        EXPECT_EQ(found.form, c.form.form) << c.what;
        EXPECT_EQ(found.encoding, c.form.encoding) << c.what;
        EXPECT_EQ(found.byteOrderMark, c.form.byteOrderMark) << c.what;
    }
}

TEST(TextGridWrite, LongAndShortFormsAreLaidOutAsPraatLaysThemOut)
{
    // Praat's own files, byte for byte, but for the encoding Praat chose.
    EXPECT_EQ(textOf(formatTextGrid(praatGrid(), TextGridForm::Long, TextGridEncoding::Utf8)),
              fileText("praat-long-utf8.TextGrid"));
    EXPECT_EQ(textOf(formatTextGrid(praatGrid(), TextGridForm::Short, TextGridEncoding::Utf8)),
              fileText("praat-short-utf8.TextGrid"));
    EXPECT_EQ(
        textOf(formatTextGrid(praatGrid(), TextGridForm::Long, TextGridEncoding::Utf16BigEndian)),
        fileText("praat-long-utf16.TextGrid"));
    EXPECT_EQ(
        textOf(formatTextGrid(praatEmptyPoints(), TextGridForm::Short, TextGridEncoding::Utf8)),
        fileText("praat-empty-points-short.TextGrid"));
}

// --- round trips through a document ----------------------------------------------

class TextGridDocument : public ::testing::Test {
protected:
    void SetUp() override
    {
        document = std::make_unique<MyDocument>(prompts, settings);
        document->m_nNumofChannels = 3;
        for (int i = 0; i < 3; ++i) {
            document->getChannel(i).m_dLengthMS = 2500.0;
            document->getChannel(i).m_bShow = true;
        }
    }
    ScriptedPrompts prompts;
    AppSettings settings;
    std::unique_ptr<MyDocument> document;
    FixedMeasurer measurer;
};

TEST_F(TextGridDocument, GridsComeBackFromLabelsInEveryFormAndEncoding)
{
    // Each tier to its own channel named after it: the interval tiers come
    // back in an interval export, the point tier in a point export.
    const TextGrid source = praatGrid();
    for (int i = 0; i < 3; ++i) {
        document->getChannel(i).SetTitle(source.tiers[static_cast<std::size_t>(i)].name);
    }
    using F = TextGridForm;
    using E = TextGridEncoding;
    const std::pair<F, E> variants[] = {{F::Long, E::Utf8},
                                        {F::Short, E::Utf8},
                                        {F::Long, E::Utf16BigEndian},
                                        {F::Short, E::Utf16LittleEndian},
                                        {F::Long, E::Utf16LittleEndian}};
    for (const auto& [form, encoding] : variants) {
        for (int i = 0; i < 3; ++i) {
            document->getChannel(i).RemoveAllLabels();
        }
        const auto bytes = formatTextGrid(source, form, encoding);
        std::string error;
        TextGridFileForm found;
        const auto read = parseTextGrid(bytes, error, &found);
        ASSERT_TRUE(read) << error;
        EXPECT_EQ(found.form, form);
        EXPECT_EQ(found.encoding, encoding);
        EXPECT_EQ(found.byteOrderMark, encoding != E::Utf8);
        // Every interval with a text, and every point, becomes a label.
        EXPECT_EQ(importTextGridLabels(*document, *read, {{0, 0}, {1, 1}, {2, 2}}, measurer), 8);

        const TextGrid intervals = textGridFromDocument(*document, ExportedTierKind::Intervals);
        const TextGrid points = textGridFromDocument(*document, ExportedTierKind::Points);
        ASSERT_EQ(intervals.tiers.size(), 3u);
        ASSERT_EQ(points.tiers.size(), 3u);
        const TextGrid back{intervals.xmin,
                            intervals.xmax,
                            {intervals.tiers[0], intervals.tiers[1], points.tiers[2]}};
        // Times carried through milliseconds are written back as they were.
        EXPECT_EQ(textOf(formatTextGrid(back, form, encoding)), textOf(bytes));
    }
}

TEST_F(TextGridDocument, ImportedLabelsKeepTimesEndsAndSharedChannelsStack)
{
    TextGrid grid = praatGrid();
    grid.tiers[2].points.push_back({2.5, std::string(300, 'x')});
    ASSERT_EQ(importTextGridLabels(
                  *document, grid,
                  {{0, 1}, {2, 1}, {1, 0}, {5, 0}, {0, 7}, {0, -1}, {0, 20}, {-1, 0}}, measurer),
              3 + 4 + 2);
    const Channels& shared = document->getChannel(1);
    ASSERT_EQ(shared.m_pArrayLabels.size(), 7u);
    const Labels& word = shared.m_pArrayLabels[0];
    EXPECT_EQ(word.getLabelText(), "say \"hello\"");
    EXPECT_DOUBLE_EQ(word.dTime, 350.0);
    EXPECT_DOUBLE_EQ(word.dEndTime, 1200.0);
    EXPECT_EQ(word.nJustification, 0);
    EXPECT_EQ(word.mFont, LabelFont{});
    EXPECT_EQ(word.rectLocation, (Rect{0, 0, 14, 77})); // 11 bytes
    const Labels& tone = shared.m_pArrayLabels[3];
    EXPECT_EQ(tone.getLabelText(), "H*");
    EXPECT_TRUE(std::isnan(tone.dEndTime));
    EXPECT_NE(word.dVerticalFactor, tone.dVerticalFactor);
    EXPECT_EQ(document->getChannel(0).m_pArrayLabels[0].dVerticalFactor, word.dVerticalFactor);
    EXPECT_EQ(shared.m_pArrayLabels[6].getLabelText(), std::string(300, 'x'));
    EXPECT_GT(document->changeCount(), 0);
}

// --- export rules ---------------------------------------------------------------------

struct LabelAt {
    double timeMs;
    double endMs;
    const char* text;
};

Channels channelWith(const std::vector<LabelAt>& labels)
{
    Channels channel;
    channel.SetTitle("Audio");
    for (const LabelAt& l : labels) {
        LabelTransfer record;
        record.text = l.text;
        record.dTime = l.timeMs;
        record.dEndTime = l.endMs;
        channel.Add_Label(record);
    }
    return channel;
}

TEST(TextGridExport, IntervalTiersCoverTheRangeFromTheLabels)
{
    struct Case {
        const char* what;
        std::vector<LabelAt> labels;
        std::vector<TextGridInterval> expected; // over 0 .. 1 s
    };
    const Case cases[] = {
        {"no labels", {}, {{0, 1, ""}}},
        {"ends kept, gaps empty",
         {{100, 300, "a"}, {500, 600, "b"}},
         {{0, 0.1, ""}, {0.1, 0.3, "a"}, {0.3, 0.5, ""}, {0.5, 0.6, "b"}, {0.6, 1, ""}}},
        {"no end: up to the next label",
         {{0, kNoEnd, "a"}, {400, kNoEnd, "b"}},
         {{0, 0.4, "a"}, {0.4, 1, "b"}}},
        {"same time joined, in list order",
         {{200, 500, "a"}, {200, kNoEnd, "b"}},
         {{0, 0.2, ""}, {0.2, 0.5, "a b"}, {0.5, 1, ""}}},
        {"end past the next start cut",
         {{100, 700, "a"}, {400, 500, "b"}},
         {{0, 0.1, ""}, {0.1, 0.4, "a"}, {0.4, 0.5, "b"}, {0.5, 1, ""}}},
        {"out of list order",
         {{400, 500, "b"}, {100, 200, "a"}},
         {{0, 0.1, ""}, {0.1, 0.2, "a"}, {0.2, 0.4, ""}, {0.4, 0.5, "b"}, {0.5, 1, ""}}},
        {"end before the start ignored", {{300, 100, "a"}}, {{0, 0.3, ""}, {0.3, 1, "a"}}},
        {"at the very end joins the last",
         {{500, kNoEnd, "a"}, {1000, kNoEnd, "z"}},
         {{0, 0.5, ""}, {0.5, 1, "a z"}}},
        {"outside the range left out",
         {{-50, kNoEnd, "early"}, {1500, kNoEnd, "late"}},
         {{0, 1, ""}}},
    };
    for (const Case& c : cases) {
        const TextGridTier tier =
            tierFromChannel(channelWith(c.labels), ExportedTierKind::Intervals, 0, 1);
        EXPECT_TRUE(tier.isIntervalTier);
        EXPECT_EQ(tier.name, "Audio");
        EXPECT_EQ(tier.intervals, c.expected) << c.what;
        // Every export reads back.
        std::string error;
        EXPECT_TRUE(parseTextGrid(
            formatTextGrid(TextGrid{0, 1, {tier}}, TextGridForm::Short, TextGridEncoding::Utf8),
            error))
            << c.what << ": " << error;
    }
    const TextGridTier points =
        tierFromChannel(channelWith({{400, 500, "b"}, {100, kNoEnd, "a"}, {100, kNoEnd, "c"}}),
                        ExportedTierKind::Points, 0, 1);
    EXPECT_EQ(points.points, (std::vector<TextGridPoint>{{0.1, "a c"}, {0.4, "b"}}));
}

TEST_F(TextGridDocument, ExportSpansTheLongestShownChannelWidenedByLabels)
{
    document->getChannel(0).m_dLengthMS = 4000.0;
    document->getChannel(0).m_bShow = false;
    document->getChannel(2).m_dLengthMS = 3000.0;
    document->getChannel(1).Add_Label_Cocoa(channelWith({{200, kNoEnd, ""}}).m_pArrayLabels[0]);
    TextGrid grid = textGridFromDocument(*document, ExportedTierKind::Intervals);
    EXPECT_EQ(grid.xmin, 0.0);
    EXPECT_EQ(grid.xmax, 3.0);
    ASSERT_EQ(grid.tiers.size(), 1u); // only channels with labels
    EXPECT_EQ(grid.tiers[0].name, "channel");

    document->getChannel(2).Add_Label_Cocoa(channelWith({{-100, 3500, ""}}).m_pArrayLabels[0]);
    grid = textGridFromDocument(*document, ExportedTierKind::Intervals);
    EXPECT_EQ(grid.xmin, -0.1);
    EXPECT_EQ(grid.xmax, 3.5);
    ASSERT_EQ(grid.tiers.size(), 2u);
    EXPECT_EQ(grid.tiers[1].intervals.front().xmin, -0.1);
}

TEST(LabelsInForce, TheLastLabelHoldsWhileItsIntervalDoes)
{
    const Channels channel = channelWith({{500, kNoEnd, "point"},
                                          {100, 300, "a"},
                                          {900, 950, "b"},
                                          {900, kNoEnd, "c"},
                                          {1200, 1300, "d"},
                                          {1250, kNoEnd, "e"}});
    const LabelsInForce inForce(channel);
    EXPECT_FALSE(inForce.empty());
    const std::pair<double, const char*> cases[] = {
        {0, ""},        {100, "a"},     {299.9, "a"}, {300, ""},     {499, ""},
        {500, "point"}, {899, "point"}, {900, "b c"}, {1100, "b c"}, {1200, "d"},
        {1249, "d"},    {1250, "e"},    {5000, "e"},
    };
    for (const auto& [time, text] : cases) {
        EXPECT_EQ(inForce.at(time), text) << time;
    }
    EXPECT_TRUE(LabelsInForce(Channels{}).empty());
    EXPECT_EQ(LabelsInForce(Channels{}).at(10), "");
}

// --- hostile files ----------------------------------------------------------------------

TextGrid smallGrid()
{
    return TextGrid{0,
                    1,
                    {TextGridTier{true, "w", 0, 1, {{0, 0.5, "a"}, {0.5, 1, ""}}, {}},
                     TextGridTier{false, "p", 0, 1, {}, {{0.25, "x"}, {0.75, "y"}}}}};
}

// The small grid's long form with line `line` (from 1) replaced.
std::string withLine(int line, const std::string& replacement)
{
    std::istringstream in(
        textOf(formatTextGrid(smallGrid(), TextGridForm::Long, TextGridEncoding::Utf8)));
    std::string out;
    std::string each;
    for (int n = 1; std::getline(in, each); ++n) {
        out += (n == line ? replacement : each) + "\n";
    }
    return out;
}

TEST(TextGridRead, DamagedFilesAreDeclinedNamingTheLine)
{
    // The small grid's lines: 7 "size = 2", 14 "intervals: size = 2",
    // 16-18 the first interval, 20-22 the second, 26-27 the point tier's
    // range, 28 "points: size = 2", 30 and 33 the point times.
    struct Case {
        int line;
        const char* replacement;
        const char* expected;
    };
    const Case cases[] = {
        {7, "size = 3", "line 35: expected \"item [3]:\""},
        {14, "intervals: size = 3", "line 23: expected \"intervals [3]:\""},
        {14, "intervals: size = 1", "line 17: the last interval of tier 1 ends at 0.5 s"},
        {28, "points: size = 1", "line 32: unexpected text after the last tier"},
        {28, "points: size = 99999999999",
         "line 28: the number of points of tier 2 is 99999999999, more than"},
        {7, "size = 18446744073709551615", "line 7: the number of tiers is 18446744073709551615"},
        {7, "size = 123456789012345678901234567890",
         "line 7: expected a count for the number of tiers"},
        {14, "intervals: size = -1", "line 14: expected a count"},
        {14, "intervals: size = 0", "line 14: tier 1 has no intervals"},
        {33, "number = 0.2", "line 33: point 2 of tier 2 (at 0.2 s) comes before"},
        {33, "number = 1.5", "line 33: point 2 of tier 2 (at 1.5 s) lies outside"},
        {20, "xmin = 0.50000001", "line 20: interval 2 of tier 1 starts at 0.50000001 s"},
        {20, "xmin = 0.6", "line 20: interval 2 of tier 1 starts at 0.6 s, not at the end"},
        {17, "xmax = 1.5", "line 20: interval 2 of tier 1 starts at 0.5 s"},
        {16, "xmin = 0.1",
         "line 16: interval 1 of tier 1 starts at 0.1 s, not at the tier's start"},
        {21, "xmax = 0.4", "line 21: interval 2 of tier 1 ends (0.4 s) before it starts"},
        {27, "xmax = 2", "line 23: tier 2 (\"p\") runs from 0 to 2 s, outside the grid's 0 to 1 s"},
        {5, "xmax = -1", "line 5: the grid ends (xmax = -1) before it starts"},
        {13, "xmax = -0.5", "line 13: tier 1 ends"},
        {17, "xmax = inf", "line 17: the end time of interval 1 of tier 1 is not a finite number"},
        {17, "xmax = nan", "line 17: the end time of interval 1 of tier 1 is not a finite number"},
        {17, "xmax = 1e999",
         "line 17: the end time of interval 1 of tier 1 is not a finite number"},
        {17, "xmax = 0.5s", "line 17: expected a number for the end time of interval 1"},
        {17, "xmax 0.5", "line 17: expected \"xmax =\" for the end time of interval 1"},
        {34, "mark = \"y", "line 34: the mark of point 2 of tier 2 has no closing quote"},
        {18, "text = a", "line 18: expected the text of interval 1 of tier 1 in double quotes"},
        {10, "class = \"PitchTier\"", "line 10: tier 1 is a \"PitchTier\""},
        {2, "Object class = \"Sound\"", "line 2: the file holds a \"Sound\", not a TextGrid"},
        {1, "File type = \"ooBinaryFile\"", "line 1: the file type is \"ooBinaryFile\""},
        {1, "Type = \"ooTextFile\"", "line 1: this is not a TextGrid text file"},
        {6, "tiers? <maybe>", "line 6: expected \"<exists>\" or \"<absent>\""},
        {29, "points [2]:", "line 29: expected \"points [1]:\""},
        {30, "mark = \"x\"", "line 30: expected \"number =\" or \"time =\""},
        {9, "item [2]:", "line 9: expected \"item [1]:\""},
        {18, "text = \"a\xC3\"", "line 18: the text is not valid UTF-8"},
        {18, "text = \"a\xED\xA0\x80\"", "line 18: the text is not valid UTF-8"},
        {18, "text = \"a\xC0\xAF\"", "line 18: the text is not valid UTF-8"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(parse(withLine(c.line, c.replacement), error)) << c.replacement;
        EXPECT_EQ(error.rfind(c.expected, 0), 0u) << c.replacement << "\n  gave: " << error;
    }

    const std::string utf16 = textOf(
        formatTextGrid(smallGrid(), TextGridForm::Long, TextGridEncoding::Utf16LittleEndian));
    const std::string quoteA = std::string("\"\0a\0", 4);
    const std::pair<std::string, const char*> whole[] = {
        {"ooBinaryFile\x08TextGrid", "line 1: this is a binary TextGrid"},
        {utf16 + "x", "line 35: the file ends in the middle of a UTF-16 character"},
        {replaceAll(utf16, quoteA, std::string("\"\0\x00\xDC", 4)),
         "line 18: the text is not valid UTF-16 (a lone low surrogate)"},
        {replaceAll(utf16, quoteA, std::string("\"\0\x00\xD8", 4)),
         "line 18: the text is not valid UTF-16 (a lone high surrogate)"},
        {replaceAll(utf16, quoteA, std::string("\"\0\0\0", 4)), "line 18: the text holds a NUL"},
        {"", "line 1: this is not a TextGrid text file"},
        {withLine(18, "text = \"a\"") + "extra", "line 35: unexpected text after the last tier"},
    };
    for (const auto& [bytes, expected] : whole) {
        std::string error;
        EXPECT_FALSE(parse(bytes, error)) << expected;
        EXPECT_EQ(error.rfind(expected, 0), 0u) << expected << "\n  gave: " << error;
    }
}

TEST(TextGridRead, EveryCutOfAFileIsDeclinedWithItsLastLine)
{
    using F = TextGridForm;
    using E = TextGridEncoding;
    const std::pair<F, E> variants[] = {{F::Long, E::Utf8},
                                        {F::Short, E::Utf8},
                                        {F::Long, E::Utf16BigEndian},
                                        {F::Short, E::Utf16LittleEndian}};
    for (const auto& [form, encoding] : variants) {
        const auto bytes = formatTextGrid(smallGrid(), form, encoding);
        // The file is complete from its last closing quote on: only the
        // line ends after it may be cut.
        const std::size_t unit = encoding == E::Utf8 ? 1 : 2;
        std::size_t whole = bytes.size();
        const auto lastByte = [&](std::size_t end) {
            return bytes[encoding == E::Utf16BigEndian ? end - 1 : end - unit];
        };
        while (lastByte(whole) == ' ' || lastByte(whole) == '\n') {
            whole -= unit;
        }
        for (std::size_t size = 0; size < bytes.size(); ++size) {
            std::string error;
            const auto grid = parseTextGrid({bytes.data(), size}, error);
            if (size >= whole && size % unit == 0) {
                ASSERT_TRUE(grid) << size << ": " << error;
                EXPECT_EQ(*grid, smallGrid());
                continue;
            }
            ASSERT_FALSE(grid) << "cut at " << size;
            EXPECT_EQ(error.rfind("line ", 0), 0u) << error;
        }
    }
}

// --- files ---------------------------------------------------------------------------------

class TextGridFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() /
                ("phonaxis-textgrid-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }
    std::string path(const std::string& name) const { return (m_dir / name).string(); }

    // The sparse file past the read limit is the largest file written.
    test::RunawayGuard m_guard{kLargestTextGridBytes + (std::uint64_t{1} << 20),
                               std::chrono::seconds(120)};
    fs::path m_dir;
};

TEST_F(TextGridFiles, WrittenFilesReadBackAndBadFilesAreNamed)
{
    std::string error;
    ASSERT_TRUE(writeTextGridFile(praatGrid(), path("a.TextGrid"), TextGridForm::Short,
                                  TextGridEncoding::Utf16LittleEndian, error))
        << error;
    TextGridFileForm found;
    const auto grid = readTextGridFile(path("a.TextGrid"), error, &found);
    ASSERT_TRUE(grid) << error;
    EXPECT_EQ(*grid, praatGrid());
    EXPECT_EQ(found.encoding, TextGridEncoding::Utf16LittleEndian);

    EXPECT_FALSE(readTextGridFile(path("missing.TextGrid"), error));
    EXPECT_NE(error.find("missing.TextGrid"), std::string::npos) << error;

    std::ofstream(path("bad.TextGrid")) << withLine(17, "xmax = 0.7");
    EXPECT_FALSE(readTextGridFile(path("bad.TextGrid"), error));
    EXPECT_NE(error.find("bad.TextGrid\" cannot be read as a TextGrid: line 20: "),
              std::string::npos)
        << error;

    // A file past the limit is declined unread.
    ASSERT_TRUE(test::makeSparseFile(path("huge.TextGrid"),
                                     static_cast<off_t>(kLargestTextGridBytes + 1),
                                     "File type = \"ooTextFile\"\n"));
    EXPECT_TRUE(
        test::readsLittle([&] { EXPECT_FALSE(readTextGridFile(path("huge.TextGrid"), error)); }));
    EXPECT_NE(error.find("256 MB"), std::string::npos) << error;

    // A failed write leaves the old file as it was.
    EXPECT_FALSE(writeTextGridFile(praatGrid(), path("nowhere/a.TextGrid"), TextGridForm::Long,
                                   TextGridEncoding::Utf8, error));
}

// Praat reads the files written here: each tier, interval and point as this
// side wrote them.
TEST_F(TextGridFiles, PraatReadsTheWrittenFiles)
{
    if (std::system("command -v praat > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "praat is not installed";
    }
    TextGrid grid = praatGrid();
    grid.tiers[2].points.push_back({2.5, "é at the end"});
    // Praat's fixed$ writes a zero as "0".
    const auto fixed = [](double value) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.9f", value);
        return value == 0 ? std::string("0") : std::string(buffer);
    };
    std::string expected;
    for (const TextGridTier& tier : grid.tiers) {
        expected += "tier " + tier.name + (tier.isIntervalTier ? " intervals\n" : " points\n");
        for (const TextGridInterval& interval : tier.intervals) {
            expected += fixed(interval.xmin) + " " + fixed(interval.xmax) + " " +
                        replaceAll(interval.text, "\n", "\\n") + "\n";
        }
        for (const TextGridPoint& point : tier.points) {
            expected += fixed(point.time) + " " + replaceAll(point.mark, "\n", "\\n") + "\n";
        }
    }
    const std::string script = path("print.praat");
    std::ofstream(script) << R"(form Print
    sentence File x
endform
grid = Read from file: file$
tiers = Get number of tiers
for tier to tiers
    name$ = Get tier name: tier
    isInterval = Is interval tier: tier
    if isInterval
        appendInfoLine: "tier ", name$, " intervals"
        n = Get number of intervals: tier
        for i to n
            t1 = Get start time of interval: tier, i
            t2 = Get end time of interval: tier, i
            text$ = Get label of interval: tier, i
            appendInfoLine: fixed$(t1, 9), " ", fixed$(t2, 9), " ", replace$(text$, newline$, "\n", 0)
        endfor
    else
        appendInfoLine: "tier ", name$, " points"
        n = Get number of points: tier
        for i to n
            t = Get time of point: tier, i
            text$ = Get label of point: tier, i
            appendInfoLine: fixed$(t, 9), " ", replace$(text$, newline$, "\n", 0)
        endfor
    endif
endfor
)";
    using F = TextGridForm;
    using E = TextGridEncoding;
    const std::pair<F, E> variants[] = {{F::Long, E::Utf8},
                                        {F::Short, E::Utf8},
                                        {F::Long, E::Utf16BigEndian},
                                        {F::Short, E::Utf16LittleEndian}};
    for (const auto& [form, encoding] : variants) {
        std::string error;
        ASSERT_TRUE(writeTextGridFile(grid, path("grid.TextGrid"), form, encoding, error));
        const std::string out = path("out.txt");
        const int status = std::system(("timeout 60 praat --run '" + script + "' '" +
                                        path("grid.TextGrid") + "' > '" + out + "' 2>&1")
                                           .c_str());
        EXPECT_EQ(status, 0) << test::fileBytes(out);
        EXPECT_EQ(test::fileBytes(out), expected);
    }
}

} // namespace
} // namespace phonaxis
