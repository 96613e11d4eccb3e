// The settings panels, the configuration commands and the derived-track
// commands, driven through the main window's menus.
#include "Signals.h" // before Qt: its "signals" keyword is a macro
#include "support/EggRecording.h"
#include "support/TwoToneWav.h"
#include "support/ScriptedPrompts.h"

namespace {

using phonaxis::test::EggRecording;
using phonaxis::test::eggRecording;

} // namespace

#include "app/Application.h"
#include "app/LogController.h"
#include "app/MainWindowController.h"
#include "app/panels/CalibrationPanel.h"
#include "app/panels/DisplayPanel.h"
#include "app/panels/EggPanel.h"
#include "app/panels/IntensitySmoothPanel.h"
#include "app/panels/ZoomPanel.h"
#include "display/ProgressWork.h"
#include "document/AppSettings.h"
#include "document/Configuration.h"
#include "document/FileIO.h"
#include "document/MyDocument.h"
#include "support/AppFixture.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <tuple>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;

class PanelsTest : public test::AppFixture {
protected:
    PanelsTest() : AppFixture("phonaxis-panels-") {}

    // A window on a two-channel float recording saved as `name`; a ".pmf"
    // name gives a native document, which keeps an undo backup.
    MainWindowController* openRecording(const std::string& name = "two.wav")
    {
        const auto bytes = test::twoToneWav(prompts, 200.0);
        const fs::path wav = folder / "two.wav";
        std::ofstream(wav, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes->data()), std::streamsize(bytes->size()));
        MainWindowController* window = application->openPath(QString::fromStdString(wav.string()));
        if (window == nullptr || name == "two.wav") {
            return window;
        }
        prompts.savePanelReplies.push_back((folder / name).string());
        window->saveDocumentAs();
        window->close();
        return application->openPath(QString::fromStdString((folder / name).string()));
    }

    // The application configuration as written at launch.
    void writeApplicationConfiguration() { ASSERT_TRUE(ReadConfig(settings)); }

    std::optional<Configuration> applicationConfiguration() const
    {
        FileContents contents;
        std::string error;
        if (!contents.open(settings.configPath(), error)) {
            return std::nullopt;
        }
        return Configuration::fromBytes(contents.bytes());
    }

};

// One panel edit: the command, what the user changes, and what OK must
// leave in the document and at the configuration offsets.
struct PanelCase {
    const char* command;
    std::function<void(SettingsPanel&)> edit;
    std::function<void(const MyDocument&)> checkDocument;
    std::function<void(const Configuration&)> checkConfiguration;
};

QTableWidget& tableOf(SettingsPanel& panel)
{
    return *panel.findChild<QTableWidget*>("channels");
}

