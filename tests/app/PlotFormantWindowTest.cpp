// The formant plot windows: opening tables through _PlotFormantOpen:,
// editing, labelling, inserting and deleting rows, saving, the close
// question, the chart's pixels, pictures and printing, and quitting with
// unsaved tables.

#include "app/MainWindowController.h"
#include "app/PlotFormantWindows.h"
#include "app/QtPrompts.h"
#include "app/StatusWindowController.h"
#include "display/FormantChart.h"
#include "log/ui/PlotFormantController.h"
#include "log/ui/PlotFormantView.h"
#include "support/AppFixture.h"

#include <QAction>
#include <QApplication>
#include <QColor>
#include <QFileDialog>
#include <QImage>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPointer>
#include <QPrinter>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include <fstream>
#include <iterator>
#include <tuple>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;

constexpr const char* kVowels = "300\t2300\t3000\t\"i\"\n"
                                "340\t2150\t2900\t\"i\"\n"
                                "280\t2450\t3150\t\"i\"\n"
                                "700\t1200\t2500\t\"a\"\n"
                                "780\t1350\t2650\t\"a\"\n"
                                "650\t1100\t2400\t\"a\"\n";

std::string readAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class PlotFormantWindowTest : public test::AppFixture {
protected:
    PlotFormantWindowTest() : AppFixture("phonaxis-plotformant-")
    {
        std::ofstream(folder / "vowels.txt", std::ios::binary) << kVowels;
    }

    std::string path(const std::string& name) const { return (folder / name).string(); }

    // Opens files through the windows' _PlotFormantOpen: with the open panel
    // answering `paths`.
    std::vector<PlotFormantController*> open(const std::vector<std::string>& paths)
    {
        prompts.openPanelReplies.push_back(paths);
        return plots.PlotFormantOpen();
    }

    PlotFormantController& openVowels()
    {
        const auto opened = open({path("vowels.txt")});
        EXPECT_EQ(opened.size(), 1u);
        return *opened.front();
    }

    static void selectRows(PlotFormantController& window, std::initializer_list<int> rows)
    {
        QTableView* table = window.tableView();
        table->clearSelection();
        for (const int row : rows) {
            table->selectionModel()->select(table->model()->index(row, 0),
                                            QItemSelectionModel::Select |
                                                QItemSelectionModel::Rows);
        }
    }

    static std::vector<std::string> column(const PlotFormantController& window,
                                           std::string FormantRow::*cell)
    {
        std::vector<std::string> cells;
        for (const FormantRow& row : window.GetTable().rows()) {
            cells.push_back(row.*cell);
        }
        return cells;
    }

    std::vector<std::string> consoleLines;
    PlotFormantWindows plots{&prompts,
                             [this](const std::string& line) { consoleLines.push_back(line); }};
};

TEST_F(PlotFormantWindowTest, OpenTitlesEachWindowAndStopsAtTheFirstUnreadablePath)
{
    std::ofstream(folder / "second.txt", std::ios::binary) << "500\t1500\t2500\t\"e\"\n";
    const auto opened =
        open({path("vowels.txt"), path("second.txt"), folder.string(), path("vowels.txt")});

    ASSERT_EQ(opened.size(), 2u);
    EXPECT_TRUE(prompts.openPanels.back().folders);
    EXPECT_TRUE(prompts.openPanels.back().multiple);
    EXPECT_EQ(opened[0]->windowTitle(), "Plot Formant:: vowels.txt");
    EXPECT_EQ(opened[1]->windowTitle(), "Plot Formant:: second.txt");
    EXPECT_TRUE(opened[0]->isVisible());
    EXPECT_EQ(opened[0]->GetTable().rowCount(), 6u);
    EXPECT_EQ(column(*opened[0], &FormantRow::label)[3], "a");
    EXPECT_EQ(opened[0]->GetPlotView()->geometry().points.size(), 6u);
    EXPECT_EQ(consoleLines,
              std::vector<std::string>{"Error reading file at " + folder.string() + "\n"});
    EXPECT_EQ(plots.windows().size(), 2u);
}

