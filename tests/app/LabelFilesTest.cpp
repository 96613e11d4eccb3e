// Labels to and from TextGrid files through the document window's File menu:
// the open panel and the Import Labels sheet answered by the test, Undo of an
// import, damaged files, and exports that read back with the same labels.
#include "support/ScriptedPrompts.h"
#include "support/TwoToneWav.h" // before Qt: its "signals" keyword is a macro

#include "app/LabelDialog.h"
#include "app/LabelExportSheet.h"
#include "app/LabelImportSheet.h"
#include "app/MainWindowController.h"
#include "app/QtPrompts.h"
#include "document/MyDocument.h"
#include "document/TextGrid.h"
#include "support/AppFixture.h"
#include "support/FileProbes.h"
#include "support/RunawayGuard.h"

#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <utility>
#include <vector>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;

constexpr double kNoEnd = std::numeric_limits<double>::quiet_NaN();

// A label's text, time and end (NaN: none), as the tests compare them.
struct LabelSeen {
    std::string text;
    double timeMs;
    double endMs;

    friend bool operator==(const LabelSeen& a, const LabelSeen& b)
    {
        const bool sameEnd =
            (std::isnan(a.endMs) && std::isnan(b.endMs)) || std::abs(a.endMs - b.endMs) < 1e-6;
        return a.text == b.text && std::abs(a.timeMs - b.timeMs) < 1e-6 && sameEnd;
    }
    friend std::ostream& operator<<(std::ostream& out, const LabelSeen& label)
    {
        return out << "{" << label.text << " " << label.timeMs << " " << label.endMs << "}";
    }
};

std::vector<LabelSeen> labelsOf(const Channels& channel)
{
    std::vector<LabelSeen> seen;
    for (const Labels& label : channel.m_pArrayLabels) {
        seen.push_back({label.getLabelText(), label.dTime, label.dEndTime});
    }
    return seen;
}

// Two tiers over one second: words (intervals, two of three with a text)
// and tones (two points).
TextGrid wordsAndTones()
{
    TextGrid grid;
    grid.xmax = 1.0;
    TextGridTier words;
    words.name = "words";
    words.xmax = 1.0;
    words.intervals = {{0.0, 0.25, "ba"}, {0.25, 0.5, ""}, {0.5, 1.0, "\"da\" & <b>"}};
    TextGridTier tones;
    tones.isIntervalTier = false;
    tones.name = "tones";
    tones.xmax = 1.0;
    tones.points = {{0.125, "H*"}, {0.75, "L%"}};
    grid.tiers = {words, tones};
    return grid;
}

class LabelFilesTest : public test::AppFixture {
protected:
    LabelFilesTest() : AppFixture("phonaxis-label-files-") {}

    // A shown window on a two-channel float WAV of one second at 11025 Hz.
    MainWindowController* openRecording()
    {
        const auto bytes = test::twoToneWav(prompts);
        return bytes ? openShown(*bytes, "two.wav") : nullptr;
    }

    fs::path writeFile(const std::string& name, const std::vector<std::uint8_t>& bytes)
    {
        const fs::path path = folder / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path;
    }

    // A bug that writes without end or waits for an answer fails the test.
    test::RunawayGuard guard{std::uint64_t{16} << 20, std::chrono::seconds(120)};
};