const PanelCase kPanelCases[] = {
    {"_OptionsDisplay:",
     [](SettingsPanel& panel) {
         QTableWidget& table = tableOf(panel);
         EXPECT_EQ(table.horizontalHeaderItem(DisplayPanel::kHeigth)->text(), "Heigth");
         EXPECT_FALSE(table.item(1, DisplayPanel::kRow)->flags() & Qt::ItemIsEditable);
         table.item(1, DisplayPanel::kName)->setText("EGG");
         table.item(1, DisplayPanel::kShow)->setCheckState(Qt::Unchecked);
         table.item(0, DisplayPanel::kHeigth)->setText("150");
         table.item(0, DisplayPanel::kDrawRef)->setCheckState(Qt::Unchecked);
         panel.findChild<QCheckBox*>("trackMouse")->setChecked(false);
         panel.findChild<QCheckBox*>("color")->setChecked(true);
         panel.findChild<QDoubleSpinBox*>("width")->setValue(7.5);
     },
     [](const MyDocument& document) {
         EXPECT_EQ(document.getChannel(1).GetTitle(), "EGG");
         EXPECT_FALSE(document.getChannel(1).m_bShow);
         EXPECT_EQ(document.getChannel(0).m_nHeigth, 150);
         EXPECT_EQ(document.getChannel(1).m_nHeigth, 100);
         EXPECT_FALSE(document.getChannel(0).m_bDrawReference);
         EXPECT_FALSE(document.m_bTrackMouse);
         EXPECT_TRUE(document.m_bColor);
         EXPECT_DOUBLE_EQ(document.m_dWidth, 7.5);
     },
     [](const Configuration& record) {
         EXPECT_DOUBLE_EQ(record.getDouble(1056), 7.5);
         EXPECT_EQ(record.getInt32(1072), 0); // track mouse
         EXPECT_EQ(record.getInt32(1084), 1); // colour
     }},
    {"_OptionsZoom:",
     [](SettingsPanel& panel) { panel.findChild<QDoubleSpinBox*>("zoomRange")->setValue(250.75); },
     [](const MyDocument& document) { EXPECT_DOUBLE_EQ(document.m_dZoomRange, 250.75); },
     [](const Configuration& record) { EXPECT_EQ(record.getInt32(1092), 250); }},
    {"_OptionsCalibration:",
     [](SettingsPanel& panel) {
         QTableWidget& table = tableOf(panel);
         EXPECT_EQ(table.item(0, CalibrationPanel::kC)->text(), "1.00000");
         EXPECT_FALSE(table.item(0, CalibrationPanel::kName)->flags() & Qt::ItemIsEditable);
         table.item(0, CalibrationPanel::kA)->setText("0.1");
         table.item(1, CalibrationPanel::kD)->setText("-2.5");
         table.item(1, CalibrationPanel::kUnit)->setText(QString(40, QChar('m')));
     },
     [](const MyDocument& document) {
         EXPECT_EQ(document.getChannel(0).m_dA3Cal, static_cast<double>(0.1f));
         EXPECT_DOUBLE_EQ(document.getChannel(1).m_dD0Cal, -2.5);
         EXPECT_DOUBLE_EQ(document.getChannel(1).m_dC1Cal, 1.0);
         EXPECT_EQ(document.getChannel(1).GetUnit(), std::string(40, 'm'));
     },
     [](const Configuration& record) {
         EXPECT_EQ(record.getDouble(1736), static_cast<double>(0.1f));
         EXPECT_DOUBLE_EQ(record.getDouble(2120 + 8), -2.5);
         EXPECT_DOUBLE_EQ(record.getDouble(1992 + 8), 1.0);
         EXPECT_EQ(record.getText(2248 + 32, 32), std::string(31, 'm'));
         EXPECT_EQ(record.getText(2248 + 2 * 32, 32), "normalized"); // unused slot
     }},
    {"_OptionsIntensitySmooth:",
     [](SettingsPanel& panel) {
         QTableWidget& table = tableOf(panel);
         EXPECT_EQ(table.item(0, IntensitySmoothPanel::kWindow)->text(), "30");
         table.item(0, IntensitySmoothPanel::kWindow)->setText("12.5");
         table.item(1, IntensitySmoothPanel::kStep)->setText("0"); // refused: stays 10
         table.item(1, IntensitySmoothPanel::kSmoothDo)->setCheckState(Qt::Checked);
         table.item(1, IntensitySmoothPanel::kPoints)->setText("1001"); // refused: stays 5
         table.item(0, IntensitySmoothPanel::kPoints)->setText("9");
     },
     [](const MyDocument& document) {
         EXPECT_DOUBLE_EQ(document.getChannel(0).m_dIntensityWindowLengthMS, 12.5);
         EXPECT_DOUBLE_EQ(document.getChannel(1).m_dIntensityStepSizeMS, 10.0);
         EXPECT_TRUE(document.getChannel(1).m_bSmoothDo);
         EXPECT_DOUBLE_EQ(document.getChannel(1).m_dSmoothNumOfPoints, 5.0);
         EXPECT_DOUBLE_EQ(document.getChannel(0).m_dSmoothNumOfPoints, 9.0);
     },
     [](const Configuration& record) {
         EXPECT_EQ(record.getInt32(1176), 12);     // window, fraction dropped
         EXPECT_EQ(record.getInt32(1240 + 4), 10); // step of channel 1
         EXPECT_EQ(record.getInt32(1368 + 4), 1);  // smoothing on, channel 1
         EXPECT_EQ(record.getInt32(1432), 9);
         EXPECT_EQ(record.getInt32(1432 + 4), 5);
     }},
    {"_OptionsLog:",
     [](SettingsPanel& panel) {
         panel.findChild<QLineEdit*>("_dataStepSize")->setText("2.5");
         panel.findChild<QLineEdit*>("_fftlpcStepSize")->setText("20");
     },
     [](const MyDocument& document) {
         EXPECT_DOUBLE_EQ(document.m_dLogStepSize, 2.5);
         EXPECT_EQ(document.m_nFFTFrameInterval, 20);
     },
     [](const Configuration& record) {
         EXPECT_DOUBLE_EQ(record.getDouble(2760), 2.5);
         EXPECT_EQ(record.getInt32(1172), 20);
     }},
};

