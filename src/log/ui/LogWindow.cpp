#include "log/ui/LogWindow.h"

#include "display/MenuCommands.h"
#include "windows/ui/AnalysisWindowMenus.h"

#include "document/Prompts.h"
#include "log/LogTable.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFont>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QTableView>
#include <QVBoxLayout>

#include <filesystem>
#include <limits>
#include <optional>

namespace phonaxis {

namespace {

// Cells and headers of the log use an 11-point font.
constexpr int kCellFontPt = 11;

const LogColumn* columnAt(const LogTable& table, int index)
{
    const auto& columns = table.columns();
    if (index < 0 || static_cast<std::size_t>(index) >= columns.size()) {
        return nullptr;
    }
    return &columns[static_cast<std::size_t>(index)];
}

std::string lastPathComponent(const std::string& path)
{
    return std::filesystem::path(path).filename().string();
}

} // namespace

// --- LogTableModel -------------------------------------------------------------

LogTableModel::LogTableModel(LogTable& table, QObject* parent)
    : QAbstractTableModel(parent), m_table(table)
{
}

void LogTableModel::reload()
{
    beginResetModel();
    endResetModel();
}

int LogTableModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid()) {
        return 0;
    }
    // A view addresses rows with int; a larger log shows its first rows.
    const std::size_t rows = m_table.rowCount();
    constexpr auto kMaxRows = static_cast<std::size_t>(std::numeric_limits<int>::max());
    return static_cast<int>(rows < kMaxRows ? rows : kMaxRows);
}

int LogTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_table.columns().size());
}

QVariant LogTableModel::data(const QModelIndex& index, int role) const
{
    const LogColumn* column = columnAt(m_table, index.column());
    if (!index.isValid() || column == nullptr || index.row() < 0) {
        return {};
    }
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return QString::fromStdString(
            m_table.cell(static_cast<std::size_t>(index.row()), column->identifier));
    case Qt::TextAlignmentRole:
        return column->alignment == LogCellAlignment::Right
                   ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                   : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

bool LogTableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    const LogColumn* column = columnAt(m_table, index.column());
    if (role != Qt::EditRole || !index.isValid() || column == nullptr || index.row() < 0) {
        return false;
    }
    const bool changed = m_table.editCell(static_cast<std::size_t>(index.row()), column->identifier,
                                          value.toString().toStdString());
    if (changed) {
        emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
    }
    return changed;
}

QVariant LogTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal) {
        return {};
    }
    const LogColumn* column = columnAt(m_table, section);
    if (column == nullptr) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return QString::fromStdString(column->title);
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant(Qt::AlignCenter);
    }
    return {};
}

Qt::ItemFlags LogTableModel::flags(const QModelIndex& index) const
{
    const LogColumn* column = columnAt(m_table, index.column());
    if (!index.isValid() || column == nullptr) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (column->editable) {
        result |= Qt::ItemIsEditable;
    }
    return result;
}

// --- LogWindow -----------------------------------------------------------------

