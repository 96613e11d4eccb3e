#include "app/panels/EggPanel.h"

#include "document/MyDocument.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLineEdit>

#include <cmath>
#include <optional>

namespace phonaxis {

namespace {

// The number a field holds at single precision when it lies in
// [minimum, maximum]; nothing otherwise.
std::optional<double> numberOf(const QLineEdit& field, double minimum, double maximum)
{
    bool ok = false;
    const float value = field.text().trimmed().toFloat(&ok);
    if (!ok || !std::isfinite(value) || value < minimum || value > maximum) {
        return std::nullopt;
    }
    return static_cast<double>(value);
}

// Smoothing windows longer than this (ms) leave no whole average in any
// recording the analysis is meant for.
constexpr double kMaxWindowMs = 1000.0;

} // namespace

EggPanel::EggPanel(MyDocument& document, const AppSettings& settings, Prompts& prompts,
                   QWidget* parent)
    : SettingsPanel(document, settings, prompts, "optionEGG", tr("EGG"), parent),
      m_thresholdPerCent(new QLineEdit(this)),
      m_velocityWindow(new QLineEdit(this)),
      m_accelerationWindow(new QLineEdit(this)),
      m_drawPeaks(new QCheckBox(tr("Draw Peaks"), this)),
      m_drawValleys(new QCheckBox(tr("Draw Valleys"), this)),
      m_drawThreshold(new QCheckBox(tr("Draw Threshold"), this)),
      m_drawVelocity(new QCheckBox(tr("Draw Velocity"), this)),
      m_drawAcceleration(new QCheckBox(tr("Draw Acceleration"), this))
{
    m_thresholdPerCent->setObjectName("_ThresholdPerCent");
    m_velocityWindow->setObjectName("_VelocitySmoothWindow");
    m_accelerationWindow->setObjectName("_AccelerationSmoothWindow");
    m_drawPeaks->setObjectName("_DrawPeaks");
    m_drawValleys->setObjectName("_bDrawValleys");
    m_drawThreshold->setObjectName("_DrawThreshold");
    m_drawVelocity->setObjectName("_DrawVelocity");
    m_drawAcceleration->setObjectName("_DrawAcceleration");
    auto* form = new QFormLayout;
    form->addRow(tr("Threshold (%)"), m_thresholdPerCent);
    form->addRow(tr("Velocity Smoothing (ms)"), m_velocityWindow);
    form->addRow(tr("Acceleration Smoothing (ms)"), m_accelerationWindow);
    for (QCheckBox* box :
         {m_drawPeaks, m_drawValleys, m_drawThreshold, m_drawVelocity, m_drawAcceleration}) {
        form->addRow(box);
    }
    body()->addLayout(form);
}

Channels* EggPanel::eggChannel() const
{
    const int index = m_document.m_nEGGChannelIndex;
    if (index < 0 || index >= m_document.channelsInUse()) {
        return nullptr;
    }
    return &m_document.getChannel(index);
}

void EggPanel::setup()
{
    const Channels* channel = eggChannel();
    if (channel == nullptr) {
        return;
    }
    m_thresholdPerCent->setText(QString::asprintf("%.1f", channel->m_dCycleThresholdPerCent));
    m_velocityWindow->setText(QString::asprintf("%.1f", channel->m_dVelocitySmoothingWindow));
    m_accelerationWindow->setText(QString::asprintf("%.1f", channel->m_dAccelerationSmoothingWindow));
    m_shownTexts = {m_thresholdPerCent->text(), m_velocityWindow->text(),
                    m_accelerationWindow->text()};
    m_drawPeaks->setChecked(channel->m_bDrawPeak);
    m_drawValleys->setChecked(channel->m_bDrawValley);
    m_drawThreshold->setChecked(channel->m_bDrawCycleThreshold);
    m_drawVelocity->setChecked(channel->m_bDrawVelocity);
    m_drawAcceleration->setChecked(channel->m_bDrawAcceleration);
}

bool EggPanel::canSave()
{
    if (eggChannel() == nullptr) {
        return true;
    }
    if (!numberOf(*m_thresholdPerCent, 0.0, 100.0) ||
        !numberOf(*m_velocityWindow, 0.0, kMaxWindowMs) ||
        !numberOf(*m_accelerationWindow, 0.0, kMaxWindowMs)) {
        m_prompts.alert("The EGG settings are not valid.",
                        "The threshold must be a number from 0 to 100 % and the smoothing "
                        "windows numbers from 0 to 1000 ms.",
                        "OK");
        return false;
    }
    return true;
}

void EggPanel::save()
{
    Channels* channel = eggChannel();
    if (channel == nullptr) {
        return;
    }
    // A field left as it was shown keeps the channel's exact value, which
    // "%.1f" may have rounded.
    const auto take = [this](const QLineEdit& field, std::size_t shown, double maximum,
                             double& value) {
        if (field.text() != m_shownTexts[shown]) {
            value = numberOf(field, 0.0, maximum).value_or(value);
        }
    };
    take(*m_thresholdPerCent, 0, 100.0, channel->m_dCycleThresholdPerCent);
    take(*m_velocityWindow, 1, kMaxWindowMs, channel->m_dVelocitySmoothingWindow);
    take(*m_accelerationWindow, 2, kMaxWindowMs, channel->m_dAccelerationSmoothingWindow);
    channel->m_bDrawPeak = m_drawPeaks->isChecked();
    channel->m_bDrawValley = m_drawValleys->isChecked();
    channel->m_bDrawCycleThreshold = m_drawThreshold->isChecked();
    channel->m_bDrawVelocity = m_drawVelocity->isChecked();
    channel->m_bDrawAcceleration = m_drawAcceleration->isChecked();
}

} // namespace phonaxis
