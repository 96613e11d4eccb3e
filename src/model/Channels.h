#pragma once

#include "analysis/WorkProgress.h"
#include "model/EggRecords.h"
#include "model/Geometry.h"
#include "model/Labels.h"
#include "model/TrackBuffer.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace phonaxis {

// An intensity track computed from a channel (Channels::ComputeIntensity)
// before the channel takes it: the values (absent for a channel without
// samples), their range and the length they describe.
struct IntensityTrack {
    FloatTrack values;
    double minimum = 0.0;
    double maximum = 0.0;
    double fileLength = 0.0;
};

// The span of levels an intensity pane shows (dB; dBFS for an absolute
// track), bottom to top.
struct IntensityPaneScale {
    static constexpr double kGridDb = 10.0;        // the ends lie on whole 10 dB
    static constexpr double kLargestSpanDb = 60.0; // quieter levels lie below the pane
    double lowDb = 0.0;
    double highDb = 0.0;
};

// The pane scale for a track whose levels above the dB floor run from
// minimumDb to maximumDb (its m_dIntensityMin and m_dIntensityMax): from
// the maximum rounded up to whole 10 dB down to the minimum rounded down to
// whole 10 dB, spanning at least 10 and at most 60 dB, so that a quiet
// stretch or the odd near-silent frame does not flatten the speech. Nothing
// when no level lies above the floor (a silent or absent track).
std::optional<IntensityPaneScale> intensityPaneScale(double minimumDb, double maximumDb);

// One signal channel of a document: its samples (32-bit floats normalised to
// full scale 1.0), titles and units, its place in the main view, its cursor,
// marker and selection, reference level and cubic calibration, labels,
// derived tracks and EGG events.
//
// Units: times (fields ending in Time or MS) in ms; positions and lengths
// (fields ending in File, m_dwFileLength, page fields) in samples held as
// doubles; m_dSampleRate in samples per second.
//
// Main thread only: a channel is owned by its document.
class Channels {
public:
    // Number of zero floats of slack after the samples in buffers made by the
    // readers (100 bytes).
    static constexpr std::size_t kSlackFloats = 25;

    Channels() = default;
    // Channels own large buffers: copies are explicit (Duplicate); moving
    // is how a document resets a slot to a new channel.
    Channels(const Channels&) = delete;
    Channels& operator=(const Channels&) = delete;
    Channels(Channels&&) noexcept = default;
    Channels& operator=(Channels&&) noexcept = default;

    // --- identity -----------------------------------------------------------
    const std::string& GetTitle() const { return m_strTitle; }
    void SetTitle(const std::string& title) { m_strTitle = title; }
    void SetTitlecText(const char* utf8) { m_strTitle = utf8 ? utf8 : ""; }
    const std::string& GetUnit() const { return m_strUnit; }
    void SetUnit(const std::string& unit) { m_strUnit = unit; }
    void SetUnitcText(const char* utf8) { m_strUnit = utf8 ? utf8 : ""; }

    // --- sample storage -----------------------------------------------------

    // Replaces the samples with `length` samples converted from `data` starting
    // at byte `location`. datasize 16: signed 16-bit × 1/32768; 12: signed
    // 16-bit words × 1/2048; 32: little-endian floats as stored. `swap`
    // exchanges the bytes of 16-bit words. Samples the block does not hold read
    // as 0. Any other datasize returns false and leaves a zero-filled buffer;
    // a buffer that cannot be allocated returns false and leaves none.
    bool readData(std::span<const std::uint8_t> data, double length, double location,
                  std::int32_t datasize, bool swap);

    // Replaces the samples with channel `whichchannel` of an interleaved block
    // of little-endian floats that starts at byte `from` of `data` and ends five
    // bytes before its end, `numofchannels` floats per frame. Positions past
    // the block read as 0. True when at least one sample was taken.
    bool readDataUSB2(std::span<const std::uint8_t> data, double length,
                      std::int32_t numofchannels, std::int32_t whichchannel, std::int32_t from);

    // Replaces the samples with a copy of `length` floats.
    bool setData(const float* values, double length);

