#include "app/LabelViewWindow.h"

#include "document/MyDocument.h"

#include <QFont>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <span>

namespace phonaxis {

LabelViewWindow::LabelViewWindow(QWidget* parent)
    : QWidget(parent, Qt::Window),
      m_table(new QTableWidget(0, static_cast<int>(std::size(kLabelTableColumns)), this)),
      m_zoom(new QPushButton(tr("Zoom"), this))
{
    setObjectName("labelview");
    m_table->setObjectName("_labelTable");
    m_zoom->setObjectName("_zoom");
    QStringList titles;
    int column = 0;
    for (const LabelTableColumn& entry : kLabelTableColumns) {
        titles << QString::fromUtf8(entry.title);
        m_table->setColumnWidth(column++, entry.width);
    }
    m_table->setHorizontalHeaderLabels(titles);
    m_table->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setFont(QFont(QStringLiteral("Chicago"), 11));
    connect(m_zoom, &QPushButton::clicked, this, &LabelViewWindow::zoomToSelection);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_table);
    layout->addWidget(m_zoom);
    resize(340, 300);
}

void LabelViewWindow::fill(const MyDocument& document)
{
    m_rows = buildLabelTableRows(
        std::span<const Channels>(document.m_Channel.data(),
                                  static_cast<std::size_t>(document.channelsInUse())));
    m_table->clearContents();
    m_table->setRowCount(static_cast<int>(m_rows.size()));
    for (int row = 0; row < static_cast<int>(m_rows.size()); ++row) {
        const LabelTableRow& cells = m_rows[static_cast<std::size_t>(row)];
        const std::string* texts[] = {&cells.row, &cells.name, &cells.label, &cells.time};
        for (int column = 0; column < 4; ++column) {
            auto* item = new QTableWidgetItem(QString::fromStdString(*texts[column]));
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            if (kLabelTableColumns[column].rightAligned) {
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            }
            m_table->setItem(row, column, item);
        }
    }
}

void LabelViewWindow::zoomToSelection()
{
    const QList<QTableWidgetItem*> selected = m_table->selectedItems();
    const int row = selected.isEmpty() ? -1 : selected.front()->row();
    if (const auto time = labelTableJumpTime(m_rows, row); time && onJump) {
        onJump(static_cast<double>(*time));
    }
}

} // namespace phonaxis
