#include "app/panels/AnalysisPanel.h"

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

constexpr double kInt32Max = std::numeric_limits<std::int32_t>::max();

// The text a field showed when the sheet was filled from the document.
constexpr const char* kShownProperty = "shownText";

} // namespace

// --- shared pieces -------------------------------------------------------------------

int fftLengthOfSelector(int selector)
{
    return 1 << (std::clamp(selector, 0, kFftLengthEntries - 1) + 5);
}

int fftSelectorToShow(std::int32_t selector, std::int32_t lengthPoints, int fallback)
{
    // The length is what the analyses use, so it wins over a selector that
    // disagrees (a new document starts with the spectrogram's selector on
    // 128 points and its length on 64).
    for (int entry = 0; entry < kFftLengthEntries; ++entry) {
        if (fftLengthOfSelector(entry) == lengthPoints) {
            return entry;
        }
    }
    if (selector >= 0 && selector < kFftLengthEntries) {
        return selector;
    }
    return fallback;
}

QStringList fftLengthTexts(double rateHz)
{
    QStringList texts;
    for (int entry = 0; entry < kFftLengthEntries; ++entry) {
        const int points = fftLengthOfSelector(entry);
        texts << QString::asprintf(" %d Hz (%d pts)", truncatedInt32(rateHz / points), points);
    }
    return texts;
}

std::int32_t truncatedInt32(double value)
{
    if (std::isnan(value)) {
        return 0;
    }
    return static_cast<std::int32_t>(std::clamp(std::trunc(value), -kInt32Max - 1.0, kInt32Max));
}

std::int32_t defaultFrequencyRangeHz(double rateHz)
{
    return truncatedInt32(rateHz) / 2000 * 1000;
}

std::int32_t defaultLpcOrder(double rateHz)
{
    const std::int32_t order = std::max(truncatedInt32(rateHz / 1000.0), 0) + 4;
    return std::min(order / 2 * 2, 400);
}

// --- AnalysisPanel ------------------------------------------------------------------

AnalysisPanel::AnalysisPanel(MyDocument& document, const AppSettings& settings, Prompts& prompts,
                             const QString& name, const QString& title, QWidget* parent)
    : SettingsPanel(document, settings, prompts, name, title, parent)
{
}

QLineEdit* AnalysisPanel::addNumber(QFormLayout& form, const NumberFieldRule& rule)
{
    auto* field = new QLineEdit(this);
    field->setObjectName(rule.name);
    field->setAlignment(Qt::AlignRight);
    form.addRow(tr(rule.label), field);
    m_numbers.push_back({&rule, field});
    return field;
}

QCheckBox* AnalysisPanel::addFlag(QFormLayout& form, const char* name, const QString& text,
                                  bool DocumentFields::*flag)
{
    auto* box = new QCheckBox(text, this);
    box->setObjectName(name);
    form.addRow(box);
    m_flags.push_back({flag, box});
    return box;
}

void AnalysisPanel::addUnitChoice(QFormLayout& form, bool DocumentFields::*inches)
{
    m_inchesFlag = inches;
    m_inches = new QRadioButton(tr("Inches"), this);
    m_inches->setObjectName("inches");
    m_centimetres = new QRadioButton(tr("Centimeters"), this);
    m_centimetres->setObjectName("centimetres");
    auto* row = new QHBoxLayout;
    row->addWidget(m_inches);
    row->addWidget(m_centimetres);
    form.addRow(tr("Size"), row);
}

void AnalysisPanel::addDefaultButton()
{
    auto* button = new QPushButton(tr("Default"), this);
    button->setObjectName("Default");
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this] { applyDefaults(); });
    body()->addWidget(button, 0, Qt::AlignLeft);
}

namespace {
// Formant ceilings from the lowest useful for a low voice to well above a
// child's; the analysis resamples to twice the ceiling.
constexpr NumberFieldRule kFormantCeilingField = {.name = "m_dFormantCeiling",
                                                  .label = "Formant Ceiling (Hz)",
                                                  .real = &DocumentFields::m_dFormantCeiling,
                                                  .minimum = 1000,
                                                  .maximum = 20000};
} // namespace

void AnalysisPanel::addPreciseControls(QFormLayout& form, bool withCeiling)
{
    QCheckBox* box = addFlag(form, "m_bPreciseAnalysis", tr("Precise Analysis"),
                             &DocumentFields::m_bPreciseAnalysis);
    box->setToolTip(
        tr("Formants at a ceiling with pre-emphasis and root polishing; pitch refined "
           "below a sample and tracked without octave jumps. Off: the classic analysis."));
    if (withCeiling) {
        addNumber(form, kFormantCeilingField);
    }
    m_hasPreciseControls = true;
}

void AnalysisPanel::showDefaultChoices(const DocumentFields& /*defaults*/) {}

