// The record/play settings panel: the controls of each box state, what OK
// stores and the configuration bytes it rewrites.
#include "app/panels/RecordPlayPanel.h"
#include "document/AppSettings.h"
#include "support/FileProbes.h"
#include "support/ScriptedPrompts.h"

#include <QComboBox>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace phonaxis {
namespace {

class RecordPlayPanelTest : public ::testing::Test {
protected:
    RecordPlayPanelTest() { settings.m_strConfigFolder = folder.path().toStdString(); }

    // A configuration of non-zero bytes; returns them.
    std::string writeConfiguration()
    {
        std::string bytes(Configuration::kSize, '\0');
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<char>(1 + i % 251);
        }
        std::ofstream(settings.configPath(), std::ios::binary) << bytes;
        return bytes;
    }
    QComboBox& rate() { return *panel.findChild<QComboBox*>("sampleRate"); }
    QComboBox& play() { return *panel.findChild<QComboBox*>("playSource"); }

    QTemporaryDir folder;
    AppSettings settings;
    test::ScriptedPrompts prompts;
    RecordPlayPanel panel{settings, prompts};
};

TEST_F(RecordPlayPanelTest, ShowsTheControlsOfTheBoxStateAndCancelForgetsTheChoice)
{
    struct Case {
        bool haveBox;
        int storedRate;
        const char* storedSource;
        int rateShown, sourceShown;
    } const cases[] = {{false, 22050, "Hardware", 1, 0},
                       {false, 8000, "Computer", 2, 1},
                       {true, 44100, "Computer", 0, 1},
                       {true, 11025, "External Hardware", 2, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.storedRate);
        settings.g_nRecordSampleRate = c.storedRate;
        settings.g_strPlaySource = c.storedSource;
        panel.start(c.haveBox);
        EXPECT_EQ(rate().isVisible(), !c.haveBox);
        EXPECT_EQ(panel.findChild<QLabel*>("sampleRateNote")->isVisible(), !c.haveBox);
        EXPECT_EQ(play().isVisible(), c.haveBox);
        EXPECT_EQ(panel.findChild<QLabel*>("playSourceLabel")->isVisible(), c.haveBox);
        EXPECT_EQ(rate().currentIndex(), c.rateShown);
        EXPECT_EQ(play().currentIndex(), c.sourceShown);
        rate().setCurrentIndex(0);
        play().setCurrentIndex(0);
        QTest::keyClick(&panel, Qt::Key_Escape);
        EXPECT_FALSE(panel.isVisible());
        EXPECT_EQ(settings.g_nRecordSampleRate, c.storedRate);
        EXPECT_EQ(settings.g_strPlaySource, c.storedSource);
    }
    // OK without a choice keeps a source the pop-up does not offer.
    panel.start(true);
    panel.pressOK();
    EXPECT_EQ(settings.g_strPlaySource, "External Hardware");
    EXPECT_FALSE(std::filesystem::exists(settings.configPath()));
}

TEST_F(RecordPlayPanelTest, OkStoresTheChoiceOfItsBoxStateAndPatchesOnlyTheSourceTexts)
{
    const std::string before = writeConfiguration();
    settings.g_strInputSource = "Line";
    panel.start(false);
    rate().setCurrentIndex(1);
    play().setCurrentIndex(0); // hidden without a box: not taken
    QTest::keyClick(&panel, Qt::Key_Return);
    EXPECT_EQ(settings.g_nRecordSampleRate, 22050);
    EXPECT_EQ(settings.g_strPlaySource, "Computer");
    panel.start(true);
    play().setCurrentIndex(0);
    rate().setCurrentIndex(0); // hidden with a box: not taken
    panel.pressOK();
    EXPECT_EQ(settings.g_strPlaySource, "Hardware");
    EXPECT_EQ(settings.g_nRecordSampleRate, 22050);
    EXPECT_EQ(settings.g_strInputSource, "Line");

    std::string expected = before;
    expected.replace(20, 16, std::string("Line") + std::string(12, '\0'));
    expected.replace(36, 32, std::string("Hardware") + std::string(24, '\0'));
    EXPECT_EQ(test::fileBytes(settings.configPath()), expected);
    EXPECT_TRUE(prompts.alerts.empty());
}

TEST_F(RecordPlayPanelTest, AConfigurationThatCannotBeWrittenIsToldAndLeftAsItIs)
{
    // Read-only; for root, who may write anything, a link another user owns.
    std::string kept = settings.configPath();
    const std::string before = writeConfiguration();
    if (::geteuid() == 0) {
        kept += ".real";
        std::filesystem::rename(settings.configPath(), kept);
        std::filesystem::create_symlink(kept, settings.configPath());
        ASSERT_EQ(::lchown(settings.configPath().c_str(), 65534, 65534), 0);
    } else {
        std::filesystem::permissions(kept, std::filesystem::perms::owner_read);
    }
    panel.start(true);
    play().setCurrentIndex(0);
    panel.pressOK();
    ASSERT_EQ(prompts.alerts.size(), 1u);
    EXPECT_EQ(prompts.alerts[0].title,
              "The record/play settings could not be saved in the configuration.");
    EXPECT_EQ(test::fileBytes(kept), before);
    EXPECT_EQ(settings.g_strPlaySource, "Hardware");
    EXPECT_FALSE(panel.isVisible());
}

} // namespace
} // namespace phonaxis
