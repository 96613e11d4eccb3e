#include "app/StatusWindowController.h"

#include "document/MyDocument.h"
#include "document/NumberText.h"

#include <QFont>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>

namespace phonaxis {

const char* const StatusWindowController::kColumnTitles[kColumnCount] = {
    "", "Signal Name", "Sample Rate", "Filter Rate", "Gain", "Reference", "Value", "Unit"};

namespace {

constexpr int kMinimumColumnWidth = 5;

// Columns whose cells are numbers, shown right-aligned.
bool isNumericColumn(int column)
{
    return column != 1 && column != 7;
}

QTableWidgetItem* cell(const QString& text, int column)
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setTextAlignment(isNumericColumn(column) ? (Qt::AlignRight | Qt::AlignVCenter)
                                                   : (Qt::AlignLeft | Qt::AlignVCenter));
    return item;
}

// A readout with `decimals` decimals; a small negative value reads "0.000",
// not "-0.000".
QString fixed(double value, int decimals)
{
    return QString::fromStdString(fixedNumber(value, decimals));
}

} // namespace

StatusWindowController::StatusWindowController(QWidget* parent)
    : QWidget(parent, Qt::Window), _statusTable(new QTableWidget(0, kColumnCount, this)),
      m_cursorTime(new QLabel(this)), m_duration(new QLabel(this))
{
    setObjectName("status");
    _statusTable->setObjectName("_statusTable");
    m_cursorTime->setObjectName("_cursorTime");
    m_duration->setObjectName("_duration");

    QStringList titles;
    for (const char* title : kColumnTitles) {
        titles << QString::fromUtf8(title);
    }
    _statusTable->setHorizontalHeaderLabels(titles);
    _statusTable->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    _statusTable->horizontalHeader()->setMinimumSectionSize(kMinimumColumnWidth);
    for (int column = 0; column < kColumnCount; ++column) {
        _statusTable->setColumnWidth(column, kColumnWidths[column]);
    }
    _statusTable->verticalHeader()->hide();
    _statusTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    _statusTable->setFont(QFont(QStringLiteral("Chicago"), 11));

    auto* fields = new QFormLayout;
    fields->addRow(tr("Time (ms):"), m_cursorTime);
    fields->addRow(tr("Duration (ms):"), m_duration);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(_statusTable);
    resize(600, 260);
}

QString StatusWindowController::wholeNumber(double value)
{
    const double whole = std::trunc(value);
    // -0.0 prints as "-0"; a dropped fraction of a small negative is 0.
    return QString::asprintf("%.0f", whole == 0.0 ? 0.0 : whole);
}

void StatusWindowController::setupFor(const MyDocument* document, const QString& displayName)
{
    setWindowTitle(displayName);
    m_cursorTime->clear();
    m_duration->clear();
    _statusTable->setRowCount(0);
    if (document == nullptr || !document->m_bHaveData) {
        return;
    }
    const int count = document->channelsInUse();
    _statusTable->setRowCount(count);
    for (int row = 0; row < count; ++row) {
        const Channels& channel = document->getChannel(row);
        _statusTable->setItem(row, 0, cell(QString::asprintf("%d", row), 0));
        _statusTable->setItem(row, 1, cell(QString::fromStdString(channel.GetTitle()), 1));
        _statusTable->setItem(row, 2, cell(wholeNumber(channel.m_dSampleRate), 2));
        _statusTable->setItem(row, 3, cell(wholeNumber(channel.m_dFilterRate), 3));
        _statusTable->setItem(row, 4, cell(wholeNumber(channel.m_dGain), 4));
        _statusTable->setItem(row, 5, cell(wholeNumber(channel.m_dReference), 5));
        _statusTable->setItem(row, 6, cell(fixed(0.0, 3), 6));
        _statusTable->setItem(row, 7, cell(QString::fromStdString(channel.GetUnit()), 7));
    }
}

void StatusWindowController::setRowValue(int row, double value)
{
    if (row < 0 || row >= _statusTable->rowCount()) {
        return;
    }
    if (QTableWidgetItem* item = _statusTable->item(row, kValueColumn)) {
        item->setText(fixed(value, 3));
    }
}

void StatusWindowController::showStatus(std::optional<double> cursorTimeMs,
                                        std::optional<double> durationMs,
                                        const std::vector<StatusChannelValue>& values)
{
    if (cursorTimeMs) {
        m_cursorTime->setText(fixed(*cursorTimeMs, 2));
    }
    if (durationMs) {
        m_duration->setText(fixed(*durationMs, 2));
    }
    for (const StatusChannelValue& entry : values) {
        setRowValue(entry.channelIndex, entry.value);
    }
}

} // namespace phonaxis
