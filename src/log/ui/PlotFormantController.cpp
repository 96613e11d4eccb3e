#include "log/ui/PlotFormantController.h"

#include "display/FormantChart.h"
#include "display/MenuCommands.h"
#include "windows/ui/AnalysisWindowMenus.h"
#include "display/PictureExport.h"
#include "document/Prompts.h"
#include "log/ui/PlotFormantView.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFontDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <optional>
#include <set>

namespace phonaxis {

namespace {

// Cells and headers of the table use an 11-point font.
constexpr int kCellFontPt = 11;

struct ColumnSpec {
    const char* title;
    int widthPx;
};

// In the order of FormantTable::Column.
constexpr ColumnSpec kColumns[] = {{"", 30}, {"F1", 50}, {"F2", 50}, {"F3", 50}, {"Label", 200}};
constexpr int kColumnCount = static_cast<int>(std::size(kColumns));

const std::string* cellOf(const FormantRow& row, int column)
{
    switch (column) {
    case FormantTable::kColumnRow:
        return &row.row;
    case FormantTable::kColumnF1:
        return &row.f1;
    case FormantTable::kColumnF2:
        return &row.f2;
    case FormantTable::kColumnF3:
        return &row.f3;
    case FormantTable::kColumnLabel:
        return &row.label;
    default:
        return nullptr;
    }
}

bool isFormantColumn(int column)
{
    return column == FormantTable::kColumnF1 || column == FormantTable::kColumnF2 ||
           column == FormantTable::kColumnF3;
}

// What the chart reads as written in a formant cell: a whole number of Hz
// with an optional sign ("-1" marks a missing formant), or nothing. Other
// text plots at 0 Hz.
const QRegularExpression& wholeHzPattern()
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*([+-]?[0-9]+)?\\s*$"));
    return pattern;
}

bool isWholeHz(const QString& text)
{
    return wholeHzPattern().match(text).hasMatch();
}

// The editors of the formant cells take whole numbers only.
class FormantCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override
    {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (auto* line = qobject_cast<QLineEdit*>(editor);
            line && isFormantColumn(index.column())) {
            line->setValidator(new QRegularExpressionValidator(wholeHzPattern(), line));
        }
        return editor;
    }
};

std::string lastPathComponent(const std::string& path)
{
    return std::filesystem::path(path).filename().string();
}

QComboBox* rangeCombo(const char* name, const QString& accessible, QWidget* parent)
{
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QString::fromLatin1(name));
    combo->setAccessibleName(accessible);
    for (const std::int32_t hz : FormantTable::rangeChoicesHz()) {
        combo->addItem(QString::number(hz));
    }
    return combo;
}

} // namespace

// --- FormantTableModel -----------------------------------------------------------

FormantTableModel::FormantTableModel(FormantTable& table, QObject* parent)
    : QAbstractTableModel(parent), m_table(table)
{
}

void FormantTableModel::reload()
{
    beginResetModel();
    endResetModel();
}

int FormantTableModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid()) {
        return 0;
    }
    // A view addresses rows with int; a larger table shows its first rows.
    constexpr auto kMaxRows = static_cast<std::size_t>(std::numeric_limits<int>::max());
    return static_cast<int>(std::min(m_table.rowCount(), kMaxRows));
}

int FormantTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant FormantTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 ||
        static_cast<std::size_t>(index.row()) >= m_table.rowCount()) {
        return {};
    }
    const std::string* cell =
        cellOf(m_table.rows()[static_cast<std::size_t>(index.row())], index.column());
    if (cell == nullptr) {
        return {};
    }
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return QString::fromStdString(*cell);
    case Qt::ForegroundRole:
    case Qt::ToolTipRole: {
        // Text read from a file that is no number is kept, and shown as such.
        const QString text = QString::fromStdString(*cell);
        if (!isFormantColumn(index.column()) || isWholeHz(text)) {
            return {};
        }
        return role == Qt::ForegroundRole
                   ? QVariant(QColor(Qt::red))
                   : QVariant(tr("Not a whole number of Hz: plotted at 0 Hz"));
    }
    case Qt::TextAlignmentRole:
        return index.column() == FormantTable::kColumnLabel
                   ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                   : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    default:
        return {};
    }
}

