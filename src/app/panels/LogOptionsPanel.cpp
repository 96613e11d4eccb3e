#include "app/panels/LogOptionsPanel.h"

#include "document/MyDocument.h"
#include "document/Prompts.h"

#include <QFormLayout>
#include <QLineEdit>

#include <cmath>
#include <optional>

namespace phonaxis {

namespace {

std::optional<double> stepOf(const QLineEdit& field)
{
    bool ok = false;
    const float value = field.text().trimmed().toFloat(&ok);
    if (!ok || !std::isfinite(value) || value <= 0.0f) {
        return std::nullopt;
    }
    return static_cast<double>(value);
}

std::optional<int> intervalOf(const QLineEdit& field)
{
    bool ok = false;
    const int value = field.text().trimmed().toInt(&ok);
    if (!ok || value <= 0) {
        return std::nullopt;
    }
    return value;
}

} // namespace

LogOptionsPanel::LogOptionsPanel(MyDocument& document, const AppSettings& settings,
                                 Prompts& prompts, QWidget* parent)
    : SettingsPanel(document, settings, prompts, "optionLog", tr("Log"), parent),
      m_dataStepSize(new QLineEdit(this)),
      m_fftlpcStepSize(new QLineEdit(this))
{
    m_dataStepSize->setObjectName("_dataStepSize");
    m_fftlpcStepSize->setObjectName("_fftlpcStepSize");
    auto* form = new QFormLayout;
    form->addRow(tr("Data Selection Step (ms)"), m_dataStepSize);
    form->addRow(tr("FFT/LPC Frame Interval (ms)"), m_fftlpcStepSize);
    body()->addLayout(form);
}

void LogOptionsPanel::setup()
{
    m_dataStepSize->setText(QString::number(m_document.m_dLogStepSize));
    m_fftlpcStepSize->setText(QString::number(m_document.m_nFFTFrameInterval));
}

bool LogOptionsPanel::canSave()
{
    // A step of no length would never leave the selection being logged.
    if (!stepOf(*m_dataStepSize) || !intervalOf(*m_fftlpcStepSize)) {
        m_prompts.alert("The step is not valid.",
                        "The data step must be a number of ms above 0 and the frame interval a "
                        "whole number of ms above 0.",
                        "OK");
        return false;
    }
    return true;
}

void LogOptionsPanel::save()
{
    m_document.m_dLogStepSize = stepOf(*m_dataStepSize).value_or(m_document.m_dLogStepSize);
    m_document.m_nFFTFrameInterval =
        intervalOf(*m_fftlpcStepSize).value_or(m_document.m_nFFTFrameInterval);
}

void LogOptionsPanel::patchConfiguration(Configuration& record) const
{
    putDocumentSettings(record, m_document, ConfigOffset::kSpectrumLast, ConfigOffset::kSpectrumLast);
    putDocumentSettings(record, m_document, ConfigOffset::kLogStepSize, ConfigOffset::kLogStepSize);
}

} // namespace phonaxis
