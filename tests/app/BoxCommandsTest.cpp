// The acquisition box in the desktop application, on the simulated box: its
// arrival announced at launch, the record/play settings offering the play
// source, the main view playing through the box's D/A output with its play
// cursor, a press stopping it, the box's removal, and a slow firmware
// download shown with its progress and cancelled.
#include "app/Application.h"
#include "app/MainWindowController.h"
#include "app/QtPrompts.h"
#include "app/panels/RecordPlayPanel.h"
#include "display/MainViewModel.h"
#include "display/MainViewPane.h"
#include "document/MyDocument.h"
#include "hardware/SimulatedBox.h"
#include "hardware/USB2Hardware.h"
#include "hardware/ui/BoxService.h"
#include "hardware/ui/OrvixRecordController.h"
#include "support/AnalysisWindowTesting.h"
#include "support/AppFixture.h"
#include "support/BoxLaunching.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace phonaxis {
namespace {

using test::waitFor;

class BoxCommandsTest : public test::AppFixture {
protected:
    BoxCommandsTest() : AppFixture("phonaxis-box-") {}

    std::unique_ptr<BoxService> launchBox(int channels)
    {
        return test::launchSimulatedBox(*application, prompts, folder, channels);
    }

    // The channel of a shown window: a tone of `ms` at 22050 Hz.
    MainWindowController* openTone(double ms)
    {
        std::vector<float> samples(static_cast<std::size_t>(ms * 22.05));
        for (std::size_t i = 0; i < samples.size(); ++i) {
            samples[i] = static_cast<float>(0.5 * std::sin(0.05 * double(i)) + 0.1);
        }
        m_tone = samples;
        test::ScriptedPrompts quiet;
        auto document = std::make_unique<MyDocument>(quiet);
        document->m_nNumofChannels = 1;
        Channels& channel = document->getChannel(0);
        EXPECT_TRUE(channel.setData(samples.data(), samples.size()));
        channel.m_dSampleRate = 22050.0;
        channel.m_dwFileLength = double(samples.size());
        channel.m_dLengthMS = ms;
        return openShown(*document->dataOfType("wav"), "tone.wav");
    }

    void TearDown() override { application->setBoxService(nullptr); }

    std::vector<float> m_tone;
};

// A loader that answers slowly is programmed off the main thread: the
// dialog names the box and shows the progress, and Cancel leaves the box
// held in reset, without firmware, which an alert says.
TEST_F(BoxCommandsTest, ASlowDownloadShowsItsProgressAndCancelLeavesTheBoxInReset)
{
    BoxOptions options;
    options.simulatedChannels = 9;
    options.firmwarePath = test::writeTestFirmware(folder).string();
    auto box = std::make_unique<BoxService>(options, prompts);
    box->simulatedBox()->setLoaderDelay(std::chrono::milliseconds(100));
    application->setBoxService(box.get());
    box->findHardware();
    ASSERT_TRUE(waitFor([&] {
        return box->downloadProgress() != nullptr && box->downloadProgress()->isVisible();
    }));
    auto* dialog = qobject_cast<QProgressDialog*>(box->downloadProgress());
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->objectName(), "firmwareDownloadProgress");
    EXPECT_EQ(dialog->windowTitle(), "Orvix USB2 Multichannel Data Acquisition system");
    EXPECT_TRUE(dialog->labelText().contains("acquisition box")) << dialog->labelText().toStdString();
    EXPECT_EQ(dialog->maximum(), 20);
    EXPECT_LT(dialog->value(), 20);
    auto* cancel = dialog->findChild<QPushButton*>();
    ASSERT_NE(cancel, nullptr);
    EXPECT_EQ(cancel->text(), "Cancel");
    QTest::mouseClick(cancel, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return !box->hardware().downloading() && !prompts.alerts.empty(); }));
    EXPECT_EQ(box->downloadProgress(), nullptr);
    EXPECT_TRUE(box->simulatedBox()->inReset());
    QTest::qWait(50);
    EXPECT_FALSE(box->simulatedBox()->programmed());
    EXPECT_FALSE(box->boxPresent());
    ASSERT_EQ(prompts.alerts.size(), 1u);
    EXPECT_EQ(prompts.alerts[0].title, "Orvix USB2 Multichannel Data Acquisition system");
    EXPECT_NE(prompts.alerts[0].message.find("was cancelled. The box is held in reset, without "
                                             "firmware"),
              std::string::npos)
        << prompts.alerts[0].message;
}