TEST_F(PanelsTest, OkSavesIntoTheDocumentAndTheConfigurationCancelChangesNeither)
{
    writeApplicationConfiguration();
    for (const PanelCase& test : kPanelCases) {
        SCOPED_TRACE(test.command);
        MainWindowController* window = openRecording();
        ASSERT_NE(window, nullptr);
        const auto before = applicationConfiguration();
        ASSERT_TRUE(before.has_value());

        // Cancel after the same edits: nothing changes anywhere.
        window->setPanelDriver([&](SettingsPanel& panel) {
            test.edit(panel);
            panel.pressCancel();
        });
        const auto fingerprint = [](const MyDocument& document) {
            const Channels& channel = document.getChannel(1);
            return std::make_tuple(document.changeCount(), document.m_dZoomRange, document.m_dWidth,
                                   document.m_bTrackMouse, channel.GetTitle(), channel.m_nHeigth,
                                   channel.m_bShow, channel.m_dD0Cal, channel.GetUnit(),
                                   document.getChannel(0).m_dA3Cal,
                                   document.getChannel(0).m_dIntensityWindowLengthMS,
                                   channel.m_bSmoothDo, document.m_dLogStepSize,
                                   document.m_nFFTFrameInterval);
        };
        const auto unchanged = fingerprint(window->document());
        window->action(test.command)->trigger();
        EXPECT_EQ(applicationConfiguration(), before);
        EXPECT_EQ(fingerprint(window->document()), unchanged);

        int code = 0;
        window->setPanelDriver([&](SettingsPanel& panel) {
            test.edit(panel);
            panel.pressOK();
            code = panel.result();
        });
        window->action(test.command)->trigger();
        EXPECT_EQ(code, SettingsPanel::kOK);
        test.checkDocument(window->document());
        const auto after = applicationConfiguration();
        ASSERT_TRUE(after.has_value());
        test.checkConfiguration(*after);
        window->document().clearChangeCount();
        window->close();
    }
}