    // Makes this channel a deep copy of `source` (samples, scalar settings,
    // labels, intensity, pitch, velocity and acceleration tracks). EGG lists,
    // DC settings and a few drawing flags keep this channel's values.
    void Duplicate(const Channels& source);

    // Re-derives the selection from cursor and marker: the earlier of the two
    // is the start, the later the stop.
    void CalculateDuration();
    double GetDurationTime() const { return m_dDurationTime; }

    // The state a reader gives a channel read from a file that stores no view
    // or scaling settings: page and unzoom extent over all `length` samples,
    // reference 0, identity calibration, converter range and full scale 1,
    // gain 1 and the filter at half of `rateHz`.
    void setPlainReadState(double length, double rateHz);

    // Samples in use as a view of the buffer (empty when there is none).
    std::span<const float> samples() const;

    // --- time axis, cursor, marker, reference, calibration --------------------
    // Points are view points whose x is measured from the left edge of the
    // plotting area.

    double msPerSample() const { return m_dLengthMS / m_dwFileLength; }
    int stripWidth() const { return int(m_rLocation.right) - int(m_rLocation.left); }

    void GetPageMinMaxTimes(double& pageStartMs, double& pageEndMs);
    double GetCursorPixelforTime(double timeMs);
    void GetRect(Rect& out, double timeMs);
    Rect GetSelectionRect();

    void SetCursorInFile_Point(PointD point);
    void SetCursorInFile_Time(double timeMs);
    double GetCursorTime(PointD point) const;
    double GetCursorValue_Time(double timeMs);
    double GetCursorValue_Point(PointD point);
    void SetMarkerValues_Point(PointD point);
    void SetMarkerValues_Time(double timeMs);
    double SetRefrenceValue_Point(PointD point);
    double SetRefrenceValue_Time(double timeMs);
    double CalibrateNew(double storedValue) const;
    double GetRawValue(double timeMs) const;
    const Rect& location() const { return m_rLocation; }

    // The calibrated value of the stored sample at `timeMs`, as the status
    // read-out and the marker log show it (narrowed to a 32-bit float).
    float calibratedValueAt(double timeMs);

    // --- labels -------------------------------------------------------------
    // A label is named by its index in m_pArrayLabels (creation order); every
    // operation keeps m_nLabelCount equal to the list's size and ignores an
    // index outside the list. `leftMargin` is the view's left margin: labels
    // are placed in view coordinates, where the plotting area starts there.

    // Appends a label made from `record`: its text, time, vertical factor,
    // justification, bAddLine, font and colour; `rectLocation` := the
    // record's rect and bounds := origin (left, top), size (|right - left|,
    // |bottom - top|) of it.
    void Add_Label(const LabelTransfer& record);
    // Appends a copy of `label`.
    void Add_Label_Cocoa(const Labels& label);
    // Appends a label with the record's text, font, colour, justification
    // and bAddLine at the marker time, with its top at the clicked height
    // `click` (view coordinates); a label that would reach below the strip is
    // moved up so that its bottom touches it. Returns the new label's index.
    int Add_Label_Cocoa_Where(const LabelTransfer& record, PointD click, double leftMargin);
    // Replaces the label at `index` by `replacement`.
    void Modify_Labels(int index, const Labels& replacement);
    // Removes the label at `index`; returns `index`, or -1 when there is none.
    int RemoveLabel(int index);
    void RemoveAllLabels();
    // Completes a drag of the label at `index` to the view rectangle
    // `dragged`: its height fraction follows the new top, its time moves by
    // the difference of the (clamped) cursor times at the new and old left
    // edges, and it takes `dragged` as its location with no drag offset.
    void MoveLabel(int index, const Rect& dragged);
    void MoveLabelTimeBy(int index, double ms);
    const Labels* GetLabel(int index) const;
    // Places the label at `index` on the page [pageStartMs, pageEndMs] in
    // view coordinates (bounds and rectLocation) and returns it; nullptr when
    // its time is not strictly inside the page or there is no such label.
    Labels* GetLabelZoomed(int index, double pageStartMs, double pageEndMs, double leftMargin);
    // First label, in list order, whose current bounds contain `point`; -1
    // when none does.
    int LabelSelected(PointD point) const;
    // Places every label on the page (GetLabelZoomed) and returns the first
    // placed one whose bounds contain `point`, or -1: labels off the page,
    // including those exactly at its start or end, cannot be hit.
    int labelAtPointOnPage(PointD point, double pageStartMs, double pageEndMs, double leftMargin);