TEST_F(PlotFormantWindowTest, OpenIsInTheStatusAndDocumentWindowsMenusWithoutADocument)
{
    application->finishLaunching({});
    MainWindowController* document = application->documentWindows().front();
    QAction* fromDocument = document->action("_PlotFormantOpen:");
    ASSERT_NE(fromDocument, nullptr);
    EXPECT_TRUE(fromDocument->isEnabled());
    document->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(application->documentWindows().empty());

    QAction* fromStatus = application->statusWindow()->findChild<QAction*>("_PlotFormantOpen:");
    ASSERT_NE(fromStatus, nullptr);
    EXPECT_TRUE(fromStatus->isEnabled());
    prompts.openPanelReplies.push_back({path("vowels.txt")});
    fromStatus->trigger();
    const auto windows = application->plotFormantWindows().windows();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0]->windowTitle(), "Plot Formant:: vowels.txt");

    // The plot window's own menu runs the same command.
    prompts.openPanelReplies.push_back({path("vowels.txt")});
    windows[0]->action("_PlotFormantOpen:")->trigger();
    EXPECT_EQ(application->plotFormantWindows().windows().size(), 2u);
}

TEST_F(PlotFormantWindowTest, EditingACellMarksTheTableAndRedrawsThePoint)
{
    PlotFormantController& window = openVowels();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_FALSE(window.action("_PlotFormantSave:")->isEnabled());
    QTableView* table = window.tableView();
    const QModelIndex f1 = table->model()->index(0, FormantTable::kColumnF1);

    // Click the cell, F2 to edit it, type the new value, press Enter.
    table->scrollTo(f1);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(f1).center());
    QTest::keyClick(table, Qt::Key_F2);
    auto* editor = table->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, "900");
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents(); // the delegate commits in a queued call

    EXPECT_EQ(window.GetTable().rows()[0].f1, "900");
    EXPECT_TRUE(window.GetTable().m_bDirty);
    EXPECT_TRUE(window.action("_PlotFormantSave:")->isEnabled());
    const PlotGeometry& geometry = window.GetPlotView()->geometry();
    EXPECT_EQ(geometry.points[0].circle.topLeft.y,
              std::trunc(geometry.yOfF1(900) - 2.5 * geometry.lineScale));

    // Formant cells take whole numbers (a sign marks a missing formant) or
    // nothing; the label takes any text.
    QAbstractItemModel* model = table->model();
    const std::tuple<int, const char*, bool> edits[] = {
        {FormantTable::kColumnF2, "1800", true},  {FormantTable::kColumnF2, "7OO", false},
        {FormantTable::kColumnF3, "-1", true},    {FormantTable::kColumnF3, "", true},
        {FormantTable::kColumnF1, "1e3", false},  {FormantTable::kColumnF1, "12.5", false},
        {FormantTable::kColumnF1, " 450 ", true}, {FormantTable::kColumnLabel, "7OO", true},
    };
    for (const auto& [column, text, stored] : edits) {
        EXPECT_EQ(model->setData(model->index(1, column), QString::fromUtf8(text)), stored) << text;
        EXPECT_EQ(model->data(model->index(1, column)).toString() == QString::fromUtf8(text),
                  stored)
            << text;
    }
    // Text read from a file that is no number is kept and marked.
    window.GetTable().m_rows[2].f1 = "abc";
    EXPECT_EQ(model->data(model->index(2, FormantTable::kColumnF1), Qt::ForegroundRole),
              QVariant(QColor(Qt::red)));
    EXPECT_FALSE(
        model->data(model->index(2, FormantTable::kColumnF2), Qt::ForegroundRole).isValid());

    // The row number is not editable.
    EXPECT_FALSE(table->model()->flags(table->model()->index(0, 0)) & Qt::ItemIsEditable);
}

