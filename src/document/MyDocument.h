#pragma once

#include "document/AppSettings.h"
#include "document/AvailableMemory.h"
#include "document/Bytes.h"
#include "document/Prompts.h"
#include "model/Channels.h"
#include "model/Geometry.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace phonaxis {


// Format codes held in m_nFileFormat.
namespace FileFormat {
constexpr std::int32_t kNone = -1;     // new document; readers that know no code
constexpr std::int32_t kWav = 2;       // WAV reader
constexpr std::int32_t kPcFloat = 4;   // KVQ_PC_FLOAT and recordings
constexpr std::int32_t kUsb2Float = 11; // USB2 float reader
} // namespace FileFormat

// Every document-wide field with the value a new document starts with, in
// declaration order. Kept apart from the channels so that Initilize can reset
// them all at once.
struct DocumentFields {
    std::int32_t m_nNumofChannels = 0;
    bool m_bHaveData = false;
    bool m_bNewFile = true;
    bool m_bForeignFile = false;
    bool m_bHaveSelection = false;
    bool m_bHaveMarker = false;
    std::int32_t m_nFileFormat = FileFormat::kNone;

    RGBColor m_ColorBackGround, m_ColorCursor, m_ColorSelection, m_ColorMarker;
    bool m_bInches = true;
    double m_dWidth = 6.0;
    double m_dHeight = 4.0;
    bool m_bDrawTimeGrid = true;
    std::int32_t m_nTimeGridSpacing = 0;
    bool m_bColor = false;
    bool m_bTrackMouse = true;
    double m_dwSaveFilterIndex = 1.0;

    double m_dAnalysisSampleRate = 11025.0;
    double m_dwAnalysisFileLength = 0.0;
    double m_dAnalysisLengthMS = 0.0;
    double m_dZoomRange = 1000.0;

    std::int32_t m_nFFTWindowLengthSelector = 3;
    std::int32_t m_nFFTWindowLength = 256;
    std::int32_t m_nFFTAppliedWindowLength = 23;
    std::int32_t m_nFFTAverageStepSize = 10;
    std::int32_t m_nFFTfrequencyRange = 5000;
    bool m_bFFTAbsolute = false;
    std::int32_t m_nFFTAbsoluteRange = 80;
    bool m_bFFTInches = true;
    double m_dFFTWidth = 6.0;
    double m_dFFTHeight = 4.0;
    bool m_bFFTColor = false;
    bool m_bFFTDrawFrequencyGrid = true;
    std::int32_t m_nFFTFrequencyGrid = 1000;
    bool m_bFFTDrawDBGrid = true;
    std::int32_t m_nFFTDBGrid = 20;
    std::int32_t m_nLPCNumberofCoefficients = 14;
    bool m_bFFTDrawLPC = true;
    std::int32_t m_nFFTFrameInterval = 10;

    std::int32_t m_nSpecWindowLength = 64;
    std::int32_t m_nSpecWindowLengthSelector = 2;
    std::int32_t m_nSpecfrequencyRange = 5000;
    std::int32_t m_nSpecDynamicRange = 55;
    double m_dPreEmphasis = 0.98;
    bool m_bSpecDrawFormantTracking = true;
    std::int32_t m_nSpecLPCNumberofCoefficients = 14;
    bool m_bSpecInches = true;
    double m_dSpecWidth = 6.0;
    double m_dSpecHeight = 4.0;
    bool m_bSpecDrawAudio = true;
    bool m_bSpecDrawIntensity = false;
    bool m_bSpecDrawLabels = true;
    bool m_bSpecDrawFrequencyGrid = true;
    std::int32_t m_nSpecFrequencyGrid = 1000;
    bool m_bSpecDrawTimeGrid = true;
    std::int32_t m_nSpecTimeGrid = 500;

    double m_dPitchWindowLength = 35.0;
    double m_dPitchStepSize = 10.0;
    double m_dCalculationHigh = 500.0;
    double m_dCalculationLow = 50.0;
    std::int32_t m_nDisplayHigh = 500;
    std::int32_t m_nDisplayLow = 50;
    bool m_bPitchDrawFreqGrid = true;
    std::int32_t m_nPitchFreqGrid = 20;
    bool m_bPitchDrawTimeGrid = true;
    std::int32_t m_nPitchTimeGrid = 500;
    bool m_bCepstral = true;
    double m_dTrackingThreshHold = 1.0;
    double m_dFreqDeviation = 100.0;
    double m_dTrackingThreshHold_AutoCorrolation = 1.0;
    double m_dFreqDeviation_AutoCorrolation = 100.0;
    bool m_bHavePitch = false;
    bool m_bHavePitchSelection = false;
    bool m_bDrawPitch = false;
    bool m_bHavePitchWindow = false;
    bool m_bPitchDrawAudio = true;
    bool m_bPitchDrawIntensity = true;
    bool m_bPitchDrawLabels = true;
    bool m_bPitchColor = true;
    bool m_bPitchInches = true;
    double m_dPitchWidth = 6.0;
    double m_dPitchHeigth = 4.0;