TEST_F(LabelFilesTest, ImportSendsTwoTiersToTheChosenChannelsAndUndoTakesThemBack)
{
    MainWindowController* window = openRecording();
    ASSERT_NE(window, nullptr);
    MyDocument& document = window->document();
    Labels kept;
    kept.dTime = 600.0;
    kept.setText("kept");
    document.getChannel(0).Add_Label_Cocoa(kept);
    const std::vector<LabelSeen> before0 = labelsOf(document.getChannel(0));
    EXPECT_TRUE(window->isCommandEnabled("_fileImportLabels:"));
    const fs::path grid =
        writeFile("take.TextGrid",
                  formatTextGrid(wordsAndTones(), TextGridForm::Long, TextGridEncoding::Utf8));

    // Cancel, and a sheet where every tier is "Do not import" (OK greyed),
    // change nothing.
    int sheets = 0;
    for (const bool importNothing : {false, true}) {
        prompts.openPanelReplies = {{grid.string()}};
        window->setSheetRunner([&](QDialog& dialog) {
            ++sheets;
            auto& sheet = dynamic_cast<LabelImportSheet&>(dialog);
            if (!importNothing) {
                return int(QDialog::Rejected);
            }
            sheet.choose(0, -1);
            sheet.choose(1, -1);
            EXPECT_FALSE(sheet.findChild<QPushButton*>("OK")->isEnabled());
            return int(QDialog::Accepted);
        });
        window->action("_fileImportLabels:")->trigger();
    }
    EXPECT_EQ(sheets, 2);
    EXPECT_EQ(labelsOf(document.getChannel(0)), before0);
    EXPECT_TRUE(document.getChannel(1).m_pArrayLabels.empty());
    EXPECT_EQ(document.changeCount(), 0);
    EXPECT_FALSE(window->isCommandEnabled("_EditUndo:"));

    // The sheet lists both tiers with the channels, each tier on its own
    // channel at first; the test sends them crosswise.
    prompts.openPanels.clear();
    prompts.openPanelReplies = {{grid.string()}};
    window->setSheetRunner([&](QDialog& dialog) {
        auto& sheet = dynamic_cast<LabelImportSheet&>(dialog);
        EXPECT_EQ(sheet.windowTitle(), "Import Labels");
        for (int tier = 0; tier < 2; ++tier) {
            QComboBox* choice = sheet.channelChoice(tier);
            EXPECT_EQ(choice->count(), 3);
            EXPECT_EQ(choice->itemText(2), "Do not import");
            EXPECT_EQ(choice->itemText(tier).toStdString(), document.getChannel(tier).GetTitle());
            EXPECT_EQ(choice->currentIndex(), tier);
        }
        EXPECT_EQ(sheet.channelChoice(0)->accessibleName(), "Channel for tier “words”");
        EXPECT_EQ(sheet.chosenLabelCount(), 4);
        sheet.choose(0, 1);
        sheet.channelChoice(1)->setCurrentIndex(0);
        return int(QDialog::Accepted);
    });
    window->action("_fileImportLabels:")->trigger();
    ASSERT_EQ(prompts.openPanels.size(), 1u);
    EXPECT_EQ(prompts.openPanels[0].types, std::vector<std::string>{"TextGrid"});

    std::vector<LabelSeen> imported0 = before0;
    imported0.push_back({"H*", 125.0, kNoEnd});
    imported0.push_back({"L%", 750.0, kNoEnd});
    const std::vector<LabelSeen> imported1 = {{"ba", 0.0, 250.0}, {"\"da\" & <b>", 500.0, 1000.0}};
    EXPECT_EQ(labelsOf(document.getChannel(0)), imported0);
    EXPECT_EQ(labelsOf(document.getChannel(1)), imported1);
    EXPECT_GT(document.changeCount(), 0);
    EXPECT_TRUE(window->isCommandEnabled("_fileExportLabels:"));

    ASSERT_TRUE(window->isCommandEnabled("_EditUndo:"));
    window->action("_EditUndo:")->trigger();
    EXPECT_EQ(labelsOf(document.getChannel(0)), before0);
    EXPECT_TRUE(document.getChannel(1).m_pArrayLabels.empty());
    EXPECT_FALSE(window->isCommandEnabled("_EditUndo:"));

    // An edit after an import takes its own backup: its undo gives back the
    // imported labels with the samples as they were.
    prompts.openPanelReplies = {{grid.string()}};
    window->setSheetRunner([](QDialog&) { return int(QDialog::Accepted); });
    window->action("_fileImportLabels:")->trigger();
    ASSERT_EQ(document.getChannel(1).m_pArrayLabels.size(), 2u);
    const float sample = document.getChannel(0).m_hData.data()[100];
    window->action("_EditSelectAll:")->trigger();
    window->action("_EditClear:")->trigger();
    EXPECT_NE(document.getChannel(0).m_hData.data()[100], sample);
    window->action("_EditUndo:")->trigger();
    EXPECT_EQ(document.getChannel(0).m_hData.data()[100], sample);
    EXPECT_EQ(labelsOf(document.getChannel(0)).size(), 3u);
    EXPECT_EQ(labelsOf(document.getChannel(1)).size(), 2u);
    EXPECT_TRUE(prompts.alerts.empty()) << prompts.alerts.front().title;
}