// The display panel owns the seven document settings from width (1056) to
// inches (1088); OK rewrites exactly those bytes, little-endian.
TEST_F(PanelsTest, DisplayPanelWritesItsSevenSettingsAndNoOtherBytes)
{
    writeApplicationConfiguration();
    MainWindowController* window = openRecording();
    ASSERT_NE(window, nullptr);
    const auto readBytes = [&] {
        std::ifstream in(settings.configPath(), std::ios::binary);
        return std::vector<unsigned char>(std::istreambuf_iterator<char>(in),
                                          std::istreambuf_iterator<char>());
    };
    const std::vector<unsigned char> before = readBytes();
    ASSERT_GE(before.size(), 1092u);
    const MyDocument& document = window->document();
    const bool timeGrid = document.m_bDrawTimeGrid;
    const auto edit = [&](SettingsPanel& panel) {
        panel.findChild<QDoubleSpinBox*>("width")->setValue(7.25);
        panel.findChild<QDoubleSpinBox*>("height")->setValue(3.5);
        panel.findChild<QCheckBox*>("trackMouse")->setChecked(false);
        panel.findChild<QCheckBox*>("drawTimeGrid")->setChecked(!timeGrid);
        panel.findChild<QSpinBox*>("timeGridSpacing")->setValue(25);
        panel.findChild<QCheckBox*>("color")->setChecked(true);
        panel.findChild<QRadioButton*>("centimeters")->setChecked(true);
    };
    window->setPanelDriver([&](SettingsPanel& panel) {
        edit(panel);
        panel.pressCancel();
    });
    EXPECT_EQ(window->OptionsDisplay(), SettingsPanel::kCancel);
    EXPECT_EQ(readBytes(), before);
    EXPECT_EQ(document.m_bDrawTimeGrid, timeGrid);
    EXPECT_NE(document.m_dHeight, 3.5);

    window->setPanelDriver([&](SettingsPanel& panel) {
        edit(panel);
        panel.pressOK();
    });
    EXPECT_EQ(window->OptionsDisplay(), SettingsPanel::kOK);
    EXPECT_FALSE(document.m_bInches);
    EXPECT_EQ(document.m_nTimeGridSpacing, 25);
    std::vector<unsigned char> expected = before;
    const auto put = [&](std::size_t offset, const void* value, std::size_t size) {
        std::memcpy(expected.data() + offset, value, size); // the host is little-endian
    };
    const double width = 7.25, height = 3.5;
    const std::int32_t ints[] = {0, timeGrid ? 0 : 1, 25, 1, 0}; // 1072 .. 1088
    put(1056, &width, 8);
    put(1064, &height, 8);
    for (std::size_t i = 0; i < 5; ++i) {
        put(1072 + 4 * i, &ints[i], 4);
    }
    EXPECT_EQ(readBytes(), expected);
}

// A damaged entry is refused with a message when OK is pressed: the panel
// stays open, and nothing reaches the document.
TEST_F(PanelsTest, OkRefusesDamagedEntriesAndKeepsThePanelOpen)
{
    struct Case {
        const char* command;
        std::function<void(SettingsPanel&)> damage;
        const char* alertTitle;
    };
    const Case cases[] = {
        {"_OptionsDisplay:",
         [](SettingsPanel& panel) { tableOf(panel).item(1, DisplayPanel::kHeigth)->setText("-4"); },
         "The height is not valid."},
        {"_OptionsCalibration:",
         [](SettingsPanel& panel) { tableOf(panel).item(0, CalibrationPanel::kD)->setText("x1"); },
         "The calibration is not valid."},
        {"_OptionsEGG:",
         [](SettingsPanel& panel) {
             panel.findChild<QLineEdit*>("_VelocitySmoothWindow")->setText("-3");
         },
         "The EGG settings are not valid."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        MainWindowController* window = openRecording();
        ASSERT_NE(window, nullptr);
        window->document().m_nEGGChannelIndex = 1;
        window->refreshCommands();
        const Channels& channel = window->document().getChannel(1);
        const auto before = std::make_tuple(channel.m_nHeigth, window->document().getChannel(0).m_dD0Cal,
                                            channel.m_dVelocitySmoothingWindow);
        prompts.alerts.clear();
        bool stayedOpen = false;
        window->setPanelDriver([&](SettingsPanel& panel) {
            c.damage(panel);
            panel.pressOK();
            stayedOpen = panel.isVisible();
            panel.pressCancel();
        });
        window->action(c.command)->trigger();
        EXPECT_TRUE(stayedOpen);
        ASSERT_EQ(prompts.alerts.size(), 1u);
        EXPECT_EQ(prompts.alerts[0].title, c.alertTitle);
        EXPECT_EQ(std::make_tuple(channel.m_nHeigth, window->document().getChannel(0).m_dD0Cal,
                                  channel.m_dVelocitySmoothingWindow),
                  before);
        window->document().clearChangeCount();
        window->close();
    }
}

TEST_F(PanelsTest, AClickAnywhereInACheckCellTogglesIt)
{
    MainWindowController* window = openRecording();
    ASSERT_NE(window, nullptr);
    window->setPanelDriver([](SettingsPanel& panel) {
        QTableWidget& table = tableOf(panel);
        // Show in its centre (once), the others near a corner (there and back).
        for (const int column :
             {DisplayPanel::kShow, DisplayPanel::kDrawRef, DisplayPanel::kDrawInt}) {
            QTableWidgetItem* cell = table.item(0, column);
            const QRect box = table.visualItemRect(cell);
            const QPoint at =
                column == DisplayPanel::kShow ? box.center() : box.bottomRight() - QPoint(2, 2);
            for (const Qt::CheckState state : {Qt::Unchecked, Qt::Checked}) {
                QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, at);
                EXPECT_EQ(cell->checkState(), state) << column;
                if (column == DisplayPanel::kShow) {
                    break;
                }
            }
        }
        EXPECT_TRUE(table.item(0, DisplayPanel::kName)->flags() & Qt::ItemIsEditable);
        panel.pressOK();
    });
    Channels& channel = window->document().getChannel(0);
    channel.m_bShow = channel.m_bDrawReference = channel.m_bDrawIntensity = true;
    ASSERT_EQ(window->OptionsDisplay(), SettingsPanel::kOK);
    EXPECT_FALSE(channel.m_bShow);
    EXPECT_TRUE(channel.m_bDrawReference && channel.m_bDrawIntensity);
}