    std::int32_t m_nGenericHeaderSize = 0;
    std::int32_t m_nGenericSampleRate = 10000;
    bool m_bGenericFileType = true;
    bool m_bGenericResolution = true;
    bool m_bGenericByteOrder = true;
    double m_dLogStepSize = 1.0;
    std::int32_t m_nVelocitySmoothingPoints = 0;
    std::int32_t m_nAccelerationSmoothingPoints = 0;
    std::int32_t m_nEGGChannelIndex = -1;
    std::int32_t m_nEGGThresholdPerCent = 25;
    std::int32_t m_nPlotType = 0;
    bool m_bDrawData = true;
    bool m_bDrawEllipse = true;
    bool m_bDrawMean = true;
    bool m_bDrawMeanLabel = true;
    bool m_bDrawIndividualLabels = true;
    std::int32_t m_nF1RangeHigh = 1600;
    std::int32_t m_nF2RangeHigh = 3000;
    std::int32_t m_nF3RangeHigh = 3000;

    // The precise analysis mode of the spectrum, spectrogram and pitch
    // analyses, and the formant ceiling it analyses formants up to (Hz;
    // 5,500 suits higher voices). Kept beside the configuration record, not
    // in it, so that the record's layout does not change. The precise mode
    // is a new document's: the classic analyses lose F1 of a high voice's
    // /i/ and read a sine's pitch an octave and more off, so they are one
    // choice away (the sheets' "Precise Analysis" box, --classic) rather
    // than what a user gets without touching a setting.
    bool m_bPreciseAnalysis = true;
    double m_dFormantCeiling = 5000.0;

    // The formant silence gate (dBFS): a formant analysis whose frame is
    // quieter than this (the mean square of the samples it reads, re full
    // scale) gives no formants. An absolute level, so that a loud event
    // elsewhere changes nothing. Kept beside the configuration record.
    double m_dFormantSilenceLevel = -50.0;
};

// Sets the spectrum/spectrogram ranges, the applied window and the LPC
// orders of `fields` to what they are at the analysis rate `rateHz`; a rate
// that is not positive and finite changes nothing.
void applyRateDependentSettings(DocumentFields& fields, double rateHz);

// The settings a new document has for the analysis rate `rateHz`: the
// declared defaults with the rate-dependent ones computed for that rate,
// before any configuration file is applied (m_dAnalysisSampleRate itself
// keeps its declared value). What the settings sheets' Default buttons
// restore.
DocumentFields newDocumentFields(double rateHz);

// The open recording: twenty channel slots (0 .. m_nNumofChannels - 1 in
// use), every document-wide setting, the open dispatch over the readers and
// the save flows. Alerts, choosers and panels go through `Prompts`.
// Main thread only.
class MyDocument : public DocumentFields {
public:
    static constexpr int kChannelSlots = 20;

    // Builds a new document (Initilize). `prompts` must outlive the document;
    // `settings` defaults to the process-wide object.
    explicit MyDocument(Prompts& prompts, AppSettings& settings = AppSettings::instance());
    MyDocument(const MyDocument&) = delete;
    MyDocument& operator=(const MyDocument&) = delete;

    // Resets every field to a new document's value.
    void Initilize();

    // The channel in slot `index` (0..19).
    Channels& getChannel(int index) { return m_Channel[static_cast<std::size_t>(index)]; }
    const Channels& getChannel(int index) const { return m_Channel[static_cast<std::size_t>(index)]; }

    // The number of slots in use, m_nNumofChannels limited to 0..20.
    int channelsInUse() const { return std::clamp(m_nNumofChannels, 0, kChannelSlots); }

    // Index of the audio channel (the first channel in use whose type is 1), or -1.
    int audioChannelIndex() const;

    // Marks the document changed; changeCount() counts the marks since the
    // last load or save.
    void setDirty() { ++m_changeCount; }
    int changeCount() const { return m_changeCount; }
    void clearChangeCount() { m_changeCount = 0; }

    // Whether a document command is enabled (save, save as, revert, …).
    // Commands are named as in the menus: "saveDocument:", "_fileSaveCopyAs:", …
    bool validateMenuItem(const std::string& command) const;

    // --- reference levels ------------------------------------------------------
    // The main view's reference commands; each needs a document with data and
    // recomputes the intensity tracks measured about the changed references.

    // Every channel but the audio channel: reference := stored value at the
    // channel's own marker time.
    void setReferenceAll();
    // Only channel `index` (the channel last clicked; -1 for none).
    void setReferenceFor(int index);
    // Every channel's reference := 0, the audio channel's included.
    void setReferenceAllZero();

