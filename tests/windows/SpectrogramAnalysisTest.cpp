#include "windows/SpectrogramAnalysis.h"

#include "analysis/PreciseFormants.h"

#include "Signals.h"
#include "document/AppSettings.h"
#include "document/MyDocument.h"
#include "support/ChannelFixtures.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <numeric>
#include <thread>

namespace phonaxis {
namespace {

// An input over all of `samples` with a new document's settings for `rateHz`.
SpectrogramInput inputFor(std::vector<float> samples, double rateHz, int columns, int rows)
{
    SpectrogramInput input;
    input.fileLength = input.endPoint = static_cast<double>(samples.size());
    input.samples = std::move(samples);
    input.sampleRate = rateHz;
    input.stopTime = input.endPoint * 1000.0 / rateHz;
    input.columns = columns;
    input.rows = rows;
    input.parameters.m_nFreqRange = static_cast<int>(rateHz) / 2000 * 1000;
    input.parameters.m_nLPCCoefficients = (static_cast<int>(rateHz / 1000) + 4) / 2 * 2;
    return input;
}

double columnPeak(const SpectrogramResult& r, int column)
{
    const auto begin = r.levels.begin() + column * r.rows;
    return *std::max_element(begin, begin + r.rows);
}

const FormantRecord kNone{-1, -1, -1, -1, -1, 0};

TEST(Spectrogram, EveryColumnHasASpectrumEvenWithFewerSamplesThanColumns)
{
    const auto r = DoSpectrogram(inputFor(signals::tone(1000, 10000, 2), 10000, 100, 32), nullptr);
    ASSERT_EQ(r.levels.size(), 100u * 32u);
    for (int c = 0; c < r.columns; ++c) {
        EXPECT_GT(columnPeak(r, c), 0.0) << "column " << c;
    }
    // Columns 0 and 1 both start at sample 0 (step 0.2 samples).
    EXPECT_TRUE(std::equal(r.levels.begin(), r.levels.begin() + 32, r.levels.begin() + 32));
}

TEST(Spectrogram, SilenceIsWhiteWithoutFormantsAndTrackingOffRunsNoLpc)
{
    // Digital silence, then the vowel 80 dB down (its tracks fall to the
    // silence gate), then the vowel.
    const auto vowel = signals::vowel({.rateHz = 10000.0, .durationMs = 500.0}).samples;
    std::vector<float> samples(2500, 0.0f);
    std::transform(vowel.begin(), vowel.begin() + 2500, std::back_inserter(samples),
                   [](float v) { return v * 1e-4f; });
    samples.insert(samples.end(), vowel.begin(), vowel.end());
    SpectrogramInput input = inputFor(samples, 10000, 100, 50);
    const SpectrogramResult r = DoSpectrogram(input, nullptr, 2);
    ASSERT_TRUE(r.m_bHaveSpectrogram && r.m_bHaveFormants);
    for (int c = 0; c < 45; ++c) { // columns wholly before the vowel
        EXPECT_EQ(columnPeak(r, c), 0.0) << c;
        EXPECT_EQ(r.formants[c], kNone) << c;
    }
    EXPECT_GT(r.formants[75][0], 0);

    input.parameters.m_bFormantTracking = false;
    const SpectrogramResult off = DoSpectrogram(input, nullptr, 2);
    EXPECT_TRUE(off.formants.empty());
    EXPECT_FALSE(off.m_bHaveFormants);
    EXPECT_EQ(off.levels, r.levels);
}

TEST(Spectrogram, RefusesSettingsItCannotComputeAndKeepsFormantsInRange)
{
    const SpectrogramInput good = inputFor(signals::tone(440, 10000, 100), 10000, 40, 30);
    const std::vector<std::pair<const char*, std::function<void(SpectrogramInput&)>>> refused = {
        {"N not a power of two", [](auto& in) { in.parameters.m_nFFTWindLength = 100; }},
        {"N below 32", [](auto& in) { in.parameters.m_nFFTWindLength = 16; }},
        {"negative columns", [](auto& in) { in.columns = -3; }},
        {"over 64 M cells", [](auto& in) { in.columns = 1 << 20, in.rows = 65; }},
        {"range above half the rate", [](auto& in) { in.parameters.m_nFreqRange = 5001; }},
        {"dynamic range 0", [](auto& in) { in.parameters.m_nDynamicRange = 0; }},
        {"no samples", [](auto& in) { in.samples.clear(); }},
        {"end before start", [](auto& in) { in.startPoint = in.endPoint + 1; }},
    };
    for (const auto& [name, spoil] : refused) {
        SpectrogramInput input = good;
        spoil(input);
        EXPECT_FALSE(DoSpectrogram(input, nullptr).m_bHaveSpectrogram) << name;
    }
    for (const int order : {0, 401}) { // a spectrogram without tracks
        SpectrogramInput input = good;
        input.parameters.m_nLPCCoefficients = order;
        const SpectrogramResult r = DoSpectrogram(input, nullptr);
        EXPECT_TRUE(r.m_bHaveSpectrogram && !r.m_bHaveFormants) << order;
        EXPECT_EQ(r.formants.at(20), kNone);
    }
    // A resonance at 40 kHz does not fit a 16-bit record; wrapped it would
    // read as a negative frequency.
    SpectrogramInput high = inputFor(signals::tone(40000, 96000, 50, 0.8), 96000, 20, 20);
    high.parameters.m_nLPCCoefficients = 2;
    for (const FormantRecord& record : DoSpectrogram(high, nullptr).formants) {
        EXPECT_EQ(record, kNone);
    }
}

TEST(Spectrogram, ReadsNothingPastTheChannelEnd)
{
    SpectrogramInput input = inputFor(signals::tone(300, 10000, 100), 10000, 50, 40);
    input.fileLength = 600.0; // the snapshot holds 400 samples the channel does not
    input.endPoint = 1200.0;
    SpectrogramInput zeroed = input;
    std::fill(zeroed.samples.begin() + 600, zeroed.samples.end(), 0.0f);
    const SpectrogramResult r = DoSpectrogram(input, nullptr), z = DoSpectrogram(zeroed, nullptr);
    ASSERT_TRUE(r.m_bHaveSpectrogram);
    EXPECT_EQ(r.levels, z.levels);
    EXPECT_EQ(r.formants, z.formants);
}

TEST(Spectrogram, ResultDoesNotDependOnTheThreadCount)
{
    const SpectrogramInput input =
        inputFor(signals::vowelSequence(10000, 1500).audio, 10000, 97, 60);
    const SpectrogramResult one = DoSpectrogram(input, nullptr, 1);
    ASSERT_TRUE(one.m_bHaveFormants);
    for (const int threads : {2, 3, 0}) {
        SpectrogramProgress progress;
        const SpectrogramResult r = DoSpectrogram(input, &progress, threads);
        EXPECT_EQ(r.levels, one.levels) << threads;
        EXPECT_EQ(r.formants, one.formants) << threads;
        EXPECT_EQ(progress.m_nProgress.load(), 100);
    }
}

TEST(Spectrogram, CancelStopsTheWorkAndTheWorkerJoins)
{
    SpectrogramInput heavy = inputFor(signals::vowelSequence(22050, 1500).audio, 22050, 20000, 200);
    heavy.parameters.m_nFFTWindLength = 8192;
    SpectrogramProgress early;
    early.cancelled = true;
    EXPECT_FALSE(DoSpectrogram(heavy, &early).m_bHaveSpectrogram);
    EXPECT_EQ(early.m_nProgress.load(), 0);

    SpectrogramWorker worker(heavy, 2);
    while (worker.progress() < 1) {
        std::this_thread::yield();
    }
    worker.cancel();
    EXPECT_FALSE(worker.wait().m_bHaveSpectrogram);
    EXPECT_LT(worker.progress(), 100);
    SpectrogramWorker(heavy, 2); // destroyed mid-computation: stops and joins

    const SpectrogramInput small = inputFor(signals::tone(440, 10000, 200), 10000, 30, 20);
    SpectrogramWorker finished(small, 2);
    EXPECT_EQ(finished.wait().levels, DoSpectrogram(small, nullptr).levels);
    EXPECT_EQ(finished.progress(), 100);
    EXPECT_FALSE(finished.busy());
}

TEST(Spectrogram, ImagePutsRowZeroAtTheBottomAndSpansThePalette)
{
    SpectrogramResult r;
    r.columns = 2, r.rows = 2, r.dynamicRange = 50, r.m_bHaveSpectrogram = true;
    r.levels = {0.0, 50.0, 25.0, 49.9}; // column 0: rows 0, 1; column 1: rows 0, 1
    SpectrogramImage image = DrawSpectrogramBMP(r, 4, 4);
    EXPECT_EQ(image.entries, (std::vector<std::uint16_t>{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, //
                                                         256, 0xFFFF, 255, 0xFFFF,       //
                                                         0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, //
                                                         0, 0xFFFF, 128, 0xFFFF}));
    EXPECT_EQ(SpectrogramImage::grey(0), 254);
    EXPECT_EQ(SpectrogramImage::grey(256), 0);

    r.dynamicRange = 0; // nothing to scale by: nothing painted
    image = DrawSpectrogramBMP(r, 4, 4);
    EXPECT_EQ(std::count(image.entries.begin(), image.entries.end(), 0xFFFF), 16);
}

TEST(Spectrogram, FormantLogEntriesAndPlotHandOver)
{
    SpectrogramResult r;
    r.columns = 4, r.rows = 1, r.m_bHaveSpectrogram = true;
    r.formants = {{500, 1500, 2500, -1, -1, 0},
                  kNone,
                  {700, 1100, -1, -1, -1, 0},
                  {300, 2300, 3000, 3600, 4500, 0}};
    const LogRecord marker = SpectrogramLog::formantsMarker("a.wav", r, 12.5, 2);
    EXPECT_EQ(marker.count, 6);
    EXPECT_EQ(marker.values[3], -1);
    EXPECT_EQ(SpectrogramLog::formantsMarker("a.wav", r, 12.5, 4).values[1], -1); // no column 4

    struct Case {
        double from, to, step;
        std::vector<double> times, f1;
    };
    // Range 100 … 140 ms over 4 columns: 10 ms per column.
    for (const Case& c :
         std::vector<Case>{{12.0, 12.5, 1.0, {112.0}, {-1}},
                           {5.0, 40.0, 10.0, {105, 115, 125, 135}, {500, -1, 700, 300}},
                           {0.0, 40.0, 0.0, {}, {}},
                           {0.0, 40.0, -1.0, {}, {}},
                           {0.0, 1e9, 1e-3, {}, {}}}) { // more records than a log takes
        const auto records =
            SpectrogramLog::formantsSelection("a.wav", r, 100.0, 140.0, c.from, c.to, c.step);
        ASSERT_EQ(records.size(), c.times.size()) << c.from << " step " << c.step;
        for (std::size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(records[i].values[0], c.times[i]);
            EXPECT_EQ(records[i].values[1], c.f1[i]);
        }
    }

    const FormantPlotColumns plot = PlotformantsFromSpectrogram(r, 1, 99);
    EXPECT_EQ(plot.row, (std::vector<std::string>{"0", "1"}));
    EXPECT_EQ(plot.f1, (std::vector<std::string>{"700", "300"}));
    EXPECT_EQ(plot.f3, (std::vector<std::string>{"-1", "3000"}));
}

TEST(Spectrogram, InputFromDocumentCopiesOnlyTheFramesOfTheAudioChannel)
{
    test::ScriptedPrompts prompts;
    AppSettings settings;
    MyDocument doc{prompts, settings};
    doc.m_nNumofChannels = 2;
    std::vector<float> values(10000);
    std::iota(values.begin(), values.end(), 0.0f);
    test::loadChannel(doc.getChannel(0), std::vector<float>(20000, 1.0f), 10000);
    doc.getChannel(0).m_nChannelType = 0; // not the audio channel
    Channels& audio = doc.getChannel(1);
    test::loadChannel(audio, values, 10000);
    audio.m_nChannelType = 1;
    audio.m_dDurationStartFile = 1000.7, audio.m_dDurationStopFile = 2000.0;
    audio.m_dDurationStartTime = 100.07, audio.m_dDurationStopTime = 200.0;
    doc.m_nSpecWindowLength = 256, doc.m_nSpecLPCNumberofCoefficients = 10;
    doc.m_bPreciseAnalysis = false; // the classic tracks' frames

    const SpectrogramInput in = SpectrogramInput::fromDocument(doc, true, 10, 50);
    EXPECT_EQ(in.offset, 1000.0);
    EXPECT_EQ(in.startTime, 100.07);
    // The last column starts at 1900.07: its FFT frame ends at 1900 + 266,
    // its LPC frame at 1900 + 105.
    ASSERT_EQ(in.samples.size(), 2166u - 1000u);
    EXPECT_EQ(in.samples.front(), 1000.0f);
    // Whole channel: a column every 1000 samples, frames of 266 apart.
    const SpectrogramInput whole = SpectrogramInput::fromDocument(doc, false, 10, 50);
    ASSERT_EQ(whole.runs.size(), 10u);
    EXPECT_EQ(whole.samples.size(), 2660u);
    EXPECT_EQ(whole.runs[9].begin, 9000);
    EXPECT_EQ(whole.samples[whole.runs[9].at], 9000.0f);
}

// A document whose audio channel (channel 0) holds `samples` at `rateHz`.
void loadAudio(MyDocument& doc, const std::vector<float>& samples, double rateHz)
{
    doc.m_nNumofChannels = 1;
    test::loadChannel(doc.getChannel(0), samples, rateHz);
    doc.getChannel(0).m_nChannelType = 1;
}

// The snapshot of a whole recording holds only its columns' frames and the
// waveform pane's column extremes: the same size for a recording ten times
// longer, and the same levels, tracks and pane as the engine run on every
// sample of the channel.
TEST(Spectrogram, SnapshotIsBoundedByTheImageAndComputesAsTheWholeChannel)
{
    test::ScriptedPrompts prompts;
    AppSettings settings;
    std::vector<std::size_t> bytes;
    for (const double seconds : {15.0, 150.0}) {
        SCOPED_TRACE(seconds);
        std::vector<float> samples;
        const auto vowels = signals::vowelSequence(10000, 1500).audio;
        while (samples.size() < seconds * 10000) {
            samples.insert(samples.end(), vowels.begin(), vowels.end());
        }
        samples.resize(static_cast<std::size_t>(seconds * 10000));
        MyDocument doc{prompts, settings};
        loadAudio(doc, samples, 10000);
        doc.m_nSpecLPCNumberofCoefficients = 14;
        doc.m_bPreciseAnalysis = false; // the classic tracks' frames
        MinMaxSummary summary;
        ASSERT_TRUE(summary.build(samples));
        const SpectrogramInput snapshot =
            SpectrogramInput::fromDocument(doc, false, 300, 40, &summary);
        bytes.push_back(snapshot.memoryBytes());
        EXPECT_EQ(snapshot.runs.size(), 300u);

        SpectrogramInput everything = snapshot;
        everything.samples = samples;
        everything.offset = 0.0;
        everything.runs.clear();
        const SpectrogramResult r = DoSpectrogram(snapshot, nullptr, 2);
        const SpectrogramResult all = DoSpectrogram(everything, nullptr, 2);
        ASSERT_TRUE(r.m_bHaveFormants);
        EXPECT_EQ(r.levels, all.levels);
        EXPECT_EQ(r.formants, all.formants);

        // The pane's extremes: each column's (int)s samples from (int)(s·i).
        const SpectrogramWaveform& pane = snapshot.waveform;
        ASSERT_EQ(pane.columns.size(), 300u);
        EXPECT_TRUE(pane.samples.empty());
        const double s = samples.size() / 300.0;
        for (const int i : {0, 1, 157, 299}) {
            const auto from = samples.begin() + static_cast<std::ptrdiff_t>(s * i);
            const auto [lo, hi] = std::minmax_element(from, from + static_cast<std::ptrdiff_t>(s));
            EXPECT_EQ(pane.columns[i].minimum, *lo) << i;
            EXPECT_EQ(pane.columns[i].maximum, *hi) << i;
        }
        const SpectrogramWaveform scanned =
            SpectrogramWaveform::of(samples, nullptr, 0.0, samples.size(), 300);
        for (int i = 0; i < 300; ++i) {
            EXPECT_EQ(scanned.columns[i].minimum, pane.columns[i].minimum);
            EXPECT_EQ(scanned.columns[i].maximum, pane.columns[i].maximum);
        }
    }
    EXPECT_EQ(bytes[0], bytes[1]);
    EXPECT_LT(bytes[0], 300u * (64 + 10 + 10 * 14 + 5) * sizeof(float) + 300 * 64);

    // A page of fewer than 4 samples a column keeps its samples instead.
    const std::vector<float> few(1000, 0.25f);
    const SpectrogramWaveform shortPage = SpectrogramWaveform::of(few, nullptr, 100.5, 900.0, 300);
    EXPECT_TRUE(shortPage.columns.empty());
    EXPECT_EQ(shortPage.samples.size(), 800u);
    EXPECT_EQ(shortPage.pageMin, 100.0);
}

// With precise tracks on a long recording, a column's FFT and LPC frames
// (at its start) and its precise window (around its middle) are held as
// runs of their own, not as the whole stretch between them: the snapshot
// stays bounded by the image, and computes what the whole channel gives,
// on any thread count. Formant records alone (levels off) are the same
// records, with every level 0. The channel read in place gives them too.
TEST(Spectrogram, PreciseSnapshotHoldsFramesAndWindowsApartAndComputesAsTheWholeChannel)
{
    test::ScriptedPrompts prompts;
    AppSettings settings;
    const double rate = 22050.0;
    const int columns = 120;
    std::vector<float> samples;
    const auto vowels = signals::vowelSequence(rate, 1500).audio;
    while (samples.size() < 60.0 * rate) {
        samples.insert(samples.end(), vowels.begin(), vowels.end());
    }
    samples.resize(static_cast<std::size_t>(60.0 * rate));
    MyDocument doc{prompts, settings};
    loadAudio(doc, samples, rate);
    doc.m_bPreciseAnalysis = true;
    MinMaxSummary summary;
    ASSERT_TRUE(summary.build(samples));
    const SpectrogramInput snapshot =
        SpectrogramInput::fromDocument(doc, false, columns, 64, &summary);
    ASSERT_TRUE(snapshot.parameters.m_bPreciseAnalysis);
    EXPECT_EQ(snapshot.runs.size(), 2u * columns);
    const std::int64_t reach = PreciseFormants(rate, snapshot.parameters.m_dFormantCeiling).reach();
    EXPECT_LT(snapshot.samples.size(),
              columns * static_cast<std::size_t>(2 * reach + 1 + 64 + 10 + 400));

    SpectrogramInput everything = snapshot;
    everything.samples = samples;
    everything.offset = 0.0;
    everything.runs.clear();
    const SpectrogramResult all = DoSpectrogram(everything, nullptr, 2);
    ASSERT_TRUE(all.m_bHaveFormants);
    for (const int threads : {1, 2, 5}) {
        SCOPED_TRACE(threads);
        const SpectrogramResult r = DoSpectrogram(snapshot, nullptr, threads);
        EXPECT_EQ(r.levels, all.levels);
        EXPECT_EQ(r.formants, all.formants);
        SpectrogramInput recordsOnly = snapshot;
        recordsOnly.levels = false;
        const SpectrogramResult f = DoSpectrogram(recordsOnly, nullptr, threads);
        ASSERT_TRUE(f.m_bHaveSpectrogram);
        EXPECT_EQ(f.formants, all.formants);
        EXPECT_TRUE(std::all_of(f.levels.begin(), f.levels.end(),
                                [](double level) { return level == 0.0; }));
    }

    // Read in place (the command line's way), nothing is copied and the
    // same spectrogram and waveform pane come out.
    const SpectrogramInput inPlace = SpectrogramInput::inPlace(doc, false, columns, 64);
    EXPECT_TRUE(inPlace.samples.empty());
    EXPECT_EQ(inPlace.analysed().data(), doc.getChannel(0).samples().data());
    const SpectrogramResult read = DoSpectrogram(inPlace, nullptr, 2);
    EXPECT_EQ(read.levels, all.levels);
    EXPECT_EQ(read.formants, all.formants);
    ASSERT_EQ(inPlace.waveform.columns.size(), snapshot.waveform.columns.size());
    for (std::size_t i = 0; i < inPlace.waveform.columns.size(); ++i) {
        EXPECT_EQ(inPlace.waveform.columns[i].minimum, snapshot.waveform.columns[i].minimum);
        EXPECT_EQ(inPlace.waveform.columns[i].maximum, snapshot.waveform.columns[i].maximum);
    }
}

// While the worker runs, the columns finished so far are shown as they will
// be, every other column blank; once it is done there is nothing more to
// show, and the result is the engine's.
TEST(Spectrogram, WorkerShowsTheColumnsFinishedSoFar)
{
    constexpr int kColumns = 1000;
    SpectrogramInput heavy =
        inputFor(signals::vowelSequence(22050, 1500).audio, 22050, kColumns, 100);
    heavy.parameters.m_nFFTWindLength = 8192;
    heavy.parameters.m_nLPCCoefficients = 60;

    SpectrogramWorker worker(heavy, 2);
    std::vector<std::uint8_t> shown;
    SpectrogramResult soFar;
    while (worker.busy() && !soFar.m_bHaveSpectrogram) {
        std::this_thread::yield();
        soFar = worker.preview(shown);
    }
    if (soFar.m_bHaveSpectrogram) { // a machine fast enough never shows one
        ASSERT_EQ(shown.size(), std::size_t{kColumns});
        ASSERT_EQ(soFar.levels.size(), std::size_t{kColumns} * 100u);
        const SpectrogramImage image = DrawSpectrogramBMP(soFar, kColumns, 100, shown);
        int finished = 0;
        for (int c = 0; c < kColumns; ++c) {
            const bool painted = image.entries[static_cast<std::size_t>(99 * kColumns + c)] !=
                                 SpectrogramImage::kUnpainted;
            EXPECT_EQ(painted, shown[c] != 0) << c;
            finished += shown[c];
            if (shown[c] == 0) {
                EXPECT_EQ(soFar.formants[c], kNone) << c;
            }
        }
        EXPECT_GT(finished, 0);
    }
    const SpectrogramResult& done = worker.wait();
    EXPECT_EQ(done.levels, DoSpectrogram(heavy, nullptr, 2).levels);
    // A finished column's formants are already its final ones: the silence
    // gate does not wait for the loudest column.
    for (std::size_t c = 0; c < shown.size(); ++c) {
        if (shown[c] != 0) {
            EXPECT_EQ(soFar.formants[c], done.formants[c]) << c;
        }
    }
    EXPECT_FALSE(worker.preview(shown).m_bHaveSpectrogram);
    EXPECT_TRUE(shown.empty());
}

// F1 within 10 % and F2 within 15 % of the truth at the frame centre, over
// the columns whose LPC frame lies inside a steady vowel.
TEST(Spectrogram, FormantTracksFollowTheVowelSequence)
{
    for (const double rate : {22050.0, 10000.0}) {
        const signals::VowelSequence seq = signals::vowelSequence(rate);
        const SpectrogramInput input = inputFor(seq.audio, rate, 350, 64);
        const SpectrogramResult r = DoSpectrogram(input, nullptr);
        const double frameMs =
            static_cast<int>(rate / 1000) * input.parameters.m_nLPCCoefficients * 1000.0 / rate;
        int steady = 0, f1Hits = 0, f2Hits = 0;
        for (int c = 0; c < r.columns; ++c) {
            const double startMs = c * input.stopTime / r.columns;
            if (std::none_of(seq.steady.begin(), seq.steady.end(), [&](const auto& v) {
                    return startMs >= v.startMs && startMs + frameMs <= v.endMs;
                })) {
                continue;
            }
            const signals::FormantSet truth = seq.formantsAtMs(startMs + frameMs / 2);
            ++steady;
            f1Hits +=
                std::abs(r.formants[c][0] - truth[0].frequencyHz) <= 0.10 * truth[0].frequencyHz;
            f2Hits +=
                std::abs(r.formants[c][1] - truth[1].frequencyHz) <= 0.15 * truth[1].frequencyHz;
        }
        RecordProperty("hits" + std::to_string(static_cast<int>(rate)),
                       std::to_string(f1Hits) + "," + std::to_string(f2Hits) + "/" +
                           std::to_string(steady));
        ASSERT_GT(steady, 200);
        EXPECT_GE(f1Hits, steady * 9 / 10) << rate;
        EXPECT_GE(f2Hits, steady * 9 / 10) << rate;
    }
}

// With a 5000 Hz range at 22,050 Hz, order 40 and a precise ceiling of
// 8000 Hz, formants are found up to half the rate; the records keep only
// those the display shows, in both modes.
TEST(Spectrogram, FormantRecordsStayWithinTheRangeShown)
{
    const signals::VowelSequence seq = signals::vowelSequence(22050.0);
    for (const bool precise : {false, true}) {
        SpectrogramInput input = inputFor(seq.audio, 22050.0, 200, 64);
        input.parameters.m_nFreqRange = 5000;
        input.parameters.m_nLPCCoefficients = 40;
        input.parameters.m_bPreciseAnalysis = precise;
        input.parameters.m_dFormantCeiling = 8000.0;
        const SpectrogramResult r = DoSpectrogram(input, nullptr);
        ASSERT_TRUE(r.m_bHaveFormants) << precise;
        int kept = 0;
        for (const FormantRecord& record : r.formants) {
            for (int i = 0; i < 5; ++i) {
                EXPECT_LE(record[std::size_t(i)], 5000) << "precise " << precise;
                kept += record[std::size_t(i)] > 0;
            }
        }
        EXPECT_GT(kept, 3 * 200) << precise; // F1-F3 stay
    }
}

} // namespace
} // namespace phonaxis
