#pragma once

#include "analysis/WorkProgress.h"
#include "log/LogRecord.h"

#include <array>
#include <span>
#include <string>
#include <vector>

namespace phonaxis {

struct DocumentFields;
class MyDocument;

// The settings one spectrum is computed with, copied from the document when
// the spectrum window starts (its FFT/LPC options).
struct SpectrumParameters {
    int m_nFFTWindLength = 256;     // transform length N: 32 … 8192
    int m_nFFTWindowLengthMS = 23;  // applied (analysed) window, ms
    int m_nLPCNumCoeff = 14;        // LPC order; the LPC window is as many ms
    int m_nAverageStepSize = 10;    // step between averaged frames, ms
    int m_nFFTfreqRange = 5000;     // displayed range, Hz: one display point per Hz
    bool m_bFFTAbsolute = false;    // absolute levels (else relative to the peak)
    bool m_bFFTDrawLPC = true;      // the LPC envelope is drawn and logged
    int m_nFFTFrameInterval = 10;   // frequency step of the frame log entry, Hz
    bool m_bPreciseAnalysis = false; // precise formants and their model's envelope
    double m_dFormantCeiling = 5000.0; // Hz, the precise formants' ceiling

    static SpectrumParameters fromDocument(const DocumentFields& document);
};

// How a start of the spectrum ended.
enum class SpectrumStart {
    Computed,           // a spectrum (and envelope) is there
    NoData,             // no samples, nothing computed
    RangeBeyondAllowed, // frequency range above half the rate in whole kHz: the alert
    // Settings or positions nothing can be computed with (a damaged
    // configuration: N not a power of two in 32 … 8192, LPC order outside
    // 1 … 400, a negative applied window or step, a range below 1 Hz or too
    // wide to hold; a start or stop that is not a number, a start outside the
    // channel; a rate that is not positive and finite): nothing computed.
    Declined,
    // The watcher of the progress asked to stop: the previous result stays.
    Cancelled,
};

// The computation behind the spectrum window: the averaged FFT level
// spectrum of the audio channel from a start to a stop sample, the LPC
// envelope and the first five formants with their bandwidths, the readouts,
// the marker and the three log entries. The window only displays it. With
// m_bPreciseAnalysis the formants, their bandwidths and the envelope are the
// precise analysis's (PreciseFormants, at the middle of the stretch) and no
// LPC of the classic order is computed; the FFT spectrum stays as it is.
//
// One object per window; it is used from one thread at a time (the
// analysis library's work storage is per thread, so spectra may be computed
// on several threads at once).
class SpectrumAnalysis {
public:
    // The alert shown when the frequency range is too high for the rate.
    static constexpr const char* kRangeAlertMessage = "Frequency range is beyond allowable value.";
    static constexpr const char* kRangeAlertInformative =
        "Use Option->FFT/LPC and make sure the frequency range is up to 1/2 of sample rate";
    static constexpr const char* kRangeAlertButton = "OK";

    static constexpr const char* kMarkerHeaderWithLpc =
        "FFT/LPC Marker Entry: freq., FFT_dB, LPC_dB ";
    static constexpr const char* kMarkerHeader = "FFT/LPC Marker Entry: freq., FFT_dB ";
    static constexpr const char* kFormantsHeader =
        "FFT/LPC Formants & BW Entry: F1, F2, F3, F4, F5, BW1, BW2, BW3, BW4, BW5 ";

    static constexpr int kFormantSlots = 10; // m_dFormat / m_dBandWidth slots; 5 used
    static constexpr int kFormantsShown = 5;

    // The window's start for channel `channelIndex` of the document, or for -1
    // its audio channel (the first channel of type 1): copies the
    // document's FFT/LPC settings and runs PerformFFTLPC over [startPoint,
    // stopPoint] (samples of that channel).
    SpectrumStart doPerformFFTLPC(const MyDocument& document, double startPoint, double stopPoint,
                                  const WorkProgress& progress = {}, int channelIndex = -1);

    // The start: stores the inputs, checks the frequency range (at most
    // ((int)rate div 2000)·1000 Hz), allocates the zeroed buffers, clears the
    // formants to 0 and runs DoFFTLPC. `samples` must stay valid for the call
    // only; fileLength limits what is read. A long stretch reports its
    // progress to `progress`; when told to stop, the start ends Cancelled and
    // the previous result stays. Reporting never changes the result.
    SpectrumStart PerformFFTLPC(std::span<const float> samples, double startPoint, double stopPoint,
                                double fileLength, double sampleRate,
                                const SpectrumParameters& parameters,
                                const WorkProgress& progress = {});

    // The frame loop with averaging (see the class text), reporting the
    // frames' position between start and stop to `progress` and leaving
    // m_bRecalculate set when it is told to stop. Called by PerformFFTLPC;
    // public so that tests can run single steps.
    void DoFFTLPC(const WorkProgress& progress = {});
    // One frame's spectrum / envelope and formants, from the frame buffer.
    void PerformFFT();
    void PerformLPC();
    // With m_bPreciseAnalysis: the formants and bandwidths of the precise
    // analysis at the middle of the stretch (−1 in empty slots) and its
    // model's envelope up to its ceiling, lifted as the LPC envelope is.
    void takePreciseFormants();

    // --- results ----------------------------------------------------------------

    // Averaged level spectrum, one value per display point (per Hz from 0),
    // shifted so that its minimum is 0 (m_dFFTMIN = 0, m_dFFTMAX = its range).
    std::span<const double> spectrum() const;
    // The LPC envelope of the last frame over the display points, lifted so
    // that its peak meets the spectrum's (m_dLPCMAX = m_dFFTMAX). With
    // m_bPreciseAnalysis it is the precise formants' model, which describes
    // the band up to its ceiling only: the display points up to there.
    std::span<const double> envelope() const;
    int displayPoints() const { return m_nDisplayRange; }
    // Frames the last start analysed.
    int framesAnalysed() const { return m_nFramesAnalysed; }