    // Recomputes the intensity track of channel `index` if it has one (after
    // a reference change or an edit).
    void recomputeIntensity(int index);

    // --- opening ------------------------------------------------------------

    // Opens a file by its content: tries the readers in their fixed order and
    // stops at the first that recognises the bytes. The type name takes no
    // part in the decision. False when no reader recognises the file; the
    // document is then unchanged.
    bool readFromData(ByteView bytes, const std::string& typeName);

    // The system's own files: the KVQ family and the older PMF headers.
    bool Read_KVQ_MAC_FileType(ByteView bytes);
    bool Read_KVQ_PC_FileType(ByteView bytes);
    bool Read_KVQ_PC_Float_FileType(ByteView bytes);
    bool Read_USB2_Float_FileType(ByteView bytes);
    bool Read_OLD_PC_FileType(ByteView bytes);
    bool Read_OLD_MAC_FileType(ByteView bytes);

    bool Read_WAVE_FileType(ByteView bytes);
    bool Read_AIFF_FileType(ByteView bytes);

    // Where a WAV file keeps its samples, for reading them after its header:
    // frames of `blockAlign` bytes from byte `dataOffset`, each channel's
    // sample `bytesPerSample` bytes after the previous one's.
    struct WaveSamples {
        std::uint64_t dataOffset = 0;
        std::size_t frames = 0;
        std::size_t channels = 0;
        std::size_t blockAlign = 0;
        std::size_t bytesPerSample = 0;
        int coding = 0;
    };
    // Reads only the header of the WAV file open as `fd` (`fileSize` bytes
    // long): the document then holds what Read_WAVE_FileType gives (the
    // channels, their rates, lengths, titles and units, the note of a short
    // file), except that the channels hold no samples yet. `where` tells
    // readWaveSamples where they are. False, the document unchanged, when
    // the file is no WAV file this reader opens or cannot be read.
    bool Read_WAVE_Header(int fd, std::uint64_t fileSize, WaveSamples& where);
    // Samples [from, to) of channel `channel` of the WAV file open as `fd`,
    // as normalised floats into `out` (to - from values; the caller keeps
    // both inside the header's frames). Read in blocks on `threads` threads,
    // so that the file's bytes are never held whole; the values do not
    // depend on the thread count. False when the file no longer holds them
    // (it shrank) or cannot be read, with errno set.
    static bool readWaveSamples(int fd, const WaveSamples& where, std::size_t channel,
                                std::size_t from, std::size_t to, float* out, int threads);

    // A file whose header (or channel records) declares more samples than
    // the file holds opens with the samples it holds; the reader leaves the
    // lengths here so that the caller can say so. Set by each successful read
    // of every format (empty when the file is whole); a declined read leaves
    // it as it was. A streaming WAV header's size (0 or 0xFFFFFFFF bytes of
    // data) declares nothing.
    struct ShortRecording {
        // The whole file (every channel), or the first group of channels
        // below.
        double heldSeconds = 0.0;
        double declaredSeconds = 0.0;

        // Channels cut short when not every channel is, as runs of channels
        // (indices from 0) that hold and declare the same durations.
        struct ChannelGroup {
            std::vector<int> indices;
            double heldSeconds = 0.0;
            double declaredSeconds = 0.0;
        };
        std::vector<ChannelGroup> channels;

        // "file holds 0.57 s of the 2.0 s its header declares", or for some
        // channels "file holds 2.37 s of the 3.5 s its header declares for
        // channel 2" (further groups: ", and 0.0 s of the 3.5 s for channels 3
        // and 4").
        std::string text() const;

        // The note for a file whose channel c holds `held[c]` of its
        // `declared[c]` samples at `rateHz[c]`: nothing when every channel
        // holds what it declares; the whole file when every channel is cut
        // to the same durations; the channels cut short otherwise.
        static std::optional<ShortRecording> of(std::span<const std::size_t> held,
                                                std::span<const std::size_t> declared,
                                                std::span<const double> rateHz);
    };
    std::optional<ShortRecording> m_shortRecording;

    // Turns a sound-card recording (a 32-bit float WAV file) into channel 0
    // of this new document, which then holds that one channel and counts as
    // changed. 1 when read; 0 when the bytes are not such a file (nothing
    // changes); -1 when the file has no "data" chunk.
    int Read_RecordedFile(ByteView bytes);

