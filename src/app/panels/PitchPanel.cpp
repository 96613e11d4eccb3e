#include "app/panels/PitchPanel.h"

#include "document/MyDocument.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

namespace phonaxis {

namespace {

using D = DocumentFields;

// Window and step frame the whole channel and must have a length; the
// search range divides the rate, so its lowest pitch must be above 0 Hz;
// a grid of no step would never end (the time grid may be 0, which adapts
// it to the zoom).
const NumberFieldRule kPitchFields[] = {
    {.name = "m_dPitchWindowLength",
     .label = "Window Length (ms)",
     .real = &D::m_dPitchWindowLength,
     .minimum = 1,
     .maximum = 100000},
    {.name = "m_dPitchStepSize",
     .label = "Step Size (ms)",
     .real = &D::m_dPitchStepSize,
     .minimum = 1,
     .maximum = 100000},
    {.name = "m_dFreqDeviation",
     .label = "Frequency Deviation (Hz)",
     .real = &D::m_dFreqDeviation,
     .minimum = 0,
     .maximum = 1000000},
    {.name = "m_dTrackingThreshHold",
     .label = "Threshold (%)",
     .real = &D::m_dTrackingThreshHold,
     .minimum = 0,
     .maximum = 100},
    {.name = "m_dCalculationLow",
     .label = "Calculation Low (Hz)",
     .real = &D::m_dCalculationLow,
     .minimum = 1,
     .maximum = 1000000},
    {.name = "m_dCalculationHigh",
     .label = "Calculation High (Hz)",
     .real = &D::m_dCalculationHigh,
     .minimum = 1,
     .maximum = 1000000},
    {.name = "m_nDisplayLow",
     .label = "Display Low (Hz)",
     .integer = &D::m_nDisplayLow,
     .minimum = 0,
     .maximum = 1000000},
    {.name = "m_nDisplayHigh",
     .label = "Display High (Hz)",
     .integer = &D::m_nDisplayHigh,
     .minimum = 0,
     .maximum = 1000000},
    gridField("m_nPitchFreqGrid", "Frequency Grid (Hz)", &D::m_nPitchFreqGrid, 1),
    gridField("m_nPitchTimeGrid", "Time Grid (ms)", &D::m_nPitchTimeGrid, 0),
    printSizeField("m_dPitchWidth", "Width", &D::m_dPitchWidth),
    printSizeField("m_dPitchHeigth", "Height", &D::m_dPitchHeigth),
};

} // namespace

PitchPanel::PitchPanel(MyDocument& document, const AppSettings& settings, Prompts& prompts,
                       QWidget* parent)
    : AnalysisPanel(document, settings, prompts, "optionPitch", tr("Pitch"), parent)
{
    auto* form = new QFormLayout;
    for (const NumberFieldRule& rule : kPitchFields) {
        addNumber(*form, rule);
    }
    addFlag(*form, "m_bPitchDrawFreqGrid", tr("Draw Frequency Grid"), &D::m_bPitchDrawFreqGrid);
    addFlag(*form, "m_bPitchDrawTimeGrid", tr("Draw Time Grid"), &D::m_bPitchDrawTimeGrid);
    addFlag(*form, "m_bPitchDrawAudio", tr("Draw Waveform"), &D::m_bPitchDrawAudio);
    addFlag(*form, "m_bPitchDrawIntensity", tr("Draw Intensity"), &D::m_bPitchDrawIntensity);
    addFlag(*form, "m_bPitchDrawLabels", tr("Draw Labels"), &D::m_bPitchDrawLabels);
    addFlag(*form, "m_bPitchColor", tr("Color"), &D::m_bPitchColor);
    addPreciseControls(*form, false);
    addUnitChoice(*form, &D::m_bPitchInches);
    body()->addLayout(form);
    auto* note = new QLabel(tr(kTimeGridNote), this);
    note->setObjectName("note");
    note->setWordWrap(true);
    body()->addWidget(note);
    addDefaultButton();
}

void PitchPanel::setup()
{
    setupFields();
}

bool PitchPanel::canSave()
{
    if (!fieldsValid()) {
        return false;
    }
    const auto below = [this](const char* lowName, const char* highName) {
        return *fieldValue(field(lowName)) < *fieldValue(field(highName));
    };
    if (!below("m_dCalculationLow", "m_dCalculationHigh")) {
        return refuse("Calculation range is not valid.",
                      "The low frequency must be below the high frequency.",
                      &field("m_dCalculationLow"));
    }
    if (!below("m_nDisplayLow", "m_nDisplayHigh")) {
        return refuse("Display range is not valid.",
                      "The low frequency must be below the high frequency.",
                      &field("m_nDisplayLow"));
    }
    return true;
}

void PitchPanel::save()
{
    saveFields();
    m_document.m_bCepstral = true; // the cepstral method is the one in use
}

void PitchPanel::patchConfiguration(Configuration& record) const
{
    // Window length … time grid, threshold and deviation, then the print
    // size, panes, colour and inches; the method flag and the unused
    // autocorrelation settings between them are not on the sheet.
    constexpr std::size_t kTimeGrid = 1636;
    constexpr std::size_t kThreshold = 1648;
    constexpr std::size_t kDeviation = 1656;
    constexpr std::size_t kWidth = 1680;
    putDocumentSettings(record, m_document, ConfigOffset::kPitchFirst, kTimeGrid);
    putDocumentSettings(record, m_document, kThreshold, kDeviation);
    putDocumentSettings(record, m_document, kWidth, ConfigOffset::kPitchLast);
}

} // namespace phonaxis
