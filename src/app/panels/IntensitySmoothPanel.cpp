#include "app/panels/IntensitySmoothPanel.h"

#include "document/MyDocument.h"
#include "document/Prompts.h"

#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>
#include <optional>

namespace phonaxis {

namespace {

// The text a cell held before the current edit.
constexpr int kAcceptedTextRole = Qt::UserRole + 1;

QString wholeText(double value)
{
    return QString::asprintf("%1.0f", value);
}

QTableWidgetItem* editableCell(const QString& text)
{
    auto* item = new QTableWidgetItem(text);
    item->setData(kAcceptedTextRole, text);
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

// A window length or step in ms, at single precision; nothing when the text
// is not a time the intensity framing can use.
std::optional<double> timeOf(const QString& text)
{
    bool ok = false;
    const float value = text.trimmed().toFloat(&ok);
    if (!ok || !std::isfinite(value) || value <= 0.0f) {
        return std::nullopt;
    }
    return static_cast<double>(value);
}

} // namespace

IntensitySmoothPanel::IntensitySmoothPanel(MyDocument& document, const AppSettings& settings,
                                           Prompts& prompts, QWidget* parent)
    : SettingsPanel(document, settings, prompts, "optionIntensitySmooth", tr("Intensity / Smooth"),
                    parent),
      m_table(new QTableWidget(this))
{
    m_table->setObjectName("channels");
    m_table->setMinimumWidth(600);
    body()->addWidget(m_table);
    connect(m_table, &QTableWidget::itemChanged, this, &IntensitySmoothPanel::cellEdited);
}

void IntensitySmoothPanel::setup()
{
    m_filling = true;
    const int count = m_document.channelsInUse();
    prepareChannelTable(*m_table, count,
                        {QString(), tr("Name"), tr("Win Len(ms)"), tr("Sep size(ms)"), tr("Abs/rel"),
                         tr("Do"), tr("# points")},
                        {50, 100, 70, 80, 50, 20, 180});
    for (int row = 0; row < count; ++row) {
        const Channels& channel = m_document.getChannel(row);
        setReadOnlyCell(*m_table, row, kName, QString::fromStdString(channel.GetTitle()));
        m_table->setItem(row, kWindow, editableCell(wholeText(channel.m_dIntensityWindowLengthMS)));
        m_table->setItem(row, kStep, editableCell(wholeText(channel.m_dIntensityStepSizeMS)));
        setCheckCell(*m_table, row, kRelative, channel.m_bIntensityRelative);
        setCheckCell(*m_table, row, kSmoothDo, channel.m_bSmoothDo);
        m_table->setItem(row, kPoints, editableCell(wholeText(channel.m_dSmoothNumOfPoints)));
    }
    m_filling = false;
}

void IntensitySmoothPanel::cellEdited(QTableWidgetItem* item)
{
    const int column = item->column();
    if (m_filling || (column != kWindow && column != kStep && column != kPoints)) {
        return;
    }
    const QString previous = item->data(kAcceptedTextRole).toString();
    if (item->text() == previous) {
        return;
    }
    bool accepted = true;
    if (column == kPoints) {
        bool ok = false;
        const int points = item->text().trimmed().toInt(&ok);
        if (ok && points > kMaxPoints) {
            m_prompts.alert("points are too big.", "Maximun allowed is 1000", "ok");
            accepted = false;
        } else if (!ok || points < 1) {
            m_prompts.alert("points are not valid.", "Minimum allowed is 1", "ok");
            accepted = false;
        }
    } else if (const std::optional<double> ms = timeOf(item->text()); !ms) {
        // A window or step of no length would frame the intensity forever.
        m_prompts.alert("time is not valid.", "Window length and step must be more than 0 ms",
                        "ok");
        accepted = false;
    } else if (const double lengthMs = m_document.getChannel(item->row()).m_dLengthMS;
               lengthMs > 0.0 && *ms > lengthMs) {
        // A frame longer than the channel, or a step past its end, measures
        // nothing.
        m_prompts.alert(column == kWindow ? "window is too long." : "step is too long.",
                        QString::asprintf("Maximum allowed is the channel's length, %1.0f ms",
                                          std::floor(lengthMs))
                            .toStdString(),
                        "ok");
        accepted = false;
    }
    m_filling = true;
    if (accepted) {
        item->setData(kAcceptedTextRole, item->text());
    } else {
        item->setText(previous);
    }
    m_filling = false;
}

void IntensitySmoothPanel::save()
{
    for (int row = 0; row < m_table->rowCount(); ++row) {
        Channels& channel = m_document.getChannel(row);
        // Every editable cell holds an accepted value (see cellEdited). The
        // cells show whole milliseconds, so a cell whose text was not edited
        // keeps the exact value it shows rounded (12.5 ms is not cut to 12).
        const auto timeCell = [&](int column, double current) {
            const QString text = cellText(*m_table, row, column);
            return text == wholeText(current) ? current : timeOf(text).value_or(current);
        };
        channel.m_dIntensityWindowLengthMS = timeCell(kWindow, channel.m_dIntensityWindowLengthMS);
        channel.m_dIntensityStepSizeMS = timeCell(kStep, channel.m_dIntensityStepSizeMS);
        channel.m_bIntensityRelative = isCellChecked(*m_table, row, kRelative);
        channel.m_bSmoothDo = isCellChecked(*m_table, row, kSmoothDo);
        bool ok = false;
        const int points = cellText(*m_table, row, kPoints).trimmed().toInt(&ok);
        if (ok && points >= 1 && points <= kMaxPoints) {
            channel.m_dSmoothNumOfPoints = points;
        }
    }
}

void IntensitySmoothPanel::patchConfiguration(Configuration& record) const
{
    // Window, step, relative, smoothing on and points of channels 0..15.
    putDocumentSettings(record, m_document, ConfigOffset::kIntensityWindowLength,
                        ConfigOffset::kSpectrogramFirst - 1);
}

} // namespace phonaxis
