#include "app/panels/SettingsPanel.h"

#include "document/AppSettings.h"
#include "document/MyDocument.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>

namespace phonaxis {

SettingsPanel::SettingsPanel(MyDocument& document, const AppSettings& settings, Prompts& prompts,
                             const QString& name, const QString& title, QWidget* parent)
    : QDialog(parent), m_document(document), m_settings(settings), m_prompts(prompts)
{
    setObjectName(name);
    setWindowTitle(title);
    setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(this);
    m_body = new QVBoxLayout;
    layout->addLayout(m_body);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* cancel = buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName("Cancel");
    QPushButton* ok = buttons->addButton(tr("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName("OK");
    ok->setDefault(true);
    layout->addWidget(buttons);
    connect(ok, &QPushButton::clicked, this, &SettingsPanel::pressOK);
    connect(cancel, &QPushButton::clicked, this, &SettingsPanel::pressCancel);
}

void SettingsPanel::pressOK()
{
    if (!isVisible() || !canSave()) {
        return;
    }
    save();
    if (patchesConfiguration()) {
        m_lastPatch = patchApplicationConfiguration(
            m_settings, [this](Configuration& record) { patchConfiguration(record); });
        // The settings the record has no place for are kept beside it.
        if (m_lastPatch == PatchResult::Written && patchesSupplement()) {
            writeSupplement(m_settings.configPath(), m_document);
        }
    }
    done(kOK);
}

void SettingsPanel::pressCancel()
{
    if (isVisible()) {
        done(kCancel);
    }
}

int SettingsPanel::run(const PanelDriver& driver)
{
    setup();
    setResult(kCancel);
    if (!driver) {
        // A run ended from outside (the application quitting) is a Cancel.
        return exec() == kOK ? kOK : kCancel;
    }
    show();
    driver(*this);
    if (isVisible()) {
        done(kCancel);
    }
    return result();
}

// --- channel tables ---------------------------------------------------------------

namespace {

// Check cells that a click anywhere in the cell toggles, not only a click
// on the small box at its left edge (Space toggles them too).
class WholeCellCheckDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override
    {
        const Qt::ItemFlags flags = model->flags(index);
        const bool checkable = (flags & Qt::ItemIsUserCheckable) && (flags & Qt::ItemIsEnabled) &&
                               index.data(Qt::CheckStateRole).isValid();
        const bool mouse = event->type() == QEvent::MouseButtonPress ||
                           event->type() == QEvent::MouseButtonRelease ||
                           event->type() == QEvent::MouseButtonDblClick;
        if (!checkable || !mouse) {
            return QStyledItemDelegate::editorEvent(event, model, option, index);
        }
        const auto* click = static_cast<QMouseEvent*>(event);
        if (click->button() != Qt::LeftButton ||
            !option.rect.contains(click->position().toPoint())) {
            return false;
        }
        if (event->type() != QEvent::MouseButtonRelease) {
            return true; // the press and a double click only prepare the toggle
        }
        const bool checked = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
        return model->setData(index, checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
    }
};

} // namespace

void prepareChannelTable(QTableWidget& table, int rowCount, const QStringList& headers,
                         const QList<int>& widths)
{
    table.clear();
    table.setColumnCount(static_cast<int>(headers.size()));
    table.setRowCount(rowCount);
    table.setHorizontalHeaderLabels(headers);
    table.horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    table.verticalHeader()->setVisible(false);
    if (dynamic_cast<WholeCellCheckDelegate*>(table.itemDelegate()) == nullptr) {
        table.setItemDelegate(new WholeCellCheckDelegate(&table));
    }
    for (int column = 0; column < widths.size() && column < table.columnCount(); ++column) {
        table.setColumnWidth(column, widths[column]);
    }
    for (int row = 0; row < rowCount; ++row) {
        setReadOnlyCell(table, row, 0, QString::asprintf("%d", row));
    }
}

void setReadOnlyCell(QTableWidget& table, int row, int column, const QString& text)
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    table.setItem(row, column, item);
}

void setCheckCell(QTableWidget& table, int row, int column, bool checked)
{
    auto* item = new QTableWidgetItem;
    item->setFlags((item->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsEditable);
    item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    table.setItem(row, column, item);
}

bool isCellChecked(const QTableWidget& table, int row, int column)
{
    const QTableWidgetItem* item = table.item(row, column);
    return item != nullptr && item->checkState() == Qt::Checked;
}

QString cellText(const QTableWidget& table, int row, int column)
{
    const QTableWidgetItem* item = table.item(row, column);
    return item != nullptr ? item->text() : QString();
}

} // namespace phonaxis
