// Editing, labels, zoom and the application's small files, driven through
// the document window's commands and the main view's mouse handling.
#include "support/TwoToneWav.h" // before Qt: its "signals" keyword is a macro
#include "support/ScriptedPrompts.h"

#include "app/Application.h"
#include "app/LabelDialog.h"
#include "app/MainWindowController.h"
#include "app/QtPrompts.h"
#include "display/MainViewModel.h"
#include "display/MainViewPane.h"
#include "display/MainViewScroller.h"
#include "document/AppSettings.h"
#include "document/EditClipboard.h"
#include "document/MyDocument.h"
#include "support/AppFixture.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;

class AppEditingTest : public test::AppFixture {
protected:
    AppEditingTest() : AppFixture("phonaxis-edit-") {}

    // A shown window on a two-channel float WAV of 11025 samples.
    MainWindowController* openRecording(const std::string& name = "two.wav")
    {
        const auto bytes = test::twoToneWav(prompts);
        const fs::path path = folder / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes->data()), std::streamsize(bytes->size()));
        MainWindowController* window = application->openPath(QString::fromStdString(path.string()));
        if (window != nullptr) {
            window->resize(700, 400);
            window->show();
            window->mainView()->repaint();
        }
        return window;
    }
};

TEST_F(AppEditingTest, CopyIntoANewDocumentThenCutAndUndo)
{
    MainWindowController* window = openRecording();
    ASSERT_NE(window, nullptr);
    MyDocument& document = window->document();
    window->action("_EditSelectAll:")->trigger();
    ASSERT_TRUE(document.m_bHaveSelection);
    EXPECT_DOUBLE_EQ(document.getChannel(1).m_dDurationStopTime, document.getChannel(1).m_dLengthMS);

    window->action("_EditCopy:")->trigger();
    MainWindowController* fresh = application->newDocument();
    EXPECT_TRUE(fresh->isCommandEnabled("_EditPaste:"));
    fresh->action("_EditPaste:")->trigger();
    EXPECT_TRUE(fresh->document().m_bHaveData);
    EXPECT_EQ(fresh->document().m_nNumofChannels, 2);

    // A cut of the middle of the WAV document, then undo.
    const double lengthBefore = document.getChannel(0).m_dwFileLength;
    window->mainView()->repaint();
    QTest::mousePress(window->mainView(), Qt::LeftButton, {}, QPoint(200, 30));
    QMouseEvent move(QEvent::MouseMove, QPointF(400, 30), window->mainView()->mapToGlobal(QPointF(400, 30)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window->mainView(), &move);
    QTest::mouseRelease(window->mainView(), Qt::LeftButton, {}, QPoint(400, 30));
    ASSERT_TRUE(window->isCommandEnabled("_EditCut:"));
    window->action("_EditCut:")->trigger();
    EXPECT_LT(document.getChannel(0).m_dwFileLength, lengthBefore);
    EXPECT_GT(document.changeCount(), 0);
    EXPECT_FALSE(window->isCommandEnabled("_EditCut:"));

    ASSERT_TRUE(window->isCommandEnabled("_EditUndo:"));
    window->action("_EditUndo:")->trigger();
    EXPECT_EQ(document.getChannel(0).m_dwFileLength, lengthBefore);
    EXPECT_EQ(document.m_nFileFormat, FileFormat::kWav);
}

TEST_F(AppEditingTest, SavingAsWavSaysWhatItWouldLoseAndOffersAPmfFile)
{
    struct Case {
        int answer;
        bool wavWritten, pmfWritten;
    };
    const Case cases[] = {
        {1, false, true},  // Save as .pmf
        {0, false, false}, // Cancel
        {-1, true, false}, // Save as WAV
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        const std::string name = "voice" + std::to_string(c.answer + 1) + ".wav";
        MainWindowController* window = openRecording(name);
        ASSERT_NE(window, nullptr);
        const fs::path wav = folder / name;
        const fs::path pmf = fs::path(wav).replace_extension(".pmf");
        std::ofstream(wav, std::ios::trunc) << "replaced by the save";
        Labels label;
        label.dTime = 250.0;
        label.setText("vowel");
        window->document().getChannel(1).Add_Label_Cocoa(label);
        window->document().getChannel(0).SetUnit("Pa");
        window->document().setDirty();
        prompts.alerts.clear();
        prompts.savePanels.clear();
        prompts.alertReplies = {c.answer};
        prompts.savePanelReplies = {pmf.string()};

        window->action("saveDocument:")->trigger();
        ASSERT_EQ(prompts.alerts.size(), 1u);
        const auto& alert = prompts.alerts[0];
        EXPECT_EQ(alert.title, "This recording has labels and units that a WAV file cannot keep.");
        EXPECT_EQ(alert.defaultButton, "Save as .pmf");
        EXPECT_EQ(alert.alternateButton, "Cancel");
        EXPECT_EQ(alert.otherButton, "Save as WAV");
        EXPECT_EQ(fs::file_size(wav) != 20u, c.wavWritten);
        EXPECT_EQ(fs::exists(pmf), c.pmfWritten);
        EXPECT_EQ(window->document().changeCount() == 0, c.wavWritten || c.pmfWritten);
        if (!c.pmfWritten) {
            continue;
        }
        ASSERT_EQ(prompts.savePanels.size(), 1u);
        EXPECT_EQ(prompts.savePanels[0].requiredType, "pmf");
        EXPECT_EQ(prompts.savePanels[0].proposedName, pmf.filename().string());
        EXPECT_EQ(fs::path(prompts.savePanels[0].directory), fs::absolute(folder));
        EXPECT_EQ(window->displayName().toStdString(), pmf.filename().string());

        // The .pmf file keeps the label and the unit.
        MainWindowController* reopened = application->newDocument();
        std::string error;
        ASSERT_TRUE(reopened->readFile(QString::fromStdString(pmf.string()), error)) << error;
        ASSERT_EQ(reopened->document().getChannel(1).m_nLabelCount, 1);
        EXPECT_EQ(reopened->document().getChannel(1).GetLabel(0)->getLabelText(), "vowel");
        EXPECT_EQ(reopened->document().getChannel(0).GetUnit(), "Pa");
    }

    // A WAV recording that a WAV file keeps whole saves without a word.
    MainWindowController* plain = openRecording("plain.wav");
    ASSERT_NE(plain, nullptr);
    plain->document().setDirty();
    prompts.alerts.clear();
    plain->action("saveDocument:")->trigger();
    EXPECT_TRUE(prompts.alerts.empty());
    EXPECT_EQ(plain->document().changeCount(), 0);
}

TEST_F(AppEditingTest, ZoomCommandsMoveThePageAndTheScroller)
{
    MainWindowController* window = openRecording();
    ASSERT_NE(window, nullptr);
    const Channels& channel = window->document().getChannel(0);
    auto* scroller = window->findChild<MainViewScroller*>("_idMainViewPane");
    ASSERT_NE(scroller, nullptr);

    window->action("_ZoomIn:")->trigger();
    EXPECT_NEAR(channel.m_dPageMax - channel.m_dPageMin, channel.m_dwFileLength / 2, 1.0);
    EXPECT_NEAR(scroller->getZoomFactor(), 0.5, 1e-6);
    EXPECT_GT(scroller->scroller()->maximum(), 0);

    // Moving the knob to the end moves every channel's page there.
    scroller->scroller()->setValue(scroller->scroller()->maximum());
    EXPECT_NEAR(channel.m_dPageMax, channel.m_dwFileLength, 1.0);

    window->action("_ZoomHome:")->trigger();
    EXPECT_DOUBLE_EQ(channel.m_dPageMin, 0.0);
    EXPECT_DOUBLE_EQ(channel.m_dPageMax, channel.m_dwFileLength);
    EXPECT_DOUBLE_EQ(scroller->getZoomFactor(), 1.0);
}

TEST_F(AppEditingTest, LabelModeClickAddsALabelThroughTheDialog)
{
    MainWindowController* window = openRecording();
    ASSERT_NE(window, nullptr);
    window->action("_LabelMode:")->trigger();
    MainViewPane* pane = window->mainView();
    const Rect strip = window->document().getChannel(1).m_rLocation;
    const QPoint click(300, strip.top + 10);
    QTest::mouseClick(pane, Qt::LeftButton, {}, click);

    LabelDialog& dialog = application->labelDialog();
    ASSERT_TRUE(dialog.isVisible());
    dialog.textField()->setText("vowel");
    dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    EXPECT_FALSE(dialog.isVisible());

    const Channels& channel = window->document().getChannel(1);
    ASSERT_EQ(channel.m_nLabelCount, 1);
    EXPECT_EQ(channel.GetLabel(0)->getLabelText(), "vowel");
    EXPECT_DOUBLE_EQ(channel.GetLabel(0)->dTime, channel.m_dMarkerTime);
    EXPECT_EQ(window->document().getChannel(0).m_nLabelCount, 0);

    // The label table lists it.
    window->action("_LabelView:")->trigger();
    auto* table = window->findChild<QWidget*>("labelview");
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->windowTitle(), "Labels:: two.wav");

    // A click on the label opens it for editing; a drag moves it; an empty
    // text removes it.
    const QPoint onLabel = click + QPoint(3, 4);
    pane->repaint();
    QTest::mouseClick(pane, Qt::LeftButton, {}, onLabel);
    ASSERT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.textField()->text(), "vowel");
    dialog.textField()->setText("vowel a");
    dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    ASSERT_EQ(channel.m_nLabelCount, 1);
    EXPECT_EQ(channel.GetLabel(0)->getLabelText(), "vowel a");

    const double before = channel.GetLabel(0)->dTime;
    QTest::mousePress(pane, Qt::LeftButton, {}, onLabel);
    QMouseEvent drag(QEvent::MouseMove, QPointF(onLabel + QPoint(80, 0)),
                     pane->mapToGlobal(QPointF(onLabel + QPoint(80, 0))), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(pane, &drag);
    QTest::mouseRelease(pane, Qt::LeftButton, {}, onLabel + QPoint(80, 0));
    EXPECT_FALSE(dialog.isVisible());
    ASSERT_EQ(channel.m_nLabelCount, 1);
    EXPECT_GT(channel.GetLabel(0)->dTime, before);

    pane->repaint();
    QTest::mouseClick(pane, Qt::LeftButton, {}, onLabel + QPoint(80, 0));
    ASSERT_TRUE(dialog.isVisible());
    dialog.textField()->clear();
    dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    EXPECT_EQ(channel.m_nLabelCount, 0);
}