    // --- derived tracks and EGG cycles ---
    // Tracks hold one value per sample, so a time's track index is its sample
    // index. Every compute operation replaces its track's previous buffer and
    // returns false, leaving the track absent, when a buffer cannot be
    // allocated. Smoothing and DC-removal windows that do not fit inside the
    // channel never read or write outside the buffers (see each operation).

    // Intensity track of the samples about m_dReference in dB re full scale
    // (dBFS), framed by m_dIntensityWindowLengthMS (rounded to whole samples)
    // and m_dIntensityStepSizeMS (a window too long for one frame inside the
    // channel is cut to the longest that leaves one; a channel without room
    // for one frame at the step reads its whole level). Digital silence reads
    // CMathFunc::kIntensityFloorDb; m_dIntensityMin/Max receive the range of
    // the levels above it. With m_bIntensityRelative the levels above the
    // floor are in dB above the quietest of them (silence keeps the floor).
    // A channel without samples gets m_bHaveIntensity set and no buffer.
    bool CalculateIntensity();
    // The same track computed without touching the channel's own, for a
    // caller that takes it (SetIntensity) only once all its work is done.
    // Nothing when the track cannot be allocated or `progress` asked to stop.
    std::optional<IntensityTrack> ComputeIntensity(const WorkProgress& progress = {}) const;
    // Makes `track` the channel's intensity track and sets m_bHaveIntensity.
    void SetIntensity(IntensityTrack track);
    // The intensity track's value at `timeMs`; 0 when there is no track.
    // Times outside the channel read its first or last value.
    double GetIntensityCursorValue(double timeMs) const;
    // The intensity window in whole samples: m_dIntensityWindowLengthMS ×
    // m_dSampleRate / 1000 rounded, at least 1.
    double intensityWindowSamples() const;
    // The level at `timeMs` in dBFS, the figure every intensity readout, log
    // record and table gives: CMathFunc::IntensityLevelDb of the intensity
    // window's samples from the sample at timeMs × m_dSampleRate / 1000
    // (truncated; within 10^-6 of a sample counts as that sample), cut at the
    // channel's end, about m_dReference. Times outside the channel are
    // measured from its first or last sample. It does not depend on the
    // track, m_bIntensityRelative or anything outside the window.
    // kIntensityFloorDb for digital silence and for a channel without samples.
    double intensityDbfsAt(double timeMs) const;

    // When m_bSmoothDo is set, replaces the samples by their centred moving
    // average over trunc(m_dSmoothNumOfPoints) points made odd; the first and
    // last few samples take the nearest averages kept. A window that does not
    // leave at least five samples beyond it leaves the samples unchanged
    // (returns false).
    bool CalculateSmooth();

    // Velocity: neighbouring-sample differences × m_dSampleRate (stored units
    // per second), then a forward moving average over `windowMs` (none for 0).
    // A window too long to leave one whole average gives every index the
    // mean of all differences. m_dVelocityMin/Max always include 0.
    // `progress` hears how far the passes have got; when it asks to stop,
    // false is returned and the track is left absent.
    bool CalculateVelocity(double windowMs, const WorkProgress& progress = {});
    // Velocity with `velocityWindowMs`, then its differences × m_dSampleRate
    // averaged over `accelerationWindowMs` the same way (units per second²).
    bool CalculateAcceleration(double velocityWindowMs, double accelerationWindowMs,
                               const WorkProgress& progress = {});
    // Track value at `timeMs` (limited to the track), cached in
    // m_dVelocityCursorValue / m_dAccelerationCursorValue; without a track the
    // cached value is returned unchanged.
    double GetVelocityCursorValue_Time(double timeMs);
    double GetAccelerationCursorValue_Time(double timeMs);
    // The same at a view point; 0 when the track has not been computed.
    double GetVelocityCursorValue_Point(PointD point);
    double GetAccelerationCursorValue_Point(PointD point);