TEST_F(PlotFormantWindowTest, InsertDeleteAndLabelRowsRenumberAndMarkTheTable)
{
    PlotFormantController& window = openVowels();
    QAction* deleteRow = window.action("_PlotFormantDeleterow:");
    EXPECT_FALSE(window.validateMenuItem("_PlotFormantDeleterow:"));

    window.action("_PlotFormantInsertrow:")->trigger();
    ASSERT_EQ(window.GetTable().rowCount(), 7u);
    EXPECT_EQ(window.GetTable().rows()[6], (FormantRow{"7", "0", "0", "0", ""}));
    EXPECT_TRUE(window.GetTable().m_bDirty);

    // Rows 1 and 2 clicked with Shift: the label field shows.
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTableView* table = window.tableView();
    EXPECT_FALSE(window.labelField()->isVisible());
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                      table->visualRect(table->model()->index(1, 4)).center());
    EXPECT_FALSE(window.labelField()->isVisible());
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                      table->visualRect(table->model()->index(2, 4)).center());
    EXPECT_EQ(window.selectedRows(), (std::vector<std::size_t>{1, 2}));
    ASSERT_TRUE(window.labelField()->isVisible());
    ASSERT_TRUE(window.addLabelButton()->isVisible());
    QTest::keyClicks(window.labelField(), "e");
    QTest::mouseClick(window.addLabelButton(), Qt::LeftButton);
    EXPECT_EQ(column(window, &FormantRow::label),
              (std::vector<std::string>{"i", "e", "e", "a", "a", "a", ""}));
    EXPECT_FALSE(window.labelField()->isVisible());
    EXPECT_TRUE(window.labelField()->text().isEmpty());

    selectRows(window, {0, 3});
    EXPECT_TRUE(window.validateMenuItem("_PlotFormantDeleterow:"));
    deleteRow->trigger();
    EXPECT_EQ(column(window, &FormantRow::row),
              (std::vector<std::string>{"1", "2", "3", "4", "5"}));
    EXPECT_EQ(column(window, &FormantRow::f1),
              (std::vector<std::string>{"340", "280", "780", "650", "0"}));
    EXPECT_EQ(window.GetPlotView()->geometry().points.size(), 5u);
}

TEST_F(PlotFormantWindowTest, SavedTableReopensEqual)
{
    PlotFormantController& window = openVowels();
    window.GetTable().setCell(5, FormantTable::kColumnLabel, "  o ");
    prompts.savePanelReplies.push_back(path("saved.txt"));
    window.action("_PlotFormantSaveas:")->trigger();
    EXPECT_EQ(prompts.savePanels.back().proposedName, "file.txt");
    EXPECT_EQ(prompts.savePanels.back().requiredType, "txt");
    EXPECT_EQ(window.windowTitle(), "Plot Formant:: saved.txt");
    EXPECT_FALSE(window.GetTable().m_bDirty);
    EXPECT_EQ(window.GetTable().m_strFilePath, path("saved.txt"));

    PlotFormantController& reopened = *open({path("saved.txt")}).front();
    for (auto cell : {&FormantRow::f1, &FormantRow::f2, &FormantRow::f3}) {
        EXPECT_EQ(column(reopened, cell), column(window, cell));
    }
    EXPECT_EQ(column(reopened, &FormantRow::label),
              (std::vector<std::string>{"i", "i", "i", "a", "a", "o"}));
    EXPECT_EQ(column(reopened, &FormantRow::row),
              (std::vector<std::string>{"0", "1", "2", "3", "4", "5"}));

    // Save goes to the known file without a panel.
    QAbstractItemModel* model = window.tableView()->model();
    ASSERT_TRUE(model->setData(model->index(0, FormantTable::kColumnF1), "310"));
    const std::size_t panels = prompts.savePanels.size();
    window.action("_PlotFormantSave:")->trigger();
    EXPECT_EQ(prompts.savePanels.size(), panels);
    EXPECT_EQ(readAll(path("saved.txt")).substr(0, 4), "310\t");
}

