// Keyboard access to every window's menus: each menu bar and each menu has
// mnemonics that do not collide, and a command shown in several windows has
// one title and one shortcut everywhere.

#include "support/VowelRecording.h" // before Qt: its "signals" keyword is a macro

#include "app/LogController.h"
#include "app/MainWindowController.h"
#include "app/PlotFormantWindows.h"
#include "display/MainViewPane.h"
#include "display/MenuCommands.h"
#include "log/ui/PlotFormantController.h"
#include "support/AppFixture.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include <fstream>
#include <map>

namespace phonaxis {
namespace {

class MenuCommandsTest : public test::AppFixture {
protected:
    MenuCommandsTest() : AppFixture("phonaxis-menus-") {}
};

// Mnemonic letters of the actions' texts, lower-cased; a letter used twice
// is reported with the menu's name.
void expectDistinctMnemonics(const QString& menuName, const QList<QAction*>& actions)
{
    std::map<QString, QString> used;
    for (QAction* action : actions) {
        if (action->isSeparator()) {
            continue;
        }
        const QString key = QKeySequence::mnemonic(action->text()).toString().toLower();
        if (key.isEmpty()) {
            continue;
        }
        const auto [at, inserted] = used.emplace(key, action->text());
        EXPECT_TRUE(inserted) << menuName.toStdString() << ": \"" << action->text().toStdString()
                              << "\" and \"" << at->second.toStdString() << "\" share "
                              << key.toStdString();
    }
}

TEST_F(MenuCommandsTest, EveryMenuBarHasDistinctMnemonicsAndSharedCommandsAgree)
{
    // A recording with a marker, and its spectrum and pitch windows open.
    const std::optional<Bytes> wav = test::vowelWav();
    ASSERT_TRUE(wav.has_value());
    const auto path = folder / "vowel.wav";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(wav->data()), std::streamsize(wav->size()));
    application->finishLaunching({QString::fromStdString(path.string())});
    MainWindowController* window = application->documentWindows().front();
    window->show();
    window->mainView()->repaint();
    QTest::mouseClick(window->mainView(), Qt::LeftButton, {}, QPoint(300, 40));
    window->refreshCommands();
    application->logController().LogNew();
    window->action("_AnalysisFFT:")->trigger();
    window->action("_AnalysisPitch:")->trigger();
    window->action("_AnalysisSpectrogram:")->trigger();
    ASSERT_EQ(window->analysisWindows().size(), 3);
    application->plotFormantWindows().newWindow()->show();

    std::map<QString, QKeySequence> seen; // command → its shortcut
    int bars = 0;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        const auto menuBars = top->findChildren<QMenuBar*>();
        for (QMenuBar* bar : menuBars) {
            ++bars;
            for (QAction* menuAction : bar->actions()) {
                EXPECT_FALSE(QKeySequence::mnemonic(menuAction->text()).isEmpty())
                    << top->objectName().toStdString() << ": menu "
                    << menuAction->text().toStdString();
            }
            expectDistinctMnemonics(top->objectName() + " menu bar", bar->actions());
            for (QMenu* menu : bar->findChildren<QMenu*>()) {
                expectDistinctMnemonics(top->objectName() + " " + menu->objectName(),
                                        menu->actions());
                for (QAction* action : menu->actions()) {
                    if (action->objectName().isEmpty() || action->isSeparator()) {
                        continue;
                    }
                    // Titles that change with the state (label mode, the
                    // status toggle) carry no mnemonic and are not compared.
                    const MenuCommand* command =
                        findMenuCommand(action->objectName().toStdString());
                    if (command != nullptr && QString::fromUtf8(command->title).contains(u'&')) {
                        EXPECT_EQ(action->text(), QString::fromUtf8(command->title));
                    }
                    const auto [at, inserted] =
                        seen.emplace(action->objectName(), action->shortcut());
                    if (!inserted) {
                        EXPECT_EQ(at->second, action->shortcut())
                            << action->objectName().toStdString();
                    }
                }
            }
        }
    }
    EXPECT_GE(bars, 6); // the document, status, log, spectrum, pitch and formant plot windows
    EXPECT_EQ(window->action("_ZoomHome:")->shortcut(), QKeySequence("Ctrl+0"));
    EXPECT_EQ(window->action("printDocument:")->shortcut(), QKeySequence("Ctrl+P"));
}

TEST(MenuCommands, MnemonicMarksAreRemovedForPlainTitles)
{
    EXPECT_EQ(withoutMnemonic("Save &As…"), "Save As…");
    EXPECT_EQ(withoutMnemonic("Enter &Formants && Bandwidths"), "Enter Formants & Bandwidths");
    EXPECT_EQ(withoutMnemonic("Plain"), "Plain");
}

} // namespace
} // namespace phonaxis