TEST_F(LabelFilesTest, AFileThatCannotBeReadIsToldAndChangesNothing)
{
    MainWindowController* window = openRecording();
    ASSERT_NE(window, nullptr);
    MyDocument& document = window->document();
    Labels kept;
    kept.dTime = 300.0;
    kept.setText("kept");
    document.getChannel(1).Add_Label_Cocoa(kept);
    const std::vector<std::uint8_t> good =
        formatTextGrid(wordsAndTones(), TextGridForm::Long, TextGridEncoding::Utf8);
    const std::string text = "just some words\n";
    TextGrid empty;
    empty.xmax = 1.0;

    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        const char* message; // the start of the alert's message
    };
    const Case cases[] = {
        {"words.TextGrid", {text.begin(), text.end()}, ""},
        {"cut.TextGrid", {good.begin(), good.begin() + std::ptrdiff_t(good.size() * 2 / 3)}, ""},
        {"empty.TextGrid", formatTextGrid(empty, TextGridForm::Short, TextGridEncoding::Utf8),
         "The file holds no tiers."},
        {"missing.TextGrid", {}, ""},
    };
    int sheets = 0;
    window->setSheetRunner([&](QDialog&) {
        ++sheets;
        return int(QDialog::Accepted);
    });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = folder / c.name;
        if (std::string(c.name) != "missing.TextGrid") {
            writeFile(c.name, c.bytes);
        }
        prompts.alerts.clear();
        prompts.openPanelReplies = {{path.string()}};
        window->action("_fileImportLabels:")->trigger();
        ASSERT_EQ(prompts.alerts.size(), 1u);
        EXPECT_EQ(prompts.alerts[0].title, "The labels could not be imported.");
        EXPECT_FALSE(prompts.alerts[0].message.empty());
        EXPECT_EQ(prompts.alerts[0].message.rfind(c.message, 0), 0u) << prompts.alerts[0].message;
        EXPECT_TRUE(document.getChannel(0).m_pArrayLabels.empty());
        EXPECT_EQ(labelsOf(document.getChannel(1)),
                  (std::vector<LabelSeen>{{"kept", 300.0, kNoEnd}}));
        EXPECT_EQ(document.changeCount(), 0);
        EXPECT_FALSE(window->isCommandEnabled("_EditUndo:"));
    }
    EXPECT_EQ(sheets, 0);
}