void AnalysisPanel::applyDefaults()
{
    // Taken from the document's own defaults, so that the button can never
    // drift from what a new document starts with.
    const DocumentFields defaults = newDocumentFields(rateHz());
    showDefaultChoices(defaults);
    for (const BoundNumber& number : m_numbers) {
        const NumberFieldRule& rule = *number.rule;
        showValue(*number.field,
                  rule.integer != nullptr ? defaults.*rule.integer : defaults.*rule.real);
    }
    for (const BoundFlag& flag : m_flags) {
        flag.box->setChecked(defaults.*flag.flag);
    }
    if (m_inchesFlag != nullptr) {
        setInches(defaults.*m_inchesFlag);
    }
}

void AnalysisPanel::showValue(QLineEdit& field, double value)
{
    const auto bound =
        std::find_if(m_numbers.begin(), m_numbers.end(),
                     [&](const BoundNumber& number) { return number.field == &field; });
    const bool whole = bound == m_numbers.end() || bound->rule->whole;
    field.setText(whole ? QString::number(truncatedInt32(value))
                        : QString::asprintf(bound->rule->format, value));
    field.setProperty(kShownProperty, QVariant());
}

void AnalysisPanel::setupFields()
{
    const DocumentFields& fields = m_document;
    for (const BoundNumber& number : m_numbers) {
        const NumberFieldRule& rule = *number.rule;
        showValue(*number.field,
                  rule.integer != nullptr ? fields.*rule.integer : fields.*rule.real);
        number.field->setProperty(kShownProperty, number.field->text());
    }
    for (const BoundFlag& flag : m_flags) {
        flag.box->setChecked(fields.*flag.flag);
    }
    if (m_inchesFlag != nullptr) {
        setInches(fields.*m_inchesFlag);
    }
}

std::optional<double> AnalysisPanel::fieldValue(const QLineEdit& field) const
{
    const auto bound =
        std::find_if(m_numbers.begin(), m_numbers.end(),
                     [&](const BoundNumber& number) { return number.field == &field; });
    if (bound == m_numbers.end()) {
        return std::nullopt;
    }
    const NumberFieldRule& rule = *bound->rule;
    const QVariant shown = field.property(kShownProperty);
    if (shown.isValid() && field.text() == shown.toString()) {
        // Not edited: the document's exact value, which the text may show
        // rounded (two pitch limits of 50.2 and 50.4 Hz both show "50").
        const DocumentFields& fields = m_document;
        return rule.integer != nullptr ? double(fields.*rule.integer) : fields.*rule.real;
    }
    bool ok = false;
    double value = field.text().trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value)) {
        return std::nullopt;
    }
    if (rule.whole) {
        value = std::trunc(value);
    }
    if (value < rule.minimum || value > rule.maximum) {
        return std::nullopt;
    }
    return value;
}

bool AnalysisPanel::refuse(const char* title, const QString& message, QLineEdit* focus)
{
    m_prompts.alert(title, message.toStdString(), "Correct it");
    if (focus != nullptr) {
        focus->setFocus();
        focus->selectAll();
    }
    return false;
}

bool AnalysisPanel::fieldsValid()
{
    for (const BoundNumber& number : m_numbers) {
        if (fieldValue(*number.field)) {
            continue;
        }
        const NumberFieldRule& rule = *number.rule;
        const QString limits = rule.whole ? QString("%1 must be a whole number from %2 to %3.")
                                          : QString("%1 must be a number from %2 to %3.");
        return refuse("Value is not valid.",
                      limits.arg(tr(rule.label))
                          .arg(QString::number(rule.minimum, 'g', 10))
                          .arg(QString::number(rule.maximum, 'g', 10)),
                      number.field);
    }
    return true;
}

void AnalysisPanel::saveFields()
{
    DocumentFields& fields = m_document;
    for (const BoundNumber& number : m_numbers) {
        if (number.field->text() == number.field->property(kShownProperty).toString()) {
            continue; // not edited: the document keeps its exact value
        }
        const std::optional<double> value = fieldValue(*number.field);
        if (!value) {
            continue;
        }
        const NumberFieldRule& rule = *number.rule;
        if (rule.integer != nullptr) {
            fields.*rule.integer = truncatedInt32(*value);
        } else {
            fields.*rule.real = *value;
        }
    }
    for (const BoundFlag& flag : m_flags) {
        fields.*flag.flag = flag.box->isChecked();
    }
    if (m_inchesFlag != nullptr) {
        fields.*m_inchesFlag = m_inches->isChecked();
    }
}

void AnalysisPanel::setInches(bool inches)
{
    m_inches->setChecked(inches);
    m_centimetres->setChecked(!inches);
}

QLineEdit& AnalysisPanel::field(const char* name) const
{
    const auto bound =
        std::find_if(m_numbers.begin(), m_numbers.end(), [&](const BoundNumber& number) {
            return number.field->objectName() == QLatin1String(name);
        });
    Q_ASSERT(bound != m_numbers.end());
    return *bound->field;
}

double AnalysisPanel::rateHz() const
{
    return m_document.m_dAnalysisSampleRate;
}

} // namespace phonaxis