TEST_F(PanelsTest, IntensitySmoothRefusesWithItsAlerts)
{
    // The recording is 200 ms long: a window or step up to that is accepted.
    const struct {
        int column;
        const char* largest;
        const char* refused;
        const char* title;
        const char* message;
    } cases[] = {
        {IntensitySmoothPanel::kPoints, "1000", "1001", "points are too big.",
         "Maximun allowed is 1000"},
        {IntensitySmoothPanel::kWindow, "200", "200.5", "window is too long.",
         "Maximum allowed is the channel's length, 200 ms"},
        {IntensitySmoothPanel::kStep, "200", "500000", "step is too long.",
         "Maximum allowed is the channel's length, 200 ms"},
    };
    MainWindowController* window = openRecording();
    ASSERT_NE(window, nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.refused);
        prompts.alerts.clear();
        QString kept;
        window->setPanelDriver([&](SettingsPanel& panel) {
            QTableWidgetItem* cell = tableOf(panel).item(0, c.column);
            cell->setText(c.largest);
            cell->setText(c.refused);
            kept = cell->text();
            panel.pressOK();
        });
        window->OptionsIntensitySmooth();
        ASSERT_EQ(prompts.alerts.size(), 1u);
        EXPECT_EQ(prompts.alerts[0].title, c.title);
        EXPECT_EQ(prompts.alerts[0].message, c.message);
        EXPECT_EQ(prompts.alerts[0].defaultButton, "ok");
        EXPECT_EQ(kept, c.largest);
    }
    const Channels& channel = window->document().getChannel(0);
    EXPECT_EQ(channel.m_dIntensityWindowLengthMS, 200.0);
    EXPECT_EQ(channel.m_dIntensityStepSizeMS, 200.0);
}

TEST_F(PanelsTest, CalibrationReopensAtSinglePrecisionAndWithoutAConfigurationWritesNothing)
{
    MainWindowController* window = openRecording();
    ASSERT_NE(window, nullptr);
    window->setPanelDriver([](SettingsPanel& panel) {
        tableOf(panel).item(0, CalibrationPanel::kA)->setText("0.1");
        panel.pressOK();
        EXPECT_EQ(panel.lastPatch(), PatchResult::NoFile);
    });
    EXPECT_EQ(window->OptionsCalibration(), SettingsPanel::kOK);
    EXPECT_FALSE(fs::exists(settings.configPath()));
    EXPECT_EQ(window->document().getChannel(0).m_dA3Cal, static_cast<double>(0.1f));

    QString shown;
    window->setPanelDriver([&](SettingsPanel& panel) {
        shown = tableOf(panel).item(0, CalibrationPanel::kA)->text();
    }); // left open: ends as Cancel
    EXPECT_EQ(window->OptionsCalibration(), SettingsPanel::kCancel);
    EXPECT_EQ(shown, "0.10000");
}