    // DC level (moving average over m_dDCShiftWindowMS rounded to whole
    // samples, in m_hdDataSmoothedDC) and DC-removed signal (in
    // m_hdDataSmoothedShifted), both at single precision. A window that does
    // not leave five samples beyond it uses the mean of the whole channel; a
    // window under two samples removes nothing. False without samples.
    bool GetDC_Shift(const WorkProgress& progress = {});

    // Detects threshold crossings, peaks, valleys and glottal cycles with
    // their contact instants and closed quotients in [startFile, stopFile)
    // (sample positions, limited to the channel). Needs a velocity track
    // covering the channel (CalculateAcceleration); without one, or without
    // samples, nothing changes and false is returned. A closed quotient whose
    // intervals are not both positive, and every quotient of the last cycle,
    // is 0. When `progress` asks to stop, false is returned with the events
    // unchanged (the DC tracks may already be new).
    bool DoPositionCycleDetection(double startFile, double stopFile,
                                  const WorkProgress& progress = {});
    // The EGG analysis of the whole channel: CalculateAcceleration with
    // m_dVelocitySmoothingWindow and m_dAccelerationSmoothingWindow, then
    // DoPositionCycleDetection over every sample. When a step fails, or
    // `progress` asks to stop, the channel keeps the tracks,
    // DC level and events it had before and false is returned.
    bool EggAnalysisAll(const WorkProgress& progress = {});
    // Empties m_pArrayCycle and clears m_bHaveCycle.
    void RemoveCyclesAll();