LogWindow::LogWindow(LogTable& table, Prompts& prompts, ConsoleSink console, QWidget* parent)
    : QWidget(parent, Qt::Window), m_table(table), m_prompts(prompts), m_console(std::move(console))
{
    m_model = new LogTableModel(m_table, this);
    m_view = new QTableView(this);
    QFont cellFont = m_view->font();
    cellFont.setPointSize(kCellFontPt);
    m_view->setFont(cellFont);
    m_view->horizontalHeader()->setFont(cellFont);
    m_view->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    m_view->verticalHeader()->hide(); // the row-number column shows the rows
    m_view->setModel(m_model);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);

    m_saveAction = makeMenuAction("_LogSave:", this);
    connect(m_saveAction, &QAction::triggered, this, [this] { LogSave(); });
    m_saveAsAction = makeMenuAction("_LogSaveas:", this);
    connect(m_saveAsAction, &QAction::triggered, this, [this] { LogSaveas(); });
    addAction(m_saveAction);
    addAction(m_saveAsAction);

    // The window's own File menu: its Save commands and Close (which hides
    // it after the unsaved-changes question).
    auto* bar = new QMenuBar(this);
    QMenu* file = addNamedMenu(*bar, "&File");
    file->addAction(m_saveAction);
    file->addAction(m_saveAsAction);
    file->addSeparator();
    QAction* closeAction = makeMenuAction("performClose:", this);
    file->addAction(closeAction);
    addAction(closeAction);
    connect(
        closeAction, &QAction::triggered, this, [this] { close(); }, Qt::QueuedConnection);
    connect(file, &QMenu::aboutToShow, this, [this] { updateActions(); });
    addApplicationMenus(*this, *bar);
    layout->setMenuBar(bar);
    connect(m_model, &QAbstractItemModel::dataChanged, this, [this] { updateActions(); });

    resize(800, 300);
    m_table.setRefreshHandler([this] { Refresh(); });
    Refresh();
}

LogWindow::~LogWindow()
{
    m_table.setRefreshHandler({});
}

void LogWindow::Refresh()
{
    m_model->reload();
    applyColumnWidths();
    updateActions();
    if (m_model->rowCount() > 0) {
        m_view->scrollToBottom(); // the row just added
    }
}

void LogWindow::applyColumnWidths()
{
    const auto& columns = m_table.columns();
    for (std::size_t i = 0; i < columns.size(); ++i) {
        m_view->setColumnWidth(static_cast<int>(i), columns[i].widthPx);
    }
}

void LogWindow::updateActions()
{
    // The actions stand for the commands while the window is key, so they
    // are judged as if it were visible.
    m_saveAction->setEnabled(m_table.validateMenuItem("_LogSave:", true));
    m_saveAsAction->setEnabled(m_table.validateMenuItem("_LogSaveas:", true));
}

QAction* LogWindow::action(const std::string& name) const
{
    if (name == "_LogSave:") {
        return m_saveAction;
    }
    if (name == "_LogSaveas:") {
        return m_saveAsAction;
    }
    return nullptr;
}

bool LogWindow::validateMenuItem(const std::string& command) const
{
    return m_table.validateMenuItem(command, isVisible());
}

bool LogWindow::saveTo(const std::string& path)
{
    std::string error;
    if (!m_table.Save(path, error)) {
        m_prompts.alert(kSaveFailedTitle, error, "OK");
        updateActions();
        return false;
    }
    updateActions();
    return true;
}

bool LogWindow::LogSave()
{
    if (m_table.m_strFilePath.empty()) {
        return LogSaveas();
    }
    return saveTo(m_table.m_strFilePath);
}

bool LogWindow::LogSaveas()
{
    SavePanelRequest request;
    request.prompt = tr("save").toStdString();
    request.requiredType = "txt";
    request.proposedName = kProposedName;
    request.directory = QDir::homePath().toStdString();
    const std::optional<std::string> chosen = m_prompts.savePanel(request);
    if (!chosen) {
        if (m_console) {
            m_console("Cansel\n");
        }
        return false;
    }
    if (!saveTo(*chosen)) {
        return false;
    }
    m_table.m_strFilePath = *chosen;
    setWindowTitle(QString::fromStdString(lastPathComponent(*chosen)));
    return true;
}

bool LogWindow::windowShouldClose()
{
    if (!m_table.m_bDirty) {
        return true;
    }
    const int answer = m_prompts.alert(kCloseTitle, "", "Save", "Don't Save", "Cancel");
    if (answer == 1) {
        // Closing after a failed or cancelled save would lose the rows.
        return LogSave();
    }
    return answer == 0;
}

void LogWindow::closeEvent(QCloseEvent* event)
{
    if (windowShouldClose()) {
        event->accept();
    } else {
        event->ignore();
    }
}

} // namespace phonaxis
