#pragma once

namespace phonaxis {

// The marker and selection of a spectrogram window, in the times and
// frequencies of the analysed range [startTime, stopTime] (ms) and
// [0, frequency range] (Hz), and how mouse presses and drags change them.
// A marker and a selection never coexist: a drag away from the marker turns
// it into a selection, and a press while a selection exists only clears it.
// Plain data; main thread.
struct SpectrogramMarks {
    bool m_bHaveMarker = false;
    bool m_bHaveSelection = false;
    double m_dLogMarkerTime = 0.0;        // ms, absolute
    double m_dLogFreqValue = 0.0;         // Hz
    double m_dLogDurationStartTime = 0.0; // ms from the start time
    double m_dLogDurationStopTime = 0.0;  // ms from the start time
    double m_dLogDurationTime = 0.0;      // ms

    // A press at `timeMs`, `frequencyHz`: clears any selection and sets the
    // marker there, held to the range; a press off the image thus lands on
    // the range's nearest end. Always true: a drag may follow.
    bool mouseDown(double timeMs, double frequencyHz, double startTime, double stopTime,
                   double frequencyRangeHz);
    // A drag from the marker to `timeMs` (held to the range): the selection
    // between them, or the marker again when they meet.
    void dragTo(double timeMs, double startTime, double stopTime);
    void clear() { *this = SpectrogramMarks{}; }

    // The column under `timeMs` for `columns` columns over [startTime,
    // stopTime]: (int)((time − start) × columns / (stop − start)), held to
    // 0 … columns − 1 (0 without columns or range).
    static int columnAt(double timeMs, double startTime, double stopTime, int columns);

private:
    double m_dAnchorTime = 0.0; // where the drag began, ms absolute
};

} // namespace phonaxis