TEST_F(PlotFormantWindowTest, ClosingWithUnsavedChangesAsks)
{
    struct Case {
        const char* name;
        int answer;                      // 1 Save, 0 Don't save, -1 Cancel
        std::optional<std::string> file; // the save panel's answer
        bool closes;
        const char* console;
    };
    const Case cases[] = {
        {"save", 1, "closed.txt", true, nullptr},
        {"save, panel cancelled", 1, std::nullopt, false, "Cansel\n"},
        {"save, unwritable", 1, "no/such/folder/t.txt", false, nullptr},
        {"don't save", 0, std::nullopt, true, nullptr},
        {"cancel", -1, std::nullopt, false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        consoleLines.clear();
        QPointer<PlotFormantController> window = &openVowels();
        window->PlotFormantInsertrow();
        prompts.alertReplies.push_back(c.answer);
        if (c.answer == 1) {
            prompts.savePanelReplies.push_back(c.file ? std::optional(path(*c.file))
                                                      : std::nullopt);
        }
        const std::size_t alerts = prompts.alerts.size();
        EXPECT_EQ(window->close(), c.closes);
        ASSERT_GT(prompts.alerts.size(), alerts);
        EXPECT_EQ(prompts.alerts[alerts].title, "Save changes before closing?");
        EXPECT_EQ(prompts.alerts[alerts].defaultButton, "Save");
        EXPECT_EQ(prompts.alerts[alerts].alternateButton, "Don't Save");
        EXPECT_EQ(prompts.alerts[alerts].otherButton, "Cancel");
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ASSERT_EQ(window.isNull(), c.closes);
        if (!c.closes) {
            EXPECT_EQ(window->GetTable().rowCount(), 7u); // nothing lost
            EXPECT_TRUE(window->GetTable().m_bDirty);
            window->GetTable().m_bDirty = false;
            window->close();
        }
        if (c.console != nullptr) {
            EXPECT_EQ(consoleLines, std::vector<std::string>{c.console});
        }
    }
    EXPECT_EQ(readAll(path("closed.txt")).size(), std::string(kVowels).size() + 9);
}

TEST_F(PlotFormantWindowTest, ViewPictureAndPrintShowTheSameChart)
{
    PlotFormantController& window = openVowels();
    window.GetTable().m_bDrawindividuallabels = false;
    window.GetTable().m_bDrawmeanlabel = false;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    PlotFormantView* view = window.GetPlotView();
    view->Refresh();
    const QImage shown = view->grab().toImage();
    const PlotGeometry& geometry = view->geometry();
    ASSERT_EQ(geometry.groups.size(), 2u);
    for (const PlotGroup& group : geometry.groups) {
        const QPoint centre(int(group.mean.topLeft.x) + 2, int(group.mean.topLeft.y) + 2);
        EXPECT_LT(qGray(shown.pixel(centre)), 100) << group.group.label; // filled mean
    }
    // The chart's pixels against the geometry are the display tests'; here
    // the view shows exactly what the picture export writes.
    prompts.savePanelReplies.push_back(path("chart.tif"));
    window.action("_PlotFormantPict:")->trigger();
    EXPECT_EQ(prompts.savePanels.back().proposedName, "pict.tif");
    EXPECT_EQ(prompts.savePanels.back().prompt, "Save");
    EXPECT_EQ(prompts.savePanels.back().offeredTypes,
              (std::vector<std::string>{"png", "pdf", "tif", "svg"}));
    const QImage picture(QString::fromStdString(path("chart.tif")));
    ASSERT_EQ(picture.size(), view->size());
    EXPECT_EQ(picture.convertToFormat(QImage::Format_RGB32),
              shown.convertToFormat(QImage::Format_RGB32));

    window.setPrintSetup([this](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(path("printed.pdf")));
        return true;
    });
    window.action("printDocument:")->trigger();
    EXPECT_EQ(readAll(path("printed.pdf")).substr(0, 4), "%PDF");
}

TEST_F(PlotFormantWindowTest, SpectrogramRowsReplaceTheTableUnsaved)
{
    PlotFormantController& window = openVowels();
    const std::vector<FormantRow> rows = {{"1", "500", "1500", "2500", "e"},
                                          {"2", "-1", "1400", "2450", "e"}};
    EXPECT_TRUE(window.ReadDocumentFromSpectrogramDict(rows));
    EXPECT_EQ(window.GetTable().rows(), rows);
    EXPECT_TRUE(window.GetTable().m_bDirty);
    EXPECT_TRUE(window.GetTable().m_strFilePath.empty());
    EXPECT_EQ(window.tableView()->model()->rowCount(), 2);
    EXPECT_EQ(window.GetPlotView()->geometry().points.size(), 2u);
}