    // --- fields, in declaration order --------------------------------------
    std::int32_t m_nChannelType = 0; // 1: the audio channel
    std::int32_t m_nChannelsinFile = 0;
    SampleBuffer m_hData;
    double m_dLengthMS = 0.0;
    double m_dSampleRate = 11025.0;
    double m_dwFileLength = 0.0;
    std::int32_t m_nResolutionBits = 16;
    std::int32_t m_nDataType = 0;
    Rect m_rLocation;
    std::int32_t m_nHeigth = 100;
    std::string m_strTitle = "channel";
    std::int32_t m_nOrder = 0;
    bool m_bAnchorChannel = false;
    bool m_bShow = true;
    std::int32_t m_nColorRed = 0;
    std::int32_t m_nColorGreen = 0;
    std::int32_t m_nColorBlue = 0;
    std::string m_strUnit = "normalized";
    double m_dGain = 1.0;
    double m_dFilterRate = 5500.0;
    double m_dReference = 0.0;
    bool m_bDrawReference = true;
    double m_dADInputVoltageRangeMV = 1.0;
    double m_dMaxRangeBits = 1.0;
    double m_dA3Cal = 0.0;
    double m_dB2Cal = 0.0;
    double m_dC1Cal = 1.0;
    double m_dD0Cal = 0.0;
    bool m_bApplyCalibration = false;
    double m_dPageMin = 0.0;
    double m_dPageMax = 0.0;
    double m_dPageSize = 0.0;
    double m_dPageTimeMin = 0.0;
    double m_dPageTimeMax = 0.0;
    double m_dPageTimeSize = 0.0;
    PointD m_ptOldCursorLoc;
    PointD m_ptNewCursorLoc;
    double m_dCursorDataValue = 0.0;
    double m_dMarkerDataValue = 0.0;
    double m_dCursorFileValue = 0.0;
    double m_dMarkerFileValue = 0.0;
    double m_dCursorTime = 0.0;
    double m_dMarkerTime = 0.0;
    double m_dDurationStartTime = 0.0;
    double m_dDurationStopTime = 0.0;
    double m_dDurationStartFile = 0.0;
    double m_dDurationStopFile = 0.0;
    double m_dDurationTime = 0.0;
    double m_dDurationFile = 0.0;
    double m_dMinUnZoom = 0.0;
    double m_dMaxUnZoom = 0.0;
    std::int32_t m_nLabelCount = 0;
    std::vector<Labels> m_pArrayLabels;
    Labels eachLabel;
    FloatTrack m_hfDataIntensity;
    double m_dIntensityFileLength = 0.0;
    double m_dIntensityWindowLengthMS = 30.0;
    double m_dIntensityStepSizeMS = 10.0;
    double m_dIntensityMax = 0.0;
    double m_dIntensityMin = 0.0;
    bool m_bIntensityRelative = false;
    bool m_bHaveIntensity = false;
    bool m_bDrawIntensity = true;
    double m_dSmoothNumOfPoints = 5.0;
    bool m_bSmoothDo = false;
    FloatTrack m_hfDataPitch;
    std::int32_t m_nPitchFileLength = 0;
    bool m_bHavePitch = false;
    DoubleTrack m_hdDataVelocity;
    double m_dVelocityFileLength = 0.0;
    double m_dVelocityMax = 0.0;
    double m_dVelocityMin = 0.0;
    bool m_bHaveVelocity = false;
    bool m_bDrawVelocity = false;
    std::int32_t m_nVelocityColorRed = 0;
    std::int32_t m_nVelocityColorGreen = 0;
    std::int32_t m_nVelocityColorBlue = 65535;
    double m_dVelocityCursorValue = 0.0;
    double m_dVelocitySmoothingWindow = 0.5;
    DoubleTrack m_hdDataAcceleration;
    double m_dAccelerationFileLength = 0.0;
    double m_dAccelerationMax = 0.0;
    double m_dAccelerationMin = 0.0;
    bool m_bHaveAcceleration = false;
    bool m_bDrawAcceleration = false;
    std::int32_t m_nAccelerationColorRed = 0;
    std::int32_t m_nAccelerationColorGreen = 65535;
    std::int32_t m_nAccelerationColorBlue = 0;
    double m_dAccelerationCursorValue = 0.0;
    double m_dAccelerationSmoothingWindow = 0.5;
    double m_dPositionEstimationWindow = 20.0;
    double m_dVelocityEstimationWindow = 20.0;
    double m_dAccelerationEstimationWindow = 20.0;
    std::vector<ArrayData> m_pArrayMarkers;
    bool m_bHaveArrayMarkers = false;
    bool m_bDrawArrayMarkers = false;
    std::vector<ArrayData> m_pArrayRefCrossingUpDown;
    bool m_bHaveRefCrossingUpDown = false;
    bool m_bDrawRefCrossingUpDown = false;
    double m_dPosRefCrossingUpDownThreshhold = 0.0;
    double m_dNegRefCrossingUpDownThreshhold = 0.0;
    std::vector<ArrayData> m_pArrayPeak;
    bool m_bHavePeak = false;
    bool m_bDrawPeak = false;
    double m_dPeakThreshhold = 0.0;
    std::vector<ArrayData> m_pArrayValley;
    bool m_bHaveValley = false;
    bool m_bDrawValley = false;
    double m_dValleyThreshhold = 66000.0;
    std::vector<ArrayData> m_pArrayMaxima;
    bool m_bHaveMaxima = false;
    bool m_bDrawMaxima = false;
    std::vector<ArrayData> m_pArrayMinima;
    bool m_bHaveMinima = false;
    bool m_bDrawMinima = false;
    std::vector<ArrayCycle> m_pArrayCycle;
    double m_dCycleThresholdPerCent = 25.0;
    double m_dCycleThresholdVelocityZero = 5.0;
    double m_dCycleThresholdAccelerationZero = 5.0;
    bool m_bHaveCycle = false;
    bool m_bDrawCycleThreshold = false;
    DoubleTrack m_hdDataSmoothedShifted;
    DoubleTrack m_hdDataSmoothedDC;
    bool m_DrawDCLevel = false;
    double m_dDCShiftWindowMS = 8.0;
    double m_dThresholdLevelDetectPerCent = 10.0;

private:
    // Sample position under a point, clamped to [0, m_dwFileLength].
    double clampedPositionForPoint(PointD point) const;
    // Time of a clamped position, itself clamped to [0, m_dLengthMS].
    double clampedTimeForPosition(double position) const;
    // Stored value at a sample index, limited to the samples that exist.
    // False when the channel has no samples.
    bool storedValueAtIndex(double position, double& value) const;
};

} // namespace phonaxis