// The sheets show rounded values; OK without an edit must not store the
// rounding (a small coefficient would become 0, 12.5 ms would become 12).
TEST_F(PanelsTest, OkWithoutEditsKeepsValuesTheCellsShowRounded)
{
    MainWindowController* window = openRecording();
    ASSERT_NE(window, nullptr);
    Channels& channel = window->document().getChannel(0);
    channel.m_dA3Cal = 3e-7;
    channel.m_dIntensityWindowLengthMS = 12.5;
    window->setPanelDriver([](SettingsPanel& panel) { panel.pressOK(); });
    EXPECT_EQ(window->OptionsCalibration(), SettingsPanel::kOK);
    EXPECT_EQ(channel.m_dA3Cal, 3e-7);
    EXPECT_EQ(window->OptionsIntensitySmooth(), SettingsPanel::kOK);
    EXPECT_EQ(channel.m_dIntensityWindowLengthMS, 12.5);
}

TEST_F(PanelsTest, SmoothingFromTheMenuAsksFirstAndUndoRestoresTheSamples)
{
    MainWindowController* window = openRecording("two.pmf");
    ASSERT_NE(window, nullptr);
    MyDocument& document = window->document();
    Channels& channel = document.getChannel(0);
    channel.m_bSmoothDo = true;
    const auto count = static_cast<std::size_t>(channel.m_dwFileLength);
    const std::vector<float> original(channel.m_hData.data(), channel.m_hData.data() + count);
    const auto samples = [&] {
        return std::vector<float>(channel.m_hData.data(), channel.m_hData.data() + count);
    };

    prompts.alertReplies.push_back(-1); // Cancel
    window->action("_AnalysisSmooth:")->trigger();
    ASSERT_EQ(prompts.alerts.size(), 1u);
    EXPECT_EQ(prompts.alerts[0].title, "Do you wish to continue before saving?");
    EXPECT_EQ(prompts.alerts[0].alternateButton, "Replace data");
    EXPECT_EQ(samples(), original);

    prompts.alertReplies.push_back(0); // Replace data
    window->action("_AnalysisSmooth:")->trigger();
    EXPECT_NE(samples(), original);
    EXPECT_GT(document.changeCount(), 0);
    ASSERT_TRUE(window->isCommandEnabled("_EditUndo:"));

    window->action("_EditUndo:")->trigger();
    EXPECT_EQ(samples(), original);
}

TEST_F(PanelsTest, IntensityFromTheMenuComputesEveryChannelAndACancelKeepsThemAsTheyWere)
{
    MainWindowController* window = openRecording();
    ASSERT_NE(window, nullptr);
    MyDocument& document = window->document();
    window->action("_AnalysisIntensity:")->trigger();
    const auto tracks = [&] {
        std::vector<std::vector<float>> both;
        for (int index = 0; index < 2; ++index) {
            const FloatTrack& track = document.getChannel(index).m_hfDataIntensity;
            both.emplace_back(track.span().begin(), track.span().end());
        }
        return both;
    };
    const auto before = tracks();
    document.getChannel(0).m_dIntensityStepSizeMS = 1.0;
    document.getChannel(1).m_dIntensityStepSizeMS = 1.0;
    document.getChannel(1).m_bDrawIntensity = false;

    // Cancelled at the second channel: the first one's new track is not taken.
    std::vector<double> heard;
    window->setProgressDriver([&](double fraction) {
        heard.push_back(fraction);
        return heard.size() < 2;
    });
    window->action("_AnalysisIntensity:")->trigger();
    EXPECT_EQ(heard, (std::vector<double>{0.0, 0.5})); // the channels are equally long
    EXPECT_EQ(tracks(), before);
    EXPECT_FALSE(document.getChannel(1).m_bDrawIntensity);

    window->setProgressDriver([](double) { return true; });
    window->action("_AnalysisIntensity:")->trigger();
    const auto after = tracks();
    EXPECT_NE(after[0], before[0]);
    EXPECT_NE(after[1], before[1]);
    EXPECT_TRUE(document.getChannel(1).m_bDrawIntensity);
    for (int index = 0; index < 2; ++index) {
        const Channels& channel = document.getChannel(index);
        EXPECT_TRUE(channel.m_bHaveIntensity);
        EXPECT_GT(channel.m_dIntensityMax, channel.m_dIntensityMin);
    }
}