TEST_F(PlotFormantWindowTest, QuittingAsksAboutUnsavedTables)
{
    application->finishLaunching({});
    prompts.openPanelReplies.push_back({path("vowels.txt")});
    application->PlotFormantOpen();
    QPointer<PlotFormantController> window = application->plotFormantWindows().windows().front();
    window->PlotFormantInsertrow();

    prompts.alertReplies.push_back(-1); // Cancel
    EXPECT_FALSE(application->terminate());
    EXPECT_EQ(prompts.alerts.back().title, "Save changes before closing?");
    EXPECT_FALSE(window.isNull());
    EXPECT_EQ(application->documentWindows().size(), 1u); // nothing else closed

    prompts.alertReplies.push_back(0); // Don't save
    EXPECT_TRUE(application->terminate());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
}

// Save as Picture… through the real save panel: PNG, PDF, TIFF and SVG are
// offered behind a "Save" button; a name typed with one of their extensions
// is written in that type whatever filter is chosen, any other name gets the
// chosen filter's extension.
TEST_F(PlotFormantWindowTest, SaveAsPictureWritesTheTypeOfTheTypedExtensionElseOfTheFilter)
{
    struct Case {
        const char* filter; // the filter chosen, by its extension; nullptr keeps TIFF
        const char* typed;  // the name typed; empty keeps the proposed one
        const char* written;
        std::string magic;
    };
    const Case cases[] = {
        {nullptr, "", "pict.tif", std::string("II*\0", 4)},
        {"png", "", "pict.png", "\x89PNG"},
        {"pdf", "chart", "chart.pdf", "%PDF"},
        {"svg", "chart", "chart.svg", "<?xm"},
        {"png", "fft", "fft.png", "\x89PNG"},
        {nullptr, "fft.png", "fft.png", "\x89PNG"},
        {"pdf", "fig.svg", "fig.svg", "<?xm"},
        {"svg", "fig.TIFF", "fig.TIFF", std::string("II*\0", 4)},
        {"pdf", "take.1", "take.1.pdf", "%PDF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.typed) + " / " + (c.filter ? c.filter : "tif"));
        QString button;
        QStringList filters;
        QtPrompts panels(nullptr, [&](QDialog& dialog) {
            auto& panel = static_cast<QFileDialog&>(dialog);
            button = panel.labelText(QFileDialog::Accept);
            filters = panel.nameFilters();
            if (c.filter != nullptr) {
                for (const QString& filter : filters) {
                    if (filter.contains(QStringLiteral("*.") + QLatin1String(c.filter))) {
                        panel.selectNameFilter(filter);
                    }
                }
            }
            // The name as typed, or as the panel shows it after the filter
            // was chosen, in the test's folder.
            QString name = QString::fromLatin1(c.typed);
            if (name.isEmpty()) {
                const auto* edit = panel.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                name = edit != nullptr ? edit->text() : QString();
            }
            panel.selectFile(QString::fromStdString(folder.string()) + QLatin1Char('/') + name);
            return int(QDialog::Accepted);
        });
        PlotFormantController window(panels, [](const std::string&) {});
        ASSERT_TRUE(window.ReadDocument(path("vowels.txt")));
        window.resize(500, 400);
        ASSERT_TRUE(window.PlotFormantPict());
        EXPECT_EQ(button.toStdString(), "Save");
        EXPECT_EQ(filters.size(), 4);
        ASSERT_TRUE(fs::exists(path(c.written)));
        EXPECT_EQ(readAll(path(c.written)).substr(0, c.magic.size()), c.magic);
        if (c.magic == "<?xm") {
            EXPECT_NE(readAll(path(c.written)).find("<svg"), std::string::npos);
        }
        for (const char* wrong : {"fft.png.tif", "pict.tif.png", "chart.pdf.tif"}) {
            EXPECT_FALSE(fs::exists(path(wrong))) << wrong;
        }
        fs::remove(path(c.written));
    }
}

} // namespace
} // namespace phonaxis