    // One info field of the window: its label, its widget's name and its text.
    struct InfoField {
        std::string label;
        std::string name;
        std::string text;
    };
    // The info fields of the last start, each value "%d": the analysis
    // ("Classic" or "Precise"), sample rate, analysis bandwidth rate/N, N;
    // then for the classic analysis the LPC order, the applied window (ms)
    // and the average step (ms); for the precise one the applied window and
    // step, and the formant model: its ceiling (Hz; half the rate when that
    // is lower), its order and its window (ms).
    std::vector<InfoField> infoFields() const;

    // --- readouts and marker ------------------------------------------------------

    // Display index under a point `offset` points right of the graph's left
    // edge, the graph being `width` points wide: (int)(offset·display
    // points/width), limited to 0 … display points − 1; 0 without a width or
    // display points. Offset and width are passed apart because a fraction
    // offset/width, rounded first, lands one point short at exact pixel
    // boundaries (7/10 of 22050 points is 15435, 0.7·22050 is 15434.999…).
    int displayIndexAt(double offset, double width) const;
    // Power field text at display index j, dB with one decimal and no
    // padding: the absolute level, or the level relative to the peak (0 at
    // the peak, "-6.3" below it).
    std::string powerText(int j) const;
    // Frequency field text at j: j·m_dFreqfactor Hz with one decimal, no padding.
    std::string frequencyText(int j) const;
    // Mouse down: clears the marker, then (when `insideGraph`) sets it at
    // display index j with its frequency and levels (absolute or relative).
    void setMarker(bool insideGraph, int j);
    // "Formants = \t%7.1f…\nBandwidths = \t%7.1f…"; empty without formants.
    std::string formantText() const;
    // Which analysis the formants and envelope are, for the graph: "Precise
    // analysis: formants up to C Hz" or "Classic analysis: LPC order P".
    std::string analysisCaption() const;

    // --- log entries ------------------------------------------------------------------

    // Enabling: the log window visible and a spectrum (and for the marker
    // entry a marker).
    bool canLogMarker(bool logWindowVisible) const;
    bool canLogFormants(bool logWindowVisible) const;
    bool canLogFrame(bool logWindowVisible) const;
    // "_LogFormantsMarker:", "_LogFFTFormantBandwidths:", "_LogFFTFrame:".
    LogRecord markerLogRecord(const std::string& displayName) const;
    LogRecord formantsLogRecord(const std::string& displayName) const;
    std::vector<LogRecord> frameLogRecords(const std::string& displayName) const;

    // --- state (the view's fields) --------------------------------------------------
    double m_dStartPoint = 0.0;
    double m_dStopPoint = 0.0;
    double m_dFileLength = 0.0;
    double m_dSampleRate = 0.0;
    SpectrumParameters m_parameters;
    int m_nDisplayRange = 0;
    double m_dFreqfactor = 1.0;
    int m_nDataStorageLength = 0;

    double m_dFFTMIN = 0.0;
    double m_dFFTMAX = 0.0;
    double m_dLPCMIN = 0.0;
    double m_dLPCMAX = 0.0;
    std::array<double, kFormantSlots> m_dFormat{};
    std::array<double, kFormantSlots> m_dBandWidth{};
    bool m_bHaveFFT = false;
    bool m_bHaveLPC = false;
    bool m_bHaveFormants = false;
    bool m_bRecalculate = false;

    bool m_bHaveMarker = false;
    double m_dMarkerFreqValue = 0.0;
    double m_dMarkerFFTdBValue = 0.0;
    double m_dMarkerLPCdBValue = 0.0;

private:
    // Longest spectrum (display points) and longest frame or LPC window, in
    // values, a start will allocate: a 2 MHz recording at its full range and
    // LPC order 400 still fits.
    static constexpr int kMaxDisplayPoints = 1'000'000;
    static constexpr int kMaxStorageLength = 1 << 21;

    // Checks the inputs of a start; Declined when nothing can be computed.
    static bool acceptsInputs(std::span<const float> samples, double startPoint, double stopPoint,
                              double fileLength, double sampleRate,
                              const SpectrumParameters& parameters);
    // Frame copy length, frame step (samples) and LPC window of the stored inputs.
    int frameCopyLength() const;
    double frameStepSamples() const;
    int lpcWindowLength() const;
    // Level of the spectrum / envelope at display index j as the readouts and
    // log entries give it: absolute, or relative to the peak.
    double spectrumLevel(int j) const;
    double envelopeLevel(int j) const;
    bool haveSpectrumAt(int j) const;
    // Whether the envelope has a level at `frequencyHz`.
    bool envelopeCovers(double frequencyHz) const;

    std::span<const float> m_samples;  // valid during PerformFFTLPC only
    std::vector<InfoField> m_infoFields; // the info fields of the last start
    int m_nEnvelopePoints = 0;           // display points the envelope covers
    std::array<double, kFormantSlots> m_dFirstFormat{};    // frame 0's formants
    std::array<double, kFormantSlots> m_dFirstBandWidth{}; // and bandwidths
    std::vector<double> m_hdInputfile;       // one frame
    std::vector<double> m_hdFFTfile;         // this frame's spectrum
    std::vector<double> m_hdFFTfileSmoothed; // averaged spectrum
    std::vector<double> m_hdLPCfileSmoothed; // envelope
    int m_nFramesAnalysed = 0;
};

} // namespace phonaxis
