#pragma once

#include "app/panels/SettingsPanel.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLineEdit;
class QRadioButton;

namespace phonaxis {

struct DocumentFields;

// --- pieces shared by the analysis sheets (FFT/LPC, spectrogram, pitch) --------

// Transform lengths offered by the analysis sheets: entry k is 2^(k + 5),
// 32 … 8192 points.
inline constexpr int kFftLengthEntries = 9;
int fftLengthOfSelector(int selector);
// The entry that shows a document: the entry of `lengthPoints` when it is
// one of the lengths, else `selector` when it is an entry, else `fallback`.
int fftSelectorToShow(std::int32_t selector, std::int32_t lengthPoints, int fallback);
// The list texts " %d Hz (%d pts)": bin spacing (whole Hz) and length.
QStringList fftLengthTexts(double rateHz);

// `value` with its fraction dropped and held to the int32 range; 0 for NaN.
std::int32_t truncatedInt32(double value);
// The frequency range the analyses take by default and at most:
// ((int)rate div 2000)·1000 Hz.
std::int32_t defaultFrequencyRangeHz(double rateHz);
// The default LPC order: (int)(rate/1000) + 4 rounded down to even, at most 400.
std::int32_t defaultLpcOrder(double rateHz);

// A number field of an analysis sheet, bound to one document setting. The
// object name of the field is the setting's name.
struct NumberFieldRule {
    const char* name;                                // e.g. "m_nFFTAverageStepSize"
    const char* label;                               // text beside the field, with its unit
    std::int32_t DocumentFields::*integer = nullptr; // one of these two is set
    double DocumentFields::*real = nullptr;
    double minimum = 0.0; // accepted values, inclusive
    double maximum = 0.0;
    bool whole = true;         // typed as a whole number (a fraction is dropped)
    const char* format = "%d"; // how a real is shown when it is not whole
};

// The printed width or height of a sheet's graph, in its unit (0.01 … 1000).
constexpr NumberFieldRule printSizeField(const char* name, const char* label,
                                         double DocumentFields::*real)
{
    return {.name = name,
            .label = label,
            .real = real,
            .minimum = 0.01,
            .maximum = 1000,
            .whole = false,
            .format = "%.2f"};
}

// A grid step: a frequency grid needs a step of at least 1 (a step of 0
// would never finish drawing); a time grid of 0 adapts to the zoom.
constexpr NumberFieldRule gridField(const char* name, const char* label,
                                    std::int32_t DocumentFields::*integer, double minimum)
{
    return {.name = name,
            .label = label,
            .integer = integer,
            .minimum = minimum,
            .maximum = 2147483647.0};
}

// A settings sheet of number fields, check boxes, an inches/centimetres
// choice and a Default button. Number fields are line edits so that what
// the user typed can be checked: OK refuses text that is not a number, or
// lies outside the field's range, with "Value is not valid." and the button
// "Correct it", and the sheet stays open. A field whose text is still what
// the sheet showed keeps the document's exact value (a real shown rounded
// is not cut to its rounding).
class AnalysisPanel : public SettingsPanel {
    Q_OBJECT
protected:
    AnalysisPanel(MyDocument& document, const AppSettings& settings, Prompts& prompts,
                  const QString& name, const QString& title, QWidget* parent);

    // Adds a field to `form`; the rule must outlive the panel.
    QLineEdit* addNumber(QFormLayout& form, const NumberFieldRule& rule);
    QCheckBox* addFlag(QFormLayout& form, const char* name, const QString& text,
                       bool DocumentFields::*flag);
    // The size unit (inches or centimetres) bound to `inches`.
    void addUnitChoice(QFormLayout& form, bool DocumentFields::*inches);
    // A "Default" button that shows a new document's value (at the
    // document's analysis rate) in every field, box and choice of the sheet.
    void addDefaultButton();
    // The "Precise Analysis" check box and, on the sheets that analyse
    // formants, the "Formant Ceiling (Hz)" field. These settings are kept
    // beside the configuration record, so the sheet's OK writes them there.
    void addPreciseControls(QFormLayout& form, bool withCeiling);
    bool patchesSupplement() const override { return m_hasPreciseControls; }

    // Fills every field, box and the unit choice from the document.
    void setupFields();
    // Checks every field in the order added; alerts for the first refused.
    bool fieldsValid();
    // Copies every field, box and the unit choice into the document; call
    // after fieldsValid().
    void saveFields();

    // The value a field holds now (whole fields with the fraction dropped),
    // or nothing when its text is not a number in range.
    std::optional<double> fieldValue(const QLineEdit& field) const;
    // Puts a value into a field as the sheet shows it.
    void showValue(QLineEdit& field, double value);
    void setInches(bool inches);
    QLineEdit& field(const char* name) const;

    // The analysis rate of the document, Hz.
    double rateHz() const;
    // Refuses with `title` and the button "Correct it"; returns false.
    bool refuse(const char* title, const QString& message, QLineEdit* focus);

    // The Default button: `showDefaultChoices`, then every bound field, box
    // and the unit choice from `newDocumentFields(rateHz())`.
    void applyDefaults();
    // What the sheet shows beside its bound fields (a transform length list),
    // set to `defaults`; called before the fields are filled, so that a
    // field the choice rewrites ends with its own default.
    virtual void showDefaultChoices(const DocumentFields& defaults);

private:
    struct BoundNumber {
        const NumberFieldRule* rule;
        QLineEdit* field; // child of the panel
    };
    struct BoundFlag {
        bool DocumentFields::*flag;
        QCheckBox* box; // child of the panel
    };
    std::vector<BoundNumber> m_numbers;
    std::vector<BoundFlag> m_flags;
    bool DocumentFields::*m_inchesFlag = nullptr;
    QRadioButton* m_inches = nullptr; // children of the panel
    QRadioButton* m_centimetres = nullptr;
    bool m_hasPreciseControls = false;
};

} // namespace phonaxis