bool FormantTableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || index.row() < 0 ||
        index.column() == FormantTable::kColumnRow || index.column() >= kColumnCount) {
        return false;
    }
    // A typing slip would silently plot at 0 Hz: formant cells take whole
    // numbers only.
    if (isFormantColumn(index.column()) && !isWholeHz(value.toString())) {
        return false;
    }
    const bool changed = m_table.setCell(static_cast<std::size_t>(index.row()),
                                         static_cast<FormantTable::Column>(index.column()),
                                         value.toString().toStdString());
    if (changed) {
        emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
    }
    return changed;
}

QVariant FormantTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return QString::fromLatin1(kColumns[section].title);
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant(Qt::AlignCenter);
    }
    return {};
}

Qt::ItemFlags FormantTableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid() || index.column() >= kColumnCount) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() != FormantTable::kColumnRow) {
        result |= Qt::ItemIsEditable;
    }
    return result;
}

// --- PlotFormantController ---------------------------------------------------------

PlotFormantController::PlotFormantController(Prompts& prompts, ConsoleSink console, QWidget* parent)
    : QWidget(parent, Qt::Window), m_prompts(&prompts), m_console(std::move(console))
{
    setObjectName(QStringLiteral("plotformant"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* layout = new QVBoxLayout(this);
    auto* body = new QHBoxLayout();
    layout->addLayout(body);

    buildTable();
    auto* tableColumn = new QVBoxLayout();
    tableColumn->addWidget(_Table, 1);
    auto* labelRow = new QHBoxLayout();
    m_Label = new QLineEdit(this);
    m_Label->setObjectName(QStringLiteral("m_Label"));
    m_Label->setAccessibleName(tr("Label for the selected rows"));
    m_Label->setPlaceholderText(tr("Label"));
    m_AddLabel = new QPushButton(tr("&Add Label"), this);
    m_AddLabel->setObjectName(QStringLiteral("m_AddLabel"));
    m_AddLabel->setAccessibleName(tr("Add label to the selected rows"));
    labelRow->addWidget(m_Label, 1);
    labelRow->addWidget(m_AddLabel);
    tableColumn->addLayout(labelRow);
    // The settings sit under the table, so that the chart has the whole
    // height of the window.
    tableColumn->addWidget(buildControls());
    body->addLayout(tableColumn, 0);

    _plotView = new PlotFormantView(this);
    _plotView->SetControllerID(&m_table);
    body->addWidget(_plotView, 1);

    buildMenus(*layout);

    connect(m_AddLabel, &QPushButton::clicked, this, [this] { actionAddLabel(); });
    connect(m_Label, &QLineEdit::returnPressed, this, [this] { actionAddLabel(); });
    connect(_Table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { selectionChanged(); });
    connect(m_model, &QAbstractItemModel::dataChanged, this, [this] { redraw(); });

    setWindowTitle(QString::fromLatin1(kTitlePrefix) + QString::fromLatin1(kUntitledName));
    syncControls();
    selectionChanged();
    updateActions();
    resize(1100, 720);
}

PlotFormantController::~PlotFormantController()
{
    // The table view, its model and the chart read the table: they go while
    // it still exists, and no signal of theirs reaches a half-destroyed
    // window.
    disconnect(_Table->selectionModel(), nullptr, this, nullptr);
    disconnect(m_model, nullptr, this, nullptr);
    delete _Table;
    delete _plotView;
    delete m_model;
}

void PlotFormantController::adoptPrompts(std::unique_ptr<Prompts> prompts)
{
    if (prompts) {
        m_ownPrompts = std::move(prompts);
        m_prompts = m_ownPrompts.get();
    }
}

void PlotFormantController::setOpenCommand(std::function<void()> command)
{
    m_openCommand = std::move(command);
    updateActions();
}

void PlotFormantController::buildTable()
{
    m_model = new FormantTableModel(m_table, this);
    _Table = new QTableView(this);
    _Table->setObjectName(QStringLiteral("_Table"));
    _Table->setAccessibleName(tr("Formant table"));
    QFont cellFont = _Table->font();
    cellFont.setPointSize(kCellFontPt);
    _Table->setFont(cellFont);
    _Table->horizontalHeader()->setFont(cellFont);
    _Table->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    _Table->verticalHeader()->hide(); // the row-number column numbers the rows
    _Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    _Table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    _Table->setModel(m_model);
    _Table->setItemDelegate(new FormantCellDelegate(_Table));
    int width = 0;
    for (int c = 0; c < kColumnCount; ++c) {
        _Table->setColumnWidth(c, kColumns[c].widthPx);
        width += kColumns[c].widthPx;
    }
    _Table->setMinimumWidth(width + 30);
}

QWidget* PlotFormantController::buildControls()
{
    auto* controls = new QWidget(this);
    auto* row = new QHBoxLayout(controls);
    row->setContentsMargins(0, 0, 0, 0);

    m_PlotGroup = new QGroupBox(tr("Plot"), controls);
    m_PlotGroup->setObjectName(QStringLiteral("m_PlotGroup"));
    auto* types = new QVBoxLayout(m_PlotGroup);
    const std::pair<const char*, QString> typeButtons[] = {
        {"F1F2", tr("F1/F&2")}, {"F1F2p", tr("F1/F2&'")}, {"F1F3", tr("F1/F&3")}};
    for (int t = 0; t < 3; ++t) {
        auto* button = new QRadioButton(typeButtons[t].second, m_PlotGroup);
        button->setObjectName(QString::fromLatin1(typeButtons[t].first));
        types->addWidget(button);
        m_plotTypeButtons[t] = button;
    }
    connect(m_plotTypeButtons[0], &QRadioButton::clicked, this, [this] { F1F2(); });
    connect(m_plotTypeButtons[1], &QRadioButton::clicked, this, [this] { F1F2p(); });
    connect(m_plotTypeButtons[2], &QRadioButton::clicked, this, [this] { F1F3(); });
    row->addWidget(m_PlotGroup);

    auto* drawBox = new QGroupBox(tr("Draw"), controls);
    auto* draws = new QVBoxLayout(drawBox);
    const std::pair<QCheckBox**, std::pair<const char*, QString>> checks[] = {
        {&m_checkDrawdata, {"m_bDrawdata", tr("&Data")}},
        {&m_checkDrawellipse, {"m_bDrawellipse", tr("Ell&ipses")}},
        {&m_checkDrawmean, {"m_bDrawmean", tr("&Means")}},
        {&m_checkDrawindividuallabels, {"m_bDrawindividuallabels", tr("Data la&bels")}},
        {&m_checkDrawmeanlabel, {"m_bDrawmeanlabel", tr("Mea&n labels")}},
    };
    for (const auto& [box, text] : checks) {
        *box = new QCheckBox(text.second, drawBox);
        (*box)->setObjectName(QString::fromLatin1(text.first));
        draws->addWidget(*box);
        connect(*box, &QCheckBox::toggled, this, [this] { PlotTypes(); });
    }
    row->addWidget(drawBox);

    auto* rangeBox = new QGroupBox(tr("Axis limits (Hz)"), controls);
    auto* ranges = new QVBoxLayout(rangeBox);
    m_comboF1Range = rangeCombo("m_comboF1Range", tr("F1 limit"), rangeBox);
    m_comboF2Range = rangeCombo("m_comboF2Range", tr("F2 limit"), rangeBox);
    m_comboF3Range = rangeCombo("m_comboF3Range", tr("F3 limit"), rangeBox);
    for (const auto& [combo, title] :
         {std::pair{m_comboF1Range, tr("F1 max")}, std::pair{m_comboF2Range, tr("F2 max")},
          std::pair{m_comboF3Range, tr("F3 max")}}) {
        auto* line = new QHBoxLayout();
        auto* label = new QLabel(title, rangeBox);
        label->setBuddy(combo);
        line->addWidget(label);
        line->addWidget(combo, 1);
        ranges->addLayout(line);
        connect(combo, &QComboBox::activated, this, [this] { comboBoxSelectionDidChange(); });
    }
    auto* font = new QPushButton(tr("F&ont…"), rangeBox);
    font->setObjectName(QStringLiteral("fontButton"));
    font->setAccessibleName(tr("Font of the point and mean labels"));
    connect(font, &QPushButton::clicked, this, [this] { fontButton(); });
    ranges->addWidget(font);
    row->addWidget(rangeBox);
    row->addStretch(1);
    return controls;
}

void PlotFormantController::buildMenus(QVBoxLayout& layout)
{
    auto add = [this](QMenu* menu, const char* name, auto slot) {
        QAction* action = makeMenuAction(name, this);
        menu->addAction(action);
        addAction(action);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    auto* bar = new QMenuBar(this);
    QMenu* file = addNamedMenu(*bar, "&File");
    m_openAction = add(file, "_PlotFormantOpen:", [this] {
        if (m_openCommand) {
            m_openCommand();
        }
    });
    file->addSeparator();
    m_saveAction = add(file, "_PlotFormantSave:", [this] { PlotFormantSave(); });
    m_saveAsAction = add(file, "_PlotFormantSaveas:", [this] { PlotFormantSaveas(); });
    file->addSeparator();
    m_pictAction = add(file, "_PlotFormantPict:", [this] { PlotFormantPict(); });
    m_printAction = add(file, "printDocument:", [this] { printDocument(); });
    file->addSeparator();
    QAction* closeAction = makeMenuAction("performClose:", this);
    file->addAction(closeAction);
    addAction(closeAction);
    // Closing deletes the window: it happens once the menu has let go of it.
    connect(
        closeAction, &QAction::triggered, this, [this] { close(); }, Qt::QueuedConnection);
    QMenu* edit = addNamedMenu(*bar, "&Edit");
    m_insertRowAction = add(edit, "_PlotFormantInsertrow:", [this] { PlotFormantInsertrow(); });
    m_deleteRowAction = add(edit, "_PlotFormantDeleterow:", [this] { PlotFormantDeleterow(); });
    for (QMenu* menu : {file, edit}) {
        connect(menu, &QMenu::aboutToShow, this, [this] { updateActions(); });
    }
    // Its own "_PlotFormantOpen:" stays; the log, status and About commands join.
    addApplicationMenus(*this, *bar);
    layout.setMenuBar(bar);
}

// --- the table --------------------------------------------------------------------

bool PlotFormantController::ReadDocument(const std::string& path)
{
    std::string diagnostic;
    if (!m_table.ReadDocument(path, &diagnostic)) {
        console(diagnostic + "\n");
        return false;
    }
    reloadTable();
    return true;
}

bool PlotFormantController::ReadDocumentFromSpectrogramDict(const std::vector<FormantRow>& rows)
{
    // The rows as the table's columns, the form the hand-over takes.
    FormantTable handed;
    handed.m_rows = rows;
    const bool read = m_table.ReadDocumentFromSpectrogramDict(handed.GetTable());
    reloadTable();
    return read;
}

bool PlotFormantController::Save(const std::string& path)
{
    return saveTo(path);
}

std::vector<std::size_t> PlotFormantController::selectedRows() const
{
    std::set<std::size_t> rows;
    for (const QModelIndex& index : _Table->selectionModel()->selectedIndexes()) {
        if (index.row() >= 0) {
            rows.insert(static_cast<std::size_t>(index.row()));
        }
    }
    return {rows.begin(), rows.end()};
}

void PlotFormantController::reloadTable()
{
    m_model->reload();
    for (int c = 0; c < kColumnCount; ++c) {
        _Table->setColumnWidth(c, kColumns[c].widthPx);
    }
    selectionChanged();
    redraw();
}

void PlotFormantController::redraw()
{
    _plotView->Refresh();
    updateActions();
}

void PlotFormantController::selectionChanged()
{
    const bool several = selectedRows().size() >= 2;
    m_Label->setVisible(several);
    m_AddLabel->setVisible(several);
    updateActions();
}

// --- commands ---------------------------------------------------------------------

bool PlotFormantController::saveTo(const std::string& path)
{
    std::string error;
    const bool saved = m_table.Save(path, error);
    if (!saved) {
        m_prompts->alert(kSaveFailedTitle, error, "OK");
    }
    updateActions();
    return saved;
}

void PlotFormantController::setTitleFor(const std::string& path)
{
    setWindowTitle(QString::fromLatin1(kTitlePrefix) +
                   QString::fromStdString(lastPathComponent(path)));
}

bool PlotFormantController::saveWithPanel(const std::string& prompt)
{
    SavePanelRequest request;
    request.prompt = prompt;
    request.requiredType = "txt";
    request.proposedName = kProposedName;
    request.directory = QDir::homePath().toStdString();
    const std::optional<std::string> chosen = m_prompts->savePanel(request);
    if (!chosen) {
        console("Cansel\n");
        return false;
    }
    if (!saveTo(*chosen)) {
        return false;
    }
    setTitleFor(*chosen);
    return true;
}

bool PlotFormantController::PlotFormantSave()
{
    if (m_table.m_strFilePath.empty()) {
        return PlotFormantSaveas();
    }
    return saveTo(m_table.m_strFilePath);
}

bool PlotFormantController::PlotFormantSaveas()
{
    return saveWithPanel(tr("save").toStdString());
}

bool PlotFormantController::PlotFormantPict()
{
    SavePanelRequest request = pictureSavePanel(QDir::homePath().toStdString());
    request.proposedName = kPictureName;
    const std::optional<std::string> chosen = m_prompts->savePanel(request);
    if (!chosen) {
        return false;
    }
    std::string error;
    if (!_plotView->SaveasPict(*chosen, error)) {
        m_prompts->alert(kPictureFailedTitle, error, "OK");
        return false;
    }
    return true;
}

bool PlotFormantController::printDocument()
{
    QPrinter printer(QPrinter::HighResolution);
    const bool accepted = m_printSetup ? m_printSetup(printer)
                                       : QPrintDialog(&printer, this).exec() == QDialog::Accepted;
    if (!accepted) {
        return false;
    }
    if (!printGraph(printer, _plotView->size(), _plotView->drawing())) {
        m_prompts->alert(kPrintFailedTitle, "The printer could not print the page.", "OK");
        return false;
    }
    return true;
}

void PlotFormantController::PlotFormantInsertrow()
{
    m_table.insertRow();
    reloadTable();
    _Table->scrollToBottom();
}

void PlotFormantController::PlotFormantDeleterow()
{
    const std::vector<std::size_t> rows = selectedRows();
    if (rows.empty()) {
        return;
    }
    m_table.deleteRows(rows);
    _Table->clearSelection();
    reloadTable();
}

void PlotFormantController::actionAddLabel()
{
    const std::vector<std::size_t> rows = selectedRows();
    if (rows.size() < 2) {
        return;
    }
    m_table.labelRows(rows, m_Label->text().toStdString());
    m_Label->clear();
    m_model->reload();
    // Reloading drops the selection, which hides the field and its button.
    selectionChanged();
    redraw();
}

void PlotFormantController::F1F2()
{
    m_table.F1F2();
    syncControls();
    redraw();
}

void PlotFormantController::F1F2p()
{
    m_table.F1F2p();
    syncControls();
    redraw();
}

void PlotFormantController::F1F3()
{
    m_table.F1F3();
    syncControls();
    redraw();
}

void PlotFormantController::PlotTypes()
{
    m_table.m_bDrawdata = m_checkDrawdata->isChecked();
    m_table.m_bDrawellipse = m_checkDrawellipse->isChecked();
    m_table.m_bDrawmean = m_checkDrawmean->isChecked();
    m_table.m_bDrawindividuallabels = m_checkDrawindividuallabels->isChecked();
    m_table.m_bDrawmeanlabel = m_checkDrawmeanlabel->isChecked();
    redraw();
}

void PlotFormantController::comboBoxSelectionDidChange()
{
    m_table.comboBoxSelectionDidChange(m_comboF1Range->currentIndex(),
                                       m_comboF2Range->currentIndex(),
                                       m_comboF3Range->currentIndex());
    redraw();
}

void PlotFormantController::fontButton()
{
    bool chosen = false;
    const QFont font =
        QFontDialog::getFont(&chosen, _plotView->fontAttributes().font, this, tr("Label Font"));
    if (chosen) {
        FormantChartText text = _plotView->fontAttributes();
        text.font = font;
        _plotView->setFontAttributes(text);
    }
}

void PlotFormantController::syncControls()
{
    const std::int32_t type = m_table.GetPlotType();
    for (int t = 0; t < 3; ++t) {
        m_plotTypeButtons[t]->setChecked(type == t);
    }
    const std::pair<QCheckBox*, bool> checks[] = {
        {m_checkDrawdata, m_table.GetDrawData()},
        {m_checkDrawellipse, m_table.GetDrawellipse()},
        {m_checkDrawmean, m_table.GetDrawmean()},
        {m_checkDrawindividuallabels, m_table.GetDrawindividuallabels()},
        {m_checkDrawmeanlabel, m_table.GetDrawmeanlabel()},
    };
    for (const auto& [box, on] : checks) {
        const QSignalBlocker quiet(box);
        box->setChecked(on);
    }
    m_comboF1Range->setCurrentIndex(FormantTable::rangeChoiceIndex(m_table.GetF1()));
    m_comboF2Range->setCurrentIndex(FormantTable::rangeChoiceIndex(m_table.GetF2()));
    m_comboF3Range->setCurrentIndex(FormantTable::rangeChoiceIndex(m_table.GetF3()));
}

bool PlotFormantController::validateMenuItem(const std::string& command) const
{
    if (command == "_PlotFormantSave:") {
        return m_table.m_bDirty;
    }
    if (command == "_PlotFormantDeleterow:") {
        return !selectedRows().empty();
    }
    if (command == "_PlotFormantOpen:") {
        return static_cast<bool>(m_openCommand);
    }
    return action(command) != nullptr;
}

QAction* PlotFormantController::action(const std::string& name) const
{
    const std::pair<const char*, QAction*> actions[] = {
        {"_PlotFormantOpen:", m_openAction},
        {"_PlotFormantSave:", m_saveAction},
        {"_PlotFormantSaveas:", m_saveAsAction},
        {"_PlotFormantPict:", m_pictAction},
        {"printDocument:", m_printAction},
        {"_PlotFormantInsertrow:", m_insertRowAction},
        {"_PlotFormantDeleterow:", m_deleteRowAction},
    };
    for (const auto& [command, found] : actions) {
        if (name == command) {
            return found;
        }
    }
    return nullptr;
}

void PlotFormantController::updateActions()
{
    if (m_saveAction == nullptr) {
        return; // still being built
    }
    for (const char* command :
         {"_PlotFormantOpen:", "_PlotFormantSave:", "_PlotFormantSaveas:", "_PlotFormantPict:",
          "printDocument:", "_PlotFormantInsertrow:", "_PlotFormantDeleterow:"}) {
        action(command)->setEnabled(validateMenuItem(command));
    }
}

bool PlotFormantController::windowShouldClose()
{
    if (!m_table.m_bDirty) {
        return true;
    }
    const int answer = m_prompts->alert(kCloseTitle, "", "Save", "Don't Save", "Cancel");
    if (answer == 1) {
        // A cancelled panel or a failed write keeps the window, and the
        // table with it.
        return saveWithPanel("save");
    }
    return answer == 0;
}

void PlotFormantController::closeEvent(QCloseEvent* event)
{
    if (windowShouldClose()) {
        event->accept();
    } else {
        event->ignore();
    }
}

void PlotFormantController::console(const std::string& line) const
{
    if (m_console) {
        m_console(line);
    }
}

} // namespace phonaxis