TEST_F(AppEditingTest, DroppedFilesOpenAndRecentFilesSurviveARestart)
{
    MainWindowController* window = openRecording("first.wav");
    ASSERT_NE(window, nullptr);
    openRecording("second.wav");
    const QString second = QString::fromStdString(fs::absolute(folder / "second.wav").string());
    application->documentWindows().back()->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(second)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &drop);
    const auto windows = application->documentWindows();
    EXPECT_TRUE(std::any_of(windows.begin(), windows.end(),
                            [&](MainWindowController* w) { return w->filePath() == second; }));

    // The list is read back by the next run; lines that are not absolute
    // paths, and overlong ones, are skipped.
    {
        std::ofstream out(folder / "config" / Application::kRecentFileName, std::ios::app);
        out << "relative/path.wav\n" << std::string(5000, 'x') << "\n\n";
    }
    Application next(settings, globals, &prompts);
    ASSERT_EQ(next.recentFiles().size(), 2);
    EXPECT_EQ(next.recentFiles().front(), second);
}

TEST(QtPromptsTest, AlertButtonsAndSavePanelExtension)
{
    struct Case {
        const char* button; // text of the button the user presses
        int expected;
    };
    for (const Case& c : {Case{"Save", 1}, Case{"Cancel", 0}, Case{"Don't Save", -1}}) {
        QtPrompts prompts(nullptr, [&](QDialog& dialog) {
            for (QAbstractButton* button : static_cast<QMessageBox&>(dialog).buttons()) {
                if (button->text() == c.button) {
                    button->click();
                }
            }
            return 0;
        });
        EXPECT_EQ(prompts.alert("Title", "Message", "Save", "Cancel", "Don't Save"), c.expected)
            << c.button;
    }

    // Escape, or closing the box, never picks an answer that changes data.
    struct EscapeCase {
        std::vector<std::string> buttons;
        const char* escapeButton;
        int expected;
    };
    const EscapeCase escapes[] = {
        {{"Save", "Replace data", "Cancel"}, "Cancel", -1},
        {{"Save", "Don't Save", "Cancel"}, "Cancel", -1},
        {{"Save", "Cancel", "Don't Save"}, "Cancel", 0},
        {{"Yes", "No"}, "No", 0},
        {{"OK"}, "OK", 1},
    };
    for (const EscapeCase& c : escapes) {
        QString escapeText;
        QtPrompts prompts(nullptr, [&](QDialog& dialog) {
            QAbstractButton* escape = static_cast<QMessageBox&>(dialog).escapeButton();
            escapeText = escape != nullptr ? escape->text() : QString();
            return 0; // closed without a button
        });
        const auto button = [&](std::size_t i) { return i < c.buttons.size() ? c.buttons[i] : ""; };
        EXPECT_EQ(prompts.alert("Title", "", button(0), button(1), button(2)), c.expected)
            << c.escapeButton;
        EXPECT_EQ(escapeText, c.escapeButton);
    }
}

