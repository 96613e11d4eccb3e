#include "app/panels/SpectrogramPanel.h"

#include "app/panels/PitchPanel.h"
#include "document/MyDocument.h"
#include "document/RateSettings.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

#include <limits>

namespace phonaxis {

namespace {

using D = DocumentFields;

constexpr double kInt32Max = std::numeric_limits<std::int32_t>::max();

// The dynamic range divides the grey scale and the LPC order sizes the
// tracks' frame; a grid of no step would never end. The time grid may be 0,
// which adapts it to the zoom.
const NumberFieldRule kSpectrogramFields[] = {
    {.name = "m_nSpecDynamicRange",
     .label = "Dynamic Range (dB)",
     .integer = &D::m_nSpecDynamicRange,
     .minimum = 1,
     .maximum = 1000},
    {.name = "m_nSpecfrequencyRange",
     .label = "Frequency Range (Hz)",
     .integer = &D::m_nSpecfrequencyRange,
     .minimum = 1,
     .maximum = kInt32Max},
    {.name = "m_dPreEmphasis",
     .label = "Pre-emphasis",
     .real = &D::m_dPreEmphasis,
     .minimum = -1,
     .maximum = 1,
     .whole = false,
     .format = "%1.2f"},
    {.name = "m_nSpecLPCNumberofCoefficients",
     .label = "LPC Coefficients",
     .integer = &D::m_nSpecLPCNumberofCoefficients,
     .minimum = 1,
     .maximum = 400},
    gridField("m_nSpecFrequencyGrid", "Frequency Grid (Hz)", &D::m_nSpecFrequencyGrid, 1),
    gridField("m_nSpecTimeGrid", "Time Grid (ms)", &D::m_nSpecTimeGrid, 0),
    printSizeField("m_dSpecWidth", "Width", &D::m_dSpecWidth),
    printSizeField("m_dSpecHeight", "Height", &D::m_dSpecHeight),
};

} // namespace

SpectrogramPanel::SpectrogramPanel(MyDocument& document, const AppSettings& settings,
                                   Prompts& prompts, QWidget* parent)
    : AnalysisPanel(document, settings, prompts, "optionSpectrogram", tr("Spectrogram"), parent),
      m_length(new QComboBox(this))
{
    m_length->setObjectName("m_nSpecWindowLengthSelector");
    auto* form = new QFormLayout;
    form->addRow(tr("FFT Length"), m_length);
    for (const NumberFieldRule& rule : kSpectrogramFields) {
        addNumber(*form, rule);
    }
    addFlag(*form, "m_bSpecDrawFormantTracking", tr("Formant Tracking"),
            &D::m_bSpecDrawFormantTracking);
    addFlag(*form, "m_bSpecDrawAudio", tr("Draw Waveform"), &D::m_bSpecDrawAudio);
    addFlag(*form, "m_bSpecDrawLabels", tr("Draw Labels"), &D::m_bSpecDrawLabels);
    addFlag(*form, "m_bSpecDrawFrequencyGrid", tr("Draw Frequency Grid"),
            &D::m_bSpecDrawFrequencyGrid);
    addFlag(*form, "m_bSpecDrawTimeGrid", tr("Draw Time Grid"), &D::m_bSpecDrawTimeGrid);
    addPreciseControls(*form, true);
    addUnitChoice(*form, &D::m_bSpecInches);
    body()->addLayout(form);
    auto* note = new QLabel(tr(kTimeGridNote), this);
    note->setObjectName("note");
    note->setWordWrap(true);
    body()->addWidget(note);
    addDefaultButton();
}

void SpectrogramPanel::setup()
{
    m_length->clear();
    m_length->addItems(fftLengthTexts(rateHz()));
    m_length->setCurrentIndex(fftSelectorToShow(m_document.m_nSpecWindowLengthSelector,
                                                m_document.m_nSpecWindowLength, 2));
    setupFields();
}

bool SpectrogramPanel::canSave()
{
    QLineEdit& range = field("m_nSpecfrequencyRange");
    const std::int32_t largestHz = defaultFrequencyRangeHz(rateHz());
    if (const auto hz = fieldValue(range); hz && *hz > largestHz) {
        return refuse("Frequency range is larger than allowed.",
                      QString("The largest is %1 Hz.").arg(largestHz), &range);
    }
    return fieldsValid();
}

void SpectrogramPanel::save()
{
    const int selector = m_length->currentIndex();
    m_document.m_nSpecWindowLengthSelector = selector;
    m_document.m_nSpecWindowLength = fftLengthOfSelector(selector);
    saveFields();
}

void SpectrogramPanel::patchConfiguration(Configuration& record) const
{
    // Window length … draw audio, then draw labels … time grid: the draw
    // intensity flag between them is not on the sheet.
    constexpr std::size_t kDrawAudio = 1552;
    constexpr std::size_t kDrawLabels = 1560;
    putDocumentSettings(record, m_document, ConfigOffset::kSpectrogramFirst, kDrawAudio);
    putDocumentSettings(record, m_document, kDrawLabels, ConfigOffset::kSpectrogramLast);
}

void SpectrogramPanel::showDefaultChoices(const DocumentFields& defaults)
{
    m_length->setCurrentIndex(
        fftSelectorToShow(defaults.m_nSpecWindowLengthSelector, defaults.m_nSpecWindowLength, 2));
}

} // namespace phonaxis
