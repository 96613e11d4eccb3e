#pragma once

#include "windows/ui/AnalysisWindowShell.h"

#include <string>
#include <vector>

class QGridLayout;
class QLineEdit;

namespace phonaxis {

class FFTView;

// Where a spectrum is taken: at the marker ("FFT::") or over the selection
// ("FFT Selection::").
enum class SpectrumPlace { Marker, Selection };

// The spectrum window of a document: the FFTView with its info fields,
// the power and frequency readouts, the File menu (Save as Picture…, Print…,
// Close) and the Log menu's three entries. Each window holds its own
// computed spectrum; it refers to its document only for the log records'
// display name and the prompts, so it may stay open while the document is
// edited. Main thread only; the window deletes itself when closed.
class FFTWindowController : public AnalysisWindowShell {
    Q_OBJECT
public:
    static constexpr const char* kMarkerTitle = "FFT::";
    static constexpr const char* kSelectionTitle = "FFT Selection::";
    static constexpr const char* kDeclinedMessage = "The spectrum could not be computed.";
    static constexpr const char* kDeclinedInformative =
        "The FFT/LPC settings or the stretch asked for cannot be analysed. Check "
        "Option->FFT/LPC.";

    // The labels of the readouts, their fields' accessible names. The info
    // fields are SpectrumAnalysis::infoFields(), labelled and named alike.
    static constexpr const char* kPowerLabel = "Power (dB)";
    static constexpr const char* kFrequencyLabel = "Frequency (Hz)";

    // Computes the spectrum of the document's audio channel (the first of
    // type 1) at its marker or over its selection, in samples of that
    // channel, behind a progress dialog over `progressParent` (Cancel opens
    // no window). Returns the window, not yet shown, or null when nothing
    // was computed: no data, cancelled, or the range alert or the
    // declined-settings alert was shown.
    static FFTWindowController* open(const AnalysisWindowContext& context, SpectrumPlace place,
                                     QWidget* progressParent);
    // The same over samples [startSample, stopSample] of the audio channel
    // (start and stop the same for the spectrum at one position), titled
    // as `place` asks: what the spectrogram window hands over.
    static FFTWindowController* openAt(const AnalysisWindowContext& context, SpectrumPlace place,
                                       double startSample, double stopSample,
                                       QWidget* progressParent);

    FFTView* view() const { return m_view; }
    // The text of info field `index` (from 0, in SpectrumAnalysis::infoFields
    // order) or of the field named `name` ("analysis", "lpcOrder", …; empty
    // when the analysis has no such field), and of the two readouts.
    QString infoText(int index) const;
    QString infoText(const char* name) const;
    QString powerText() const;
    QString frequencyText() const;

    // The log entries need the log window shown and a spectrum (a marker
    // for the marker's entry); the other commands are always at hand.
    bool isCommandEnabled(const std::string& command) const override;

public slots:
    void LogFormantsMarker();
    void LogFFTFormantBandwidths();
    void LogFFTFrame();

protected:
    GraphDrawing pictureDrawing() const override;

private:
    FFTWindowController(const AnalysisWindowContext& context, SpectrumPlace place);
    void showReadout(const QString& power, const QString& frequency);
    // Fills the info fields from the analysis.
    void showInfo();
    // A read-only field titled `label` in column `column` of `grid`.
    static QLineEdit* addField(QGridLayout& grid, QWidget* parent, const QString& label,
                               const char* name, int column);

    FFTView* m_view = nullptr;
    QGridLayout* m_infoFields = nullptr; // owned by the central widget's layout
    std::vector<QLineEdit*> m_info;      // its fields, in order (owned by Qt)
    QLineEdit* m_power = nullptr;
    QLineEdit* m_frequency = nullptr;
};

} // namespace phonaxis