TEST_F(LabelFilesTest, ExportWritesAGridThatReadsBackWithTheSameLabels)
{
    MainWindowController* window = openRecording();
    ASSERT_NE(window, nullptr);
    MyDocument& document = window->document();
    EXPECT_FALSE(window->isCommandEnabled("_fileExportLabels:"));
    const auto add = [&](int channel, const char* text, double timeMs, double endMs) {
        Labels label;
        label.dTime = timeMs;
        label.dEndTime = endMs;
        label.setText(text);
        document.getChannel(channel).Add_Label_Cocoa(label);
    };
    add(0, "ba", 100.0, 300.0);
    add(0, "é \"q\"", 500.0, kNoEnd);
    add(1, "H*", 250.0, kNoEnd);
    window->refreshCommands();
    ASSERT_TRUE(window->isCommandEnabled("_fileExportLabels:"));

    struct Case {
        const char* kind;
        const char* form;
        const char* encoding;
        ExportedTierKind expectedKind;
        TextGridFileForm expectedFile;
    };
    // clang-format off
    const Case cases[] = {
        {"intervals", "longForm", "utf8", ExportedTierKind::Intervals,
         {TextGridForm::Long, TextGridEncoding::Utf8, false}},
        {"points", "shortForm", "utf16", ExportedTierKind::Points,
         {TextGridForm::Short, TextGridEncoding::Utf16BigEndian, true}},
        {"intervals", "shortForm", "utf8", ExportedTierKind::Intervals,
         {TextGridForm::Short, TextGridEncoding::Utf8, false}},
        {"asLabels", "longForm", "utf8", ExportedTierKind::AsLabels,
         {TextGridForm::Long, TextGridEncoding::Utf8, false}},
    };
    // clang-format on
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.kind) + " " + c.form + " " + c.encoding);
        const fs::path path = folder / ("out" + std::to_string(++number) + ".TextGrid");
        prompts.savePanels.clear();
        prompts.savePanelReplies = {path.string()};
        window->setSheetRunner([&](QDialog& dialog) {
            auto& sheet = dynamic_cast<LabelExportSheet&>(dialog);
            // The defaults: the tiers as the labels came, the long form, UTF-8.
            EXPECT_TRUE(sheet.button("asLabels")->isChecked());
            EXPECT_TRUE(sheet.button("longForm")->isChecked());
            EXPECT_TRUE(sheet.button("utf8")->isChecked());
            sheet.button(c.kind)->setChecked(true);
            sheet.button(c.form)->setChecked(true);
            sheet.button(c.encoding)->setChecked(true);
            return int(QDialog::Accepted);
        });
        window->action("_fileExportLabels:")->trigger();
        EXPECT_TRUE(prompts.alerts.empty());
        ASSERT_EQ(prompts.savePanels.size(), 1u);
        EXPECT_EQ(prompts.savePanels[0].proposedName, "two.TextGrid");

        std::string error;
        TextGridFileForm found;
        const std::optional<TextGrid> grid = readTextGridFile(path.string(), error, &found);
        ASSERT_TRUE(grid.has_value()) << error;
        EXPECT_EQ(found.form, c.expectedFile.form);
        EXPECT_EQ(found.encoding, c.expectedFile.encoding);
        ASSERT_EQ(grid->tiers.size(), 2u);
        EXPECT_EQ(grid->tiers[0].name, document.getChannel(0).GetTitle());
        // The tiers give the labels back.
        const auto labelsFrom = [](const TextGridTier& tier) {
            std::vector<LabelSeen> seen;
            for (const LabelTransfer& record : labelsFromTier(tier, 0.0, QtTextMeasurer())) {
                seen.push_back({transferText(record), record.dTime, record.dEndTime});
            }
            return seen;
        };
        // As the labels came: channel 0's have an interval's end, channel 1's not.
        const bool intervals = c.expectedKind == ExportedTierKind::Intervals;
        const bool firstIntervals = intervals || c.expectedKind == ExportedTierKind::AsLabels;
        EXPECT_EQ(grid->tiers[0].isIntervalTier, firstIntervals);
        EXPECT_EQ(grid->tiers[1].isIntervalTier, intervals);
        EXPECT_EQ(labelsFrom(grid->tiers[0]),
                  (std::vector<LabelSeen>{{"ba", 100.0, firstIntervals ? 300.0 : kNoEnd},
                                          {"é \"q\"", 500.0, firstIntervals ? 1000.0 : kNoEnd}}));
        EXPECT_EQ(labelsFrom(grid->tiers[1]),
                  (std::vector<LabelSeen>{{"H*", 250.0, intervals ? 1000.0 : kNoEnd}}));
    }
    EXPECT_EQ(document.changeCount(), 0);

    // The recording itself is never replaced by its labels.
    const fs::path recording = folder / "two.wav";
    const std::string bytes = test::fileBytes(recording);
    prompts.savePanelReplies = {recording.string()};
    window->setSheetRunner([](QDialog&) { return int(QDialog::Accepted); });
    window->action("_fileExportLabels:")->trigger();
    ASSERT_EQ(prompts.alerts.size(), 1u);
    EXPECT_EQ(prompts.alerts[0].title, "The labels could not be exported.");
    EXPECT_EQ(test::fileBytes(recording), bytes);
}

TEST(QtPromptsTest, ATextGridPanelAddsItsExtensionUnlessAllFilesIsChosen)
{
    struct Case {
        int filter;        // 0: TextGrid files, 1: All files
        const char* typed; // the name typed
        const char* expected;
    };
    const Case cases[] = {
        {0, "words", "words.TextGrid"},
        {0, "words.textgrid", "words.textgrid"},
        {0, "words.txt", "words.txt.TextGrid"},
        {1, "words.txt", "words.txt"},
    };
    const QTemporaryDir scratch;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        QStringList filters;
        QtPrompts panels(nullptr, [&](QDialog& dialog) {
            auto& panel = static_cast<QFileDialog&>(dialog);
            filters = panel.nameFilters();
            panel.selectNameFilter(filters.value(c.filter));
            panel.selectFile(scratch.path() + QLatin1Char('/') + QLatin1String(c.typed));
            return int(QDialog::Accepted);
        });
        SavePanelRequest request;
        request.requiredType = "TextGrid";
        request.typeName = "TextGrid files";
        request.allFiles = true;
        request.directory = scratch.path().toStdString();
        const auto chosen = panels.savePanel(request);
        EXPECT_EQ(filters, QStringList({"TextGrid files (*.TextGrid)", "All files (*)"}));
        ASSERT_TRUE(chosen.has_value());
        EXPECT_EQ(QFileInfo(QString::fromStdString(*chosen)).fileName().toStdString(), c.expected);
    }
}

} // namespace
} // namespace phonaxis