TEST(QtPromptsTest, SaveAsTypeFollowsTheChosenFilter)
{
    struct Case {
        const char* proposed; // the name the panel proposes
        int filter;           // the filter chosen; -1 leaves the panel's
        const char* typed;    // the name typed; "" keeps the proposed one
        const char* button;   // pressed in the question, nullptr when none may come
        const char* expected; // the name saved to, nullptr for none
        const char* type;
    };
    const Case cases[] = {
        {"", 1, "take.1", nullptr, "take.1.wav", "wav"},
        {"", 1, "x.WAV", nullptr, "x.WAV", "wav"},
        {"", 2, "x.aif", nullptr, "x.aif", "aif"},
        {"two.wav", -1, "", nullptr, "two.wav", "wav"}, // the proposed name's type comes first
        {"Untitled", -1, "", nullptr, "Untitled.pmf", "pmf"},
        {"two.wav", 0, "", nullptr, "two.pmf", "pmf"},
        {"", 1, "x.pmf", "Use .wav", "x.wav", "wav"},
        {"", 1, "x.pmf", "Cancel", nullptr, nullptr},
        {"", 0, "x.wav", "Use .pmf", "x.pmf", "pmf"},
        // The panel confirmed only the name typed: a file the extension
        // added names is asked about.
        {"", 1, "taken.1", "Cancel", nullptr, nullptr},
        {"", 1, "taken.1", "Replace", "taken.1.wav", "wav"},
    };
    const QTemporaryDir scratch;
    const QString folder = scratch.path();
    QFile(folder + QStringLiteral("/taken.1.wav")).open(QIODevice::WriteOnly);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.typed) + " " + std::to_string(c.filter));
        int questions = 0;
        QString question;
        QtPrompts panels(nullptr, [&](QDialog& dialog) {
            if (auto* box = qobject_cast<QMessageBox*>(&dialog)) {
                ++questions;
                question = box->text();
                for (QAbstractButton* button : box->buttons()) {
                    if (c.button != nullptr && button->text() == QLatin1String(c.button)) {
                        button->click();
                    }
                }
                return 0;
            }
            auto& panel = static_cast<QFileDialog&>(dialog);
            if (c.filter >= 0) {
                panel.selectNameFilter(panel.nameFilters().at(c.filter));
            }
            if (*c.typed != '\0') {
                panel.selectFile(folder + QLatin1Char('/') + QLatin1String(c.typed));
            }
            return int(QDialog::Accepted);
        });
        SavePanelRequest request;
        request.directory = folder.toStdString();
        request.proposedName = c.proposed;
        const auto chosen = panels.savePanel(request);
        EXPECT_EQ(questions, c.button != nullptr ? 1 : 0);
        if (c.expected == nullptr) {
            EXPECT_FALSE(chosen.has_value());
            continue;
        }
        ASSERT_TRUE(chosen.has_value());
        const QString path = QString::fromStdString(*chosen);
        EXPECT_EQ(QFileInfo(path).fileName().toStdString(), c.expected);
        EXPECT_EQ(saveTypeForPath(path), c.type);
        if (c.button != nullptr && c.filter == 1) {
            EXPECT_EQ(question.toStdString(),
                      std::string_view(c.typed) == "x.pmf"
                          ? "The name “x.pmf” ends in .pmf, but the type chosen is WAV file (.wav)."
                          : "“taken.1.wav” already exists. Do you want to replace it?");
        }
    }

    // A panel of one type gives the name that type's extension.
    QtPrompts pmfPanel(nullptr, [&](QDialog& dialog) {
        static_cast<QFileDialog&>(dialog).selectFile(folder + QStringLiteral("/copy.wav"));
        return int(QDialog::Accepted);
    });
    SavePanelRequest request;
    request.directory = folder.toStdString();
    request.requiredType = "pmf";
    const auto chosen = pmfPanel.savePanel(request);
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(QFileInfo(QString::fromStdString(*chosen)).fileName().toStdString(), "copy.wav.pmf");
}

} // namespace
} // namespace phonaxis