// A five-channel box is announced as it arrives; with the play source
// "Hardware" the channel goes to the box word for word, the play cursor
// follows the box's progress and the play ends by itself.
TEST_F(BoxCommandsTest, ArrivingBoxIsAnnouncedAndPlaysTheChannel)
{
    auto box = launchBox(5);
    ASSERT_TRUE(box->boxPresent());
    ASSERT_EQ(prompts.alerts.size(), 1u);
    EXPECT_EQ(prompts.alerts[0].title, "Orvix USB2 Multichannel Data Acquisition system");
    EXPECT_EQ(prompts.alerts[0].message, "Found");
    EXPECT_EQ(prompts.alerts[0].defaultButton, "Close");
    EXPECT_EQ(box->connection().systemChannelNumber(), 5);

    application->OptionsRecordPlay();
    RecordPlayPanel* panel = application->recordPlayPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->findChild<QComboBox*>(QStringLiteral("playSource"))->isVisibleTo(panel));
    EXPECT_FALSE(panel->findChild<QComboBox*>(QStringLiteral("sampleRate"))->isVisibleTo(panel));
    panel->pressCancel();

    settings.g_strPlaySource = "Hardware";
    MainWindowController* window = openTone(300.0);
    ASSERT_NE(window, nullptr);
    MainViewModel& view = window->viewModel();
    window->action("_Play:")->trigger();
    ASSERT_TRUE(view.m_bPlaying);
    ASSERT_TRUE(waitFor([&] { return view._dAnimatenanoSeconds > 0.0 || !view.m_bPlaying; }));
    ASSERT_TRUE(waitFor([&] { return !view.m_bPlaying; }));
    EXPECT_EQ(view._dAnimatenanoSeconds, -1000.0);

    const std::vector<std::uint16_t>& words = box->simulatedBox()->received();
    ASSERT_GE(words.size(), m_tone.size());
    for (std::size_t i = 0; i < m_tone.size(); ++i) {
        ASSERT_EQ(words[i], static_cast<std::uint16_t>(DtoAdata(m_tone[i]))) << "at " << i;
    }
    EXPECT_EQ(prompts.alerts.size(), 1u);
}

// A 5- or 2-channel box is announced once, when it arrives, and only after
// the transport's delivery of its arrival: an alert answered inside that
// delivery would hold everything done meanwhile inside it (and, blocking no
// window, stand behind the recording window to show up again when that
// closes). Recording, saving and cancelling afterwards announce nothing.
// An alert without a window blocks the application until answered.
TEST_F(BoxCommandsTest, BoxIsAnnouncedOnceAfterItsArrivalIsDelivered)
{
    for (const int channels : {5, 2}) {
        SCOPED_TRACE(channels);
        prompts.alerts.clear();
        std::vector<int> depths;
        prompts.whileAlerting = [&](const test::ScriptedPrompts::Alert&) {
            depths.push_back(application->boxService()->connection().callbackDepth);
        };
        auto box = launchBox(channels);
        ASSERT_TRUE(box->boxPresent());
        ASSERT_EQ(prompts.alerts.size(), 1u);
        EXPECT_EQ(prompts.alerts[0].message, "Found");
        EXPECT_EQ(depths, std::vector<int>{0});

        for (const char* end : {"Save", "Cancel"}) {
            SCOPED_TRACE(end);
            MainWindowController* window = application->newDocument();
            window->action("_Record:")->trigger();
            OrvixRecordController* recorder = application->recordWindow();
            ASSERT_NE(recorder, nullptr);
            ASSERT_NE(recorder->session(), nullptr);
            recorder->findChild<QPushButton*>(QStringLiteral("Record"))->click();
            ASSERT_TRUE(waitFor([&] { return recorder->session()->recordedFrames() > 4096; }));
            recorder->findChild<QPushButton*>(QString::fromLatin1(end))->click();
            ASSERT_TRUE(waitFor([&] { return !recorder->isVisible() && !recorder->busy(); }));
            QCoreApplication::processEvents();
        }
        EXPECT_EQ(std::count_if(prompts.alerts.begin(), prompts.alerts.end(),
                                [](const auto& alert) { return alert.message == "Found"; }),
                  1);
        prompts.whileAlerting = {};
        delete application->recordWindow();
        TearDown();
    }

    Qt::WindowModality modality = Qt::NonModal;
    QtPrompts windowless(nullptr, [&](QDialog& dialog) {
        modality = dialog.windowModality();
        return int(QDialog::Accepted);
    });
    static_cast<Prompts&>(windowless)
        .alert("Orvix USB2 Multichannel Data Acquisition system", "Found", "Close");
    EXPECT_EQ(modality, Qt::ApplicationModal);
}

// A press in the view stops the box's playback at its next block; the box's
// removal is announced and the next play goes to the sound card's path.
TEST_F(BoxCommandsTest, PressStopsTheBoxAndRemovalIsAnnounced)
{
    auto box = launchBox(9);
    ASSERT_TRUE(box->boxPresent());
    EXPECT_TRUE(prompts.alerts.empty()); // nine channels: a beep, no alert

    settings.g_strPlaySource = "Hardware";
    MainWindowController* window = openTone(5000.0);
    ASSERT_NE(window, nullptr);
    MainViewModel& view = window->viewModel();
    window->action("_Play:")->trigger();
    ASSERT_TRUE(view.m_bPlaying);
    QTest::mouseClick(window->mainView(), Qt::LeftButton, {}, QPoint(300, 100));
    ASSERT_TRUE(waitFor([&] { return !view.m_bPlaying; }));
    EXPECT_LT(box->simulatedBox()->received().size(), m_tone.size());

    box->simulatedBox()->unplug();
    ASSERT_TRUE(waitFor([&] { return !box->boxPresent(); }));
    ASSERT_EQ(prompts.alerts.size(), 1u);
    EXPECT_EQ(prompts.alerts[0].message, "Removed");
    EXPECT_TRUE(box->connection().haveHardware()); // the flag stays; the interface went
    window->close();
}

} // namespace
} // namespace phonaxis
