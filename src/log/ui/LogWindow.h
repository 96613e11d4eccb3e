#pragma once

#include <QAbstractTableModel>
#include <QWidget>

#include <functional>
#include <string>

class QAction;
class QCloseEvent;
class QTableView;

namespace phonaxis {

class LogTable;
class Prompts;

// The cells of the measurement log for a table view: one view column per
// log column, in table order, with the log's titles (centred), widths and
// alignment. Every cell but the row number may be edited; an edit goes
// through LogTable::editCell. Rows are read on demand, so a log of many
// thousands of rows costs no more than the rows on screen.
class LogTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit LogTableModel(LogTable& table, QObject* parent = nullptr);

    // The log's rows or columns changed: the view reloads everything.
    void reload();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    LogTable& m_table;
};

// The single measurement-log window (gLogView): the table of the log, its
// Save and Save As commands and the confirmation on closing with unsaved
// changes. Closing only hides it; the log's owner keeps it for the whole run.
// Main thread only.
class LogWindow : public QWidget {
    Q_OBJECT
public:
    using ConsoleSink = std::function<void(const std::string&)>;

    static constexpr const char* kCloseTitle = "Save changes before closing?";
    static constexpr const char* kSaveFailedTitle = "The log could not be saved.";
    static constexpr const char* kProposedName = "logFile.txt";

    // `table` and `prompts` must outlive the window. The window installs
    // itself as the table's refresh handler.
    LogWindow(LogTable& table, Prompts& prompts, ConsoleSink console, QWidget* parent = nullptr);
    ~LogWindow() override;

    // "_LogSave:": saves to the log's path; without one, as "_LogSaveas:".
    // True when the log was written.
    bool LogSave();
    // "_LogSaveas:": the save panel (home folder, "logFile.txt", type "txt");
    // on OK saves there, and the path and the window title follow the file.
    // A cancelled panel writes "Cansel" to the console and changes nothing.
    bool LogSaveas();
    // Whether "_LogSave:" or "_LogSaveas:" is enabled now.
    bool validateMenuItem(const std::string& command) const;

    // The window's command action by name ("_LogSave:", "_LogSaveas:").
    QAction* action(const std::string& name) const;

    // Reloads the view from the log (the log's Refresh).
    void Refresh();

    QTableView* tableView() const { return m_view; }
    LogTableModel* model() const { return m_model; }

protected:
    // With unsaved changes asks "Save changes before closing?": Save (saves
    // first; the window stays open when saving fails or is cancelled),
    // Don't Save, or Cancel (the window stays open).
    void closeEvent(QCloseEvent* event) override;

private:
    // Whether the window may close, asking about unsaved changes.
    bool windowShouldClose();
    bool saveTo(const std::string& path);
    void applyColumnWidths();
    void updateActions();

    LogTable& m_table;
    Prompts& m_prompts;
    ConsoleSink m_console;
    LogTableModel* m_model = nullptr; // owned by the window (Qt parent)
    QTableView* m_view = nullptr;
    QAction* m_saveAction = nullptr;
    QAction* m_saveAsAction = nullptr;
};

} // namespace phonaxis
