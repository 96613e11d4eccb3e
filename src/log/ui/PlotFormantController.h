#pragma once

#include "log/FormantTable.h"

#include <QAbstractTableModel>
#include <QWidget>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QCloseEvent;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPrinter;
class QPushButton;
class QRadioButton;
class QTableView;
class QVBoxLayout;

namespace phonaxis {

class PlotFormantView;
class Prompts;

// The cells of a formant table for a table view: "" (the row number,
// read-only), "F1", "F2", "F3" and "Label". An edit goes through
// FormantTable::setCell.
class FormantTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit FormantTableModel(FormantTable& table, QObject* parent = nullptr);

    // The table's rows changed: the view reloads everything.
    void reload();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    FormantTable& m_table;
};

// A formant plot window ("plotformant"): the editable table of formant
// triples with labels beside the vowel chart of them, the chart's settings
// (plot type, what is drawn, axis limits, label font), and the window's
// commands: Save, Save As, picture, print, insert and delete rows, label
// several rows at once, and closing with the unsaved-changes question.
// Every window is independent. Main thread only.
class PlotFormantController : public QWidget {
    Q_OBJECT
public:
    using ConsoleSink = std::function<void(const std::string&)>;
    // Sets up the printer before printing; false cancels. By default the
    // print dialog, modal to this window; tests hand a printer writing a file.
    using PrintSetup = std::function<bool(QPrinter&)>;

    static constexpr const char* kTitlePrefix = "Plot Formant:: ";
    static constexpr const char* kUntitledName = "Untitled";
    static constexpr const char* kCloseTitle = "Save changes before closing?";
    static constexpr const char* kSaveFailedTitle = "The formant table could not be saved.";
    static constexpr const char* kPictureFailedTitle = "The picture could not be saved.";
    static constexpr const char* kPrintFailedTitle = "Printing failed.";
    static constexpr const char* kProposedName = "file.txt";
    static constexpr const char* kPictureName = "pict.tif";

    // `prompts` answers the alerts and panels and must outlive the window
    // (see adoptPrompts); `console` receives diagnostic lines.
    PlotFormantController(Prompts& prompts, ConsoleSink console, QWidget* parent = nullptr);
    ~PlotFormantController() override;

    // Makes `prompts` the window's own (dialogs modal to it) and uses them.
    void adoptPrompts(std::unique_ptr<Prompts> prompts);
    // What "_PlotFormantOpen:" in this window's menu runs (the application's
    // command); without one the command is disabled.
    void setOpenCommand(std::function<void()> command);
    void setPrintSetup(PrintSetup setup) { m_printSetup = std::move(setup); }

    // --- the table ------------------------------------------------------------

    // Reads a formant file into the table (the table is clean afterwards).
    // A file that cannot be read writes "File length is zero, <path>" to the
    // console, keeps the table and returns false.
    bool ReadDocument(const std::string& path);
    // The spectrogram's formant rows replace the table: no file, unsaved.
    bool ReadDocumentFromSpectrogramDict(const std::vector<FormantRow>& rows);
    // Writes the table to `path`; on failure tells the user and returns false.
    bool Save(const std::string& path);

    FormantTable& GetTable() { return m_table; }
    const FormantTable& GetTable() const { return m_table; }
    PlotFormantView* GetPlotView() const { return _plotView; }
    QTableView* tableView() const { return _Table; }
    // The selected rows, ascending.
    std::vector<std::size_t> selectedRows() const;

    // --- commands -------------------------------------------------------------

    // "_PlotFormantSave:": to the known file, else as Save As.
    bool PlotFormantSave();
    // "_PlotFormantSaveas:": the save panel (home folder, "file.txt", type
    // "txt"); on OK writes the file, and the window title and the path
    // follow it. A cancelled panel writes "Cansel" to the console.
    bool PlotFormantSaveas();
    // "_PlotFormantPict:": the picture save panel ("pict.tif"; PNG, PDF,
    // TIFF or SVG); on OK writes the chart in a view of the view's size, in
    // the type the name's extension says.
    bool PlotFormantPict();
    // "printDocument:": the chart on one page.
    bool printDocument();
    // "_PlotFormantInsertrow:": appends a row numbered row count + 1 with
    // F1, F2, F3 "0".
    void PlotFormantInsertrow();
    // "_PlotFormantDeleterow:": removes the selected rows and renumbers.
    void PlotFormantDeleterow();
    // Writes the label field into every selected row, then clears and
    // hides the field and its button.
    void actionAddLabel();

    // Plot types 0, 1, 2 (the radio buttons), redrawn.
    void F1F2();
    void F1F2p();
    void F1F3();
    // The check boxes changed: redraws.
    void PlotTypes();
    // An axis combo box changed: reads the limits and redraws.
    void comboBoxSelectionDidChange();
    // The font panel: the chosen font becomes the labels' font.
    void fontButton();

    // Whether a window command is enabled now: Save with unsaved changes,
    // Delete Row with rows selected, the others always.
    bool validateMenuItem(const std::string& command) const;
    // The window's command action by name; null for another name.
    QAction* action(const std::string& name) const;

    QLineEdit* labelField() const { return m_Label; }
    QPushButton* addLabelButton() const { return m_AddLabel; }

protected:
    // With unsaved changes asks "Save changes before closing?": Save (the
    // save panel; the window stays open when it is cancelled or the file
    // cannot be written), Don't save, or Cancel (stays open).
    void closeEvent(QCloseEvent* event) override;

private:
    void buildTable();
    QWidget* buildControls();
    void buildMenus(QVBoxLayout& layout);
    // Reloads the table view and the chart after the rows changed.
    void reloadTable();
    // The chart and the commands after an edit or a setting changed.
    void redraw();
    void updateActions();
    void selectionChanged();
    void syncControls();
    bool saveTo(const std::string& path);
    bool saveWithPanel(const std::string& prompt);
    void setTitleFor(const std::string& path);
    bool windowShouldClose();
    void console(const std::string& line) const;

    FormantTable m_table;
    Prompts* m_prompts;                    // not owned unless it is m_ownPrompts
    std::unique_ptr<Prompts> m_ownPrompts; // the window's own dialogs; may be null
    ConsoleSink m_console;
    PrintSetup m_printSetup; // empty: the print dialog
    std::function<void()> m_openCommand;

    // Children of the window (Qt parents).
    FormantTableModel* m_model = nullptr;
    QTableView* _Table = nullptr;
    PlotFormantView* _plotView = nullptr;
    QGroupBox* m_PlotGroup = nullptr;
    QRadioButton* m_plotTypeButtons[3] = {};
    QCheckBox* m_checkDrawdata = nullptr;
    QCheckBox* m_checkDrawellipse = nullptr;
    QCheckBox* m_checkDrawmean = nullptr;
    QCheckBox* m_checkDrawindividuallabels = nullptr;
    QCheckBox* m_checkDrawmeanlabel = nullptr;
    QComboBox* m_comboF1Range = nullptr;
    QComboBox* m_comboF2Range = nullptr;
    QComboBox* m_comboF3Range = nullptr;
    QLineEdit* m_Label = nullptr;
    QPushButton* m_AddLabel = nullptr;
    QAction* m_openAction = nullptr;
    QAction* m_saveAction = nullptr;
    QAction* m_saveAsAction = nullptr;
    QAction* m_pictAction = nullptr;
    QAction* m_printAction = nullptr;
    QAction* m_insertRowAction = nullptr;
    QAction* m_deleteRowAction = nullptr;
};

} // namespace phonaxis
