#include "app/panels/FftLpcPanel.h"

#include "document/MyDocument.h"
#include "document/Prompts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <cmath>
#include <limits>

namespace phonaxis {

namespace {

using D = DocumentFields;

constexpr double kInt32Max = std::numeric_limits<std::int32_t>::max();

// The averaging step, the LPC order and the level settings bound what the
// spectrum loops over and divides by; grids of no step would never end.
const NumberFieldRule kFftFields[] = {
    {.name = "m_nFFTAppliedWindowLength",
     .label = "Applied Window (ms)",
     .integer = &D::m_nFFTAppliedWindowLength,
     .minimum = 1,
     .maximum = kInt32Max},
    {.name = "m_nFFTfrequencyRange",
     .label = "Frequency Range (Hz)",
     .integer = &D::m_nFFTfrequencyRange,
     .minimum = 1,
     .maximum = kInt32Max},
    {.name = "m_nFFTAverageStepSize",
     .label = "Average Step (ms)",
     .integer = &D::m_nFFTAverageStepSize,
     .minimum = 1,
     .maximum = 1000000},
    {.name = "m_nLPCNumberofCoefficients",
     .label = "LPC Coefficients",
     .integer = &D::m_nLPCNumberofCoefficients,
     .minimum = 1,
     .maximum = 400},
    {.name = "m_nFFTAbsoluteRange",
     .label = "Absolute Range (dB)",
     .integer = &D::m_nFFTAbsoluteRange,
     .minimum = 1,
     .maximum = 1000},
    gridField("m_nFFTFrequencyGrid", "Frequency Grid (Hz)", &D::m_nFFTFrequencyGrid, 1),
    {.name = "m_nFFTDBGrid",
     .label = "dB Grid (dB)",
     .integer = &D::m_nFFTDBGrid,
     .minimum = 1,
     .maximum = 1000},
    printSizeField("m_dFFTWidth", "Width", &D::m_dFFTWidth),
    printSizeField("m_dFFTHeight", "Height", &D::m_dFFTHeight),
};

} // namespace

FftLpcPanel::FftLpcPanel(MyDocument& document, const AppSettings& settings, Prompts& prompts,
                         QWidget* parent)
    : AnalysisPanel(document, settings, prompts, "optionFFTLPC", tr("FFT/LPC"), parent),
      m_length(new QComboBox(this))
{
    m_length->setObjectName("m_nFFTWindowLengthSelector");
    auto* form = new QFormLayout;
    form->addRow(tr("FFT Length"), m_length);
    for (const NumberFieldRule& rule : kFftFields) {
        addNumber(*form, rule);
    }
    addFlag(*form, "m_bFFTDrawLPC", tr("Draw LPC"), &D::m_bFFTDrawLPC);
    addFlag(*form, "m_bFFTAbsolute", tr("Absolute"), &D::m_bFFTAbsolute);
    addFlag(*form, "m_bFFTColor", tr("Color"), &D::m_bFFTColor);
    addFlag(*form, "m_bFFTDrawFrequencyGrid", tr("Draw Frequency Grid"),
            &D::m_bFFTDrawFrequencyGrid);
    addFlag(*form, "m_bFFTDrawDBGrid", tr("Draw dB Grid"), &D::m_bFFTDrawDBGrid);
    addPreciseControls(*form, true);
    addUnitChoice(*form, &D::m_bFFTInches);
    body()->addLayout(form);
    addDefaultButton();
    connect(m_length, &QComboBox::currentIndexChanged, this, &FftLpcPanel::lengthChosen);
}

void FftLpcPanel::setup()
{
    m_filling = true;
    m_length->clear();
    m_length->addItems(fftLengthTexts(rateHz()));
    m_length->setCurrentIndex(
        fftSelectorToShow(m_document.m_nFFTWindowLengthSelector, m_document.m_nFFTWindowLength, 3));
    setupFields();
    m_filling = false;
}

std::int32_t FftLpcPanel::maxAppliedWindowMs() const
{
    // At 32 kHz and above the 32-point transform spans less than a whole
    // ms; 1 ms keeps that length usable (the spectrum never analyses more
    // samples than the transform holds).
    return std::max<std::int32_t>(
        1, truncatedInt32(fftLengthOfSelector(m_length->currentIndex()) * 1000.0 / rateHz()));
}

void FftLpcPanel::lengthChosen(int selector)
{
    if (m_filling || selector < 0) {
        return;
    }
    showValue(field("m_nFFTAppliedWindowLength"), maxAppliedWindowMs());
}

bool FftLpcPanel::canSave()
{
    QLineEdit& applied = field("m_nFFTAppliedWindowLength");
    QLineEdit& range = field("m_nFFTfrequencyRange");
    if (const auto ms = fieldValue(applied); ms && *ms > maxAppliedWindowMs()) {
        return refuse(
            "Applied window length is larger than allowed.",
            QString("The longest for this FFT length is %1 ms.").arg(maxAppliedWindowMs()),
            &applied);
    }
    if (const auto hz = fieldValue(range); hz && *hz > rateHz() * 0.5) {
        return refuse("Frequency range is larger than allowed.",
                      QString("The largest is %1 Hz.").arg(truncatedInt32(rateHz() * 0.5)), &range);
    }
    return fieldsValid();
}

void FftLpcPanel::save()
{
    const int selector = m_length->currentIndex();
    m_document.m_nFFTWindowLengthSelector = selector;
    m_document.m_nFFTWindowLength = fftLengthOfSelector(selector);
    saveFields();
}

void FftLpcPanel::patchConfiguration(Configuration& record) const
{
    // Window selector … draw LPC; the frame interval belongs to the log options.
    putDocumentSettings(record, m_document, ConfigOffset::kSpectrumFirst,
                        ConfigOffset::kSpectrumLast - 1);
}

void FftLpcPanel::showDefaultChoices(const DocumentFields& defaults)
{
    m_length->setCurrentIndex(
        fftSelectorToShow(defaults.m_nFFTWindowLengthSelector, defaults.m_nFFTWindowLength, 3));
}

} // namespace phonaxis