TEST_F(PanelsTest, ProgressDialogAppearsWithItsLabelAndCancelStopsTheWork)
{
    QWidget owner;
    ProgressWork work(&owner, "Computing the intensity tracks…", {}, 0);
    EXPECT_FALSE(work.dialog()->isVisible()); // not before the work has reported
    QString shown;
    QTimer::singleShot(0, [&] {
        shown = work.dialog()->labelText();
        work.dialog()->findChild<QPushButton*>()->click();
    });
    int reports = 0;
    while (reports < 100 && work.progress().report(reports / 100.0)) {
        ++reports;
    }
    EXPECT_LT(reports, 100);
    EXPECT_EQ(shown, "Computing the intensity tracks…");
    EXPECT_FALSE(work.progress().report(1.0)); // stopped for good

    // Work that ends before the delay shows nothing.
    ProgressWork quick(&owner, "Quick", {}, 60000);
    for (int i = 0; i <= 100; ++i) {
        ASSERT_TRUE(quick.progress().report(i / 100.0));
    }
    EXPECT_FALSE(quick.dialog()->isVisible());
}

TEST_F(PanelsTest, EggChannelFromTheChooserThenAnalysisFindsTheKnownCycles)
{
    const EggRecording recording = eggRecording(prompts);
    const fs::path path = folder / "egg.wav";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(recording.wav->data()),
               std::streamsize(recording.wav->size()));
    MainWindowController* window = application->openPath(QString::fromStdString(path.string()));
    ASSERT_NE(window, nullptr);
    MyDocument& document = window->document();
    EXPECT_FALSE(window->isCommandEnabled("_EggAnalysisall:"));
    EXPECT_FALSE(window->isCommandEnabled("_OptionsEGG:"));

    prompts.channelReplies.push_back(2); // "None", audio, EGG
    window->action("_EGGChannelSelect:")->trigger();
    ASSERT_EQ(prompts.channelChoices.size(), 1u);
    EXPECT_EQ(prompts.channelChoices[0].note, "Assign EGG channel");
    EXPECT_EQ(prompts.channelChoices[0].items.front(), "None");
    ASSERT_EQ(document.m_nEGGChannelIndex, 1);
    window->refreshCommands();
    EXPECT_EQ(window->action("_EGGChannelSelect:")->text().toStdString(),
              "Assign channel for EGG: " + document.getChannel(1).GetTitle());

    // The threshold the truth was built for, set through the EGG panel,
    // which has no place in the configuration.
    writeApplicationConfiguration();
    const auto configuration = applicationConfiguration();
    window->setPanelDriver([](SettingsPanel& panel) {
        panel.findChild<QLineEdit*>("_ThresholdPerCent")->setText("25.0");
        panel.pressOK();
    });
    ASSERT_TRUE(window->isCommandEnabled("_OptionsEGG:"));
    EXPECT_EQ(window->OptionsEGG(), SettingsPanel::kOK);
    EXPECT_EQ(applicationConfiguration(), configuration);
    const Channels& egg = document.getChannel(1);
    EXPECT_DOUBLE_EQ(egg.m_dVelocitySmoothingWindow, 0.5);

    // Stopped at its first report, the analysis leaves nothing and says nothing.
    window->setProgressDriver([](double) { return false; });
    window->action("_EggAnalysisall:")->trigger();
    EXPECT_FALSE(egg.m_bHaveCycle);
    EXPECT_TRUE(prompts.alerts.empty());
    window->setProgressDriver([](double) { return true; });
    window->action("_EggAnalysisall:")->trigger();
    ASSERT_TRUE(egg.m_bHaveCycle);
    EXPECT_TRUE(egg.m_bDrawPeak && egg.m_bDrawValley && egg.m_bDrawCycleThreshold);
    const auto& truth = recording.egg.cycles;
    ASSERT_GE(egg.m_pArrayCycle.size() + 4, truth.size());
    std::size_t matched = 0;
    for (const ArrayCycle& cycle : egg.m_pArrayCycle) {
        for (const auto& known : truth) {
            matched += cycle.dFilePointP1 == double(known.contactIndex) &&
                       cycle.dFilePointP2 == double(known.decontactIndex);
        }
    }
    EXPECT_GE(matched + 1, egg.m_pArrayCycle.size());
}

