#include "app/EggPanel.h"

#include "document/MyDocument.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLineEdit>

#include <cmath>

namespace phonaxis {

namespace {

// The number a field holds at single precision when it lies in
// [minimum, maximum]; `previous` otherwise.
double numberOf(const QLineEdit& field, double minimum, double maximum, double previous)
{
    bool ok = false;
    const float value = field.text().trimmed().toFloat(&ok);
    if (!ok || !std::isfinite(value) || value < minimum || value > maximum) {
        return previous;
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
    m_drawPeaks->setChecked(channel->m_bDrawPeak);
    m_drawValleys->setChecked(channel->m_bDrawValley);
    m_drawThreshold->setChecked(channel->m_bDrawCycleThreshold);
    m_drawVelocity->setChecked(channel->m_bDrawVelocity);
    m_drawAcceleration->setChecked(channel->m_bDrawAcceleration);
}

void EggPanel::save()
{
    Channels* channel = eggChannel();
    if (channel == nullptr) {
        return;
    }
    channel->m_dCycleThresholdPerCent =
        numberOf(*m_thresholdPerCent, 0.0, 100.0, channel->m_dCycleThresholdPerCent);
    channel->m_dVelocitySmoothingWindow =
        numberOf(*m_velocityWindow, 0.0, kMaxWindowMs, channel->m_dVelocitySmoothingWindow);
    channel->m_dAccelerationSmoothingWindow =
        numberOf(*m_accelerationWindow, 0.0, kMaxWindowMs, channel->m_dAccelerationSmoothingWindow);
    channel->m_bDrawPeak = m_drawPeaks->isChecked();
    channel->m_bDrawValley = m_drawValleys->isChecked();
    channel->m_bDrawCycleThreshold = m_drawThreshold->isChecked();
    channel->m_bDrawVelocity = m_drawVelocity->isChecked();
    channel->m_bDrawAcceleration = m_drawAcceleration->isChecked();
}

} // namespace phonaxis