    // Turns a box recording's raw file (2,048-frame blocks of 16 int16
    // slots at 22,050 frames per second; a partial last frame is ignored)
    // into the channels of this document: one channel per enabled entry
    // among the first `systemChannels` entries of `table` (never past entry
    // 12, whose slot 15 is the frame's last), in entry order. Entry 0 gives
    // "Audio" (the mean of slots 0..3, the audio channel), entry e > 0 gives
    // "ch<e>" from slot e + 3; the first channel made is the anchor. Each
    // channel runs at 22,050 Hz in "normalized" units with the identity
    // calibration and its entry's gain and filter rate. Every other channel
    // slot is emptied. The file is read in chunks, never held whole.
    // 0 when read (the document is then a new recording in the native float
    // format that counts as changed); -1, with an alert titled "Sample
    // saving error" and the document unchanged, when no entry is enabled,
    // the file cannot be read or the samples would not fit the memory this
    // process may still take (as `memory` tells: the system's by default).
    int Read_RecordedFile_X2(const std::string& path, std::span<const ChannelInfo> table,
                             int systemChannels,
                             const MemorySources& memory = MemorySources::system());

    // Takes the analysis rate and length from channel slot 0. With
    // `trackLastRate`, a rate that differs from the process-wide last rate
    // becomes the last rate and the rate-dependent settings are recomputed.
    void adoptAnalysisSampleRate(bool trackLastRate);
    // Recomputes the spectrum/spectrogram ranges, applied window and LPC
    // orders for the analysis rate `rate`.
    void recomputeRateDependentSettings(double rate);

    // --- saving -------------------------------------------------------------

    // The bytes to write for a type name ("pmf", "wav", "aiff"/"aif"), or
    // nothing (with an alert where the user must be told).
    std::optional<Bytes> dataOfType(const std::string& typeName);

    // What saving the whole document as a WAV file would lose (a WAV file
    // keeps the samples and a whole-number rate; reading it back gives every
    // channel plain settings), in words for the user: "labels",
    // "calibrations", "units", "channel titles", … in that order. Empty when
    // the WAV file gives back everything.
    std::vector<std::string> wavDiscards() const;

    // The channels (indices from 0) that a WAV file of all channels, whole
    // or each channel's selection, would cut: a WAV file holds every channel
    // over the frames of channel 0 (its selection), so a channel holding
    // samples of its own range beyond them loses those. Empty when every
    // sample is kept.
    std::vector<int> wavCutChannels(bool selection) const;

    // The native float files of the shown channels, whole or each channel's
    // selection.
    std::optional<Bytes> Save_KVQ_PC_Float_FileType(bool selection);
    std::optional<Bytes> Save_KVQ_PC_USB2_Float_FileType(bool selection);

    // A 32-bit float WAV file: all channels (index -1, n = channel count) or
    // one channel (export), whole or the selection of the reference channel.
    std::optional<Bytes> Save_WAVE_FileType_float(bool selection, std::int32_t nWhichChannel,
                                                  std::int32_t nNumberChannel, bool bExport);

    // The document's own save commands. Each asks for a file through a save
    // panel and writes it; failures are told through alerts.
    void fileSaveCopyAs();
    void fileSaveSelectionAs();
    void fileExportChannelAs();
    void fileExportChannelSelectionAs();
    // Saves a copy and, once it was written, calls `doRecord`.
    void saveBeforeRecord(const std::function<void()>& doRecord);

    // Completes a save-selection/export command for the chosen path, using
    // the process-wide save context.
    void didEndSaveFiles(const std::string& path);

    // The user's home folder where save panels start.
    static std::string homeDirectory();

    // --- fields ----------------------------------------------------------------
    // The channel slots; the document-wide settings are the inherited
    // DocumentFields.
    std::array<Channels, kChannelSlots> m_Channel;

private:
    // The end of reading a fresh recording into `channels` channels: the
    // document holds data as a new, unsaved float document without marker
    // or selection, an EGG index past the channels is dropped, the analysis
    // rate follows channel 0, and it counts as changed (it exists nowhere
    // else until saved, so closing the window asks first).
    void becomeFreshRecording(std::int32_t channels);

    using Reader = bool (MyDocument::*)(ByteView);

    // What a WAV header says the document gets.
    struct WaveShape {
        std::size_t channels = 0;
        std::uint32_t sampleRate = 0;
        std::uint16_t bitsPerSample = 0;
        std::size_t frames = 0;
        std::size_t declaredData = 0; // the data chunk's size as its header gives it
        std::size_t blockAlign = 0;
    };
    // The end of reading a WAV file: channel i takes buffers[i] (empty when
    // only the header was read) and the shape's rate, length and names.
    void adoptWave(const WaveShape& shape, std::vector<SampleBuffer>& buffers);

    // Writes bytes to a chosen path; alerts "Error in save" on failure.
    bool writeChosenFile(const std::string& path, const Bytes& bytes);
    // The whole document (any format) or each channel's selection (float
    // formats only) in the native float format of the loaded data.
    std::optional<Bytes> nativeBytes(bool selection);
    // Channel titles in use, for the channel chooser.
    std::vector<std::string> channelTitles() const;

    Prompts& m_prompts;
    AppSettings& m_settings;
    int m_changeCount = 0;
};

} // namespace phonaxis