TEST_F(PanelsTest, LogOptionsRefuseANonPositiveStepAndTheLogMenuAppendsEntries)
{
    MainWindowController* window = openRecording();
    ASSERT_NE(window, nullptr);
    bool stayedOpen = false;
    window->setPanelDriver([&](SettingsPanel& panel) {
        panel.findChild<QLineEdit*>("_dataStepSize")->setText("0");
        panel.pressOK();
        stayedOpen = panel.isVisible();
    });
    EXPECT_EQ(window->OptionsLog(), SettingsPanel::kCancel);
    EXPECT_TRUE(stayedOpen);
    ASSERT_EQ(prompts.alerts.size(), 1u);
    EXPECT_EQ(prompts.alerts[0].title, "The step is not valid.");

    // The entries need the log window; once it is shown New and Open are off.
    EXPECT_TRUE(window->isCommandEnabled("_LogNew:"));
    window->action("_EditSelectAll:")->trigger();
    EXPECT_FALSE(window->isCommandEnabled("_LogDuration:"));
    window->action("_LogNew:")->trigger();
    EXPECT_FALSE(window->isCommandEnabled("_LogNew:"));
    EXPECT_FALSE(window->isCommandEnabled("_LogOpen:"));
    ASSERT_TRUE(window->isCommandEnabled("_LogDuration:"));
    window->action("_LogDuration:")->trigger();
    LogTable& log = application->logController().table();
    EXPECT_EQ(log.rowCount(), 1u);

    // 200 ms selected, one row every 50 ms.
    window->document().m_dLogStepSize = 50.0;
    window->action("_LogDataSelection:")->trigger();
    EXPECT_EQ(log.rowCount(), 1u + 4u);
}

// Quit while a sheet is open on a window (the status window's menu stays at
// hand) finishes nothing and closes nothing: the sheet is still running.
TEST_F(PanelsTest, QuitWaitsForAnOpenSheet)
{
    MainWindowController* window = openRecording();
    ASSERT_NE(window, nullptr);
    bool quit = true;
    std::size_t windowsDuringSheet = 0;
    QTimer::singleShot(0, [&] {
        auto* sheet = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(sheet, nullptr);
        quit = application->terminate();
        windowsDuringSheet = application->documentWindows().size();
        sheet->reject();
    });
    EXPECT_EQ(window->OptionsZoom(), SettingsPanel::kCancel); // no driver: a real modal run
    EXPECT_FALSE(quit);
    EXPECT_EQ(windowsDuringSheet, 1u);
}

TEST_F(PanelsTest, UserConfigurationSavedAndLoadedFromTheFileMenu)
{
    MainWindowController* window = openRecording();
    ASSERT_NE(window, nullptr);
    const std::string path = (folder / "User_Configuration.cfg").string();
    window->document().m_nFFTWindowLength = 512;
    prompts.savePanelReplies.push_back(path);
    window->action("_fileSaveConfiguration:")->trigger();
    ASSERT_TRUE(fs::exists(path));
    EXPECT_EQ(prompts.savePanels.back().proposedName, "User_Configuration.cfg");

    // The units and calibrations it brings are kept in the document's file:
    // the document must count as edited, or closing would lose them.
    window->document().m_nFFTWindowLength = 128;
    window->document().clearChangeCount();
    prompts.openPanelReplies.push_back({}); // Cancel
    window->action("_fileLoadConfiguration:")->trigger();
    EXPECT_EQ(window->document().changeCount(), 0);
    prompts.openPanelReplies.push_back({path});
    window->action("_fileLoadConfiguration:")->trigger();
    EXPECT_EQ(window->document().m_nFFTWindowLength, 512);
    EXPECT_GT(window->document().changeCount(), 0);
    window->document().clearChangeCount();
}

} // namespace
} // namespace phonaxis
