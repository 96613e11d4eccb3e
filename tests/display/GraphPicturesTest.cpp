// The pictures of the spectrum, pitch, spectrogram and main views as a
// reader of a printed figure checks them, at a large and a small size:
// every axis titled with its unit, a caption line, every text inside the
// picture and clear of every other, grid labels evenly and roundly spaced,
// and time labels in the unit that suits the page.

#include "Signals.h"
// Named before Qt's headers make "signals" a keyword.
namespace phonaxis {
namespace gen = signals;
} // namespace phonaxis
#include "display/GraphAxes.h"
#include "display/GraphPrimitives.h"
#include "display/PictureExport.h"
#include "display/PitchGraph.h"
#include "display/SpectrogramGraph.h"
#include "display/SpectrumGraph.h"
#include "document/AppSettings.h"
#include "document/MyDocument.h"
#include "model/MinMaxSummary.h"
#include "support/ScriptedPrompts.h"
#include "support/TextRecorder.h"
#include "windows/PitchAnalysis.h"
#include "windows/SpectrogramAnalysis.h"
#include "windows/SpectrumAnalysis.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace phonaxis {
namespace {

using test::TextRecorder;

using Drawing = std::function<void(QPainter&, QSize)>;

std::unique_ptr<TextRecorder> record(QSize size, const Drawing& draw)
{
    auto recorder = std::make_unique<TextRecorder>(size);
    QPainter painter(recorder.get());
    draw(painter, size);
    painter.end();
    return recorder;
}

// Every text lies inside the picture and overlaps no other.
::testing::AssertionResult readable(const TextRecorder& recorder, QSize size)
{
    const QRectF picture(-0.5, -0.5, size.width() + 1.0, size.height() + 1.0);
    const auto& texts = recorder.texts();
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (!picture.contains(texts[i].box)) {
            return ::testing::AssertionFailure()
                   << '"' << texts[i].text.toStdString() << "\" leaves the picture";
        }
        for (std::size_t j = i + 1; j < texts.size(); ++j) {
            // Boxes include the font's descent: a pixel of shared edge is
            // not an overlap.
            const QRectF shared = texts[i].box.intersected(texts[j].box);
            if (shared.width() > 1.0 && shared.height() > 1.0) {
                return ::testing::AssertionFailure()
                       << '"' << texts[i].text.toStdString() << "\" and \""
                       << texts[j].text.toStdString() << "\" overlap";
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// The numeric labels in one row (boxes with the same top), left to right.
std::vector<TextRecorder::Text> numberRow(const TextRecorder& recorder, double top)
{
    std::vector<TextRecorder::Text> row;
    for (const auto& t : recorder.texts()) {
        bool number = false;
        t.text.toDouble(&number);
        if (number && std::fabs(t.box.top() - top) < 1.0) {
            row.push_back(t);
        }
    }
    std::sort(row.begin(), row.end(),
              [](const auto& a, const auto& b) { return a.box.left() < b.box.left(); });
    return row;
}

bool roundStep(double step)
{
    const double decade = std::pow(10.0, std::floor(std::log10(step) + 1e-9));
    const double leading = step / decade;
    return std::fabs(leading - 1.0) < 1e-6 || std::fabs(leading - 2.0) < 1e-6 ||
           std::fabs(leading - 5.0) < 1e-6;
}

// Labels of one axis: at least three, one round step apart throughout.
::testing::AssertionResult evenlySpaced(const std::vector<TextRecorder::Text>& labels)
{
    if (labels.size() < 3) {
        return ::testing::AssertionFailure() << "only " << labels.size() << " labels";
    }
    const double step = std::fabs(labels[1].text.toDouble() - labels[0].text.toDouble());
    if (!roundStep(step)) {
        return ::testing::AssertionFailure() << "a step of " << step;
    }
    for (std::size_t i = 2; i < labels.size(); ++i) {
        const double gap = std::fabs(labels[i].text.toDouble() - labels[i - 1].text.toDouble());
        if (std::fabs(gap - step) > 1e-9 * step) {
            return ::testing::AssertionFailure()
                   << labels[i - 1].text.toStdString() << " to " << labels[i].text.toStdString();
        }
    }
    return ::testing::AssertionSuccess();
}

// The demo recording's speech opened as a new document opens a WAV file.
struct DemoDocument {
    test::ScriptedPrompts prompts;
    AppSettings settings;
    std::unique_ptr<MyDocument> document;

    DemoDocument()
    {
        const gen::DemoRecording demo = gen::demoRecording();
        const std::span<const float> channels[] = {demo.speech.audio};
        const std::optional<Bytes> bytes =
            gen::waveFileBytes(demo.speech.rateHz, channels, prompts);
        document = std::make_unique<MyDocument>(prompts, settings);
        if (!bytes || !document->readFromData(*bytes, "wav")) {
            document.reset();
        }
    }
};

const QSize kSizes[] = {QSize(1600, 900), QSize(700, 400)};

TEST(GraphPicturesTest, EveryViewHasTitledAxesACaptionAndReadableLabels)
{
    DemoDocument demo;
    ASSERT_TRUE(demo.document);
    MyDocument& document = *demo.document;
    const int index = document.audioChannelIndex();
    const Channels& audio = document.getChannel(index);
    const double perMs = audio.m_dSampleRate / 1000.0;
    const GraphCaption caption{"/data/demo.wav", audio.GetTitle(), index, 500.0, 500.0, {}};

    SpectrumAnalysis spectrum;
    ASSERT_EQ(spectrum.doPerformFFTLPC(document, 500 * perMs, 500 * perMs),
              SpectrumStart::Computed);
    SpectrumGraphStyle style = SpectrumGraphStyle::fromDocument(document);
    style.caption = spectrumGraphCaption(caption, spectrum);

    PitchAnalysis pitch;
    pitch.intilize(audio, index, PitchParameters::fromDocument(document));
    ASSERT_TRUE(pitch.DoPitchCepstral(audio.samples(), 1));
    pitch.m_dPageMin = 0.0;
    pitch.m_dPageMax = audio.m_dwFileLength;
    MinMaxSummary summary;
    summary.build(audio.samples());
    PitchGraphInput pitchInput = pitchGraphInput(audio, pitch, &summary, document);
    pitchInput.settings.drawIntensity = false;
    pitchInput.caption = pitchGraphCaption(caption, pitchInput.precise);

    struct View {
        const char* name;
        std::vector<QString> titles;
        Drawing draw;
    };
    for (const QSize size : kSizes) {
        SCOPED_TRACE(size.width());
        const SpectrogramGraphLayout panes =
            SpectrogramGraphLayout::forView(size, false, document.m_bSpecDrawAudio);
        const SpectrogramInput input =
            SpectrogramInput::fromDocument(document, false, panes.columns(), panes.rows());
        const SpectrogramResult result = DoSpectrogram(input, nullptr, 1);
        ASSERT_TRUE(result.m_bHaveSpectrogram);
        SpectrogramGraphInput spectrogram =
            spectrogramGraphInput(input, &result, spectrogramImage(result), document);
        spectrogram.title = spectrogramGraphTitle(caption, spectrogram.caption);

        const View views[] = {
            {"spectrum",
             {"Frequency (Hz)", "Level (dB re peak)"},
             [&](QPainter& p, QSize s) { drawSpectrumGraph(p, s, spectrum, style); }},
            {"pitch",
             {"Pitch (Hz)", "Time (s)"},
             [&](QPainter& p, QSize s) { drawPitchGraph(p, s, pitchInput); }},
            {"spectrogram",
             {"Frequency (Hz)", "Time (s)"},
             [&](QPainter& p, QSize s) { drawSpectrogramGraph(p, s, spectrogram); }},
            {"main",
             {"Time (s)"},
             [&](QPainter& p, QSize s) {
                 pictureDrawing(document, std::nullopt, nullptr,
                                mainViewCaption(document, "/data/demo.wav"))(p, s);
             }},
        };
        for (const View& view : views) {
            SCOPED_TRACE(view.name);
            const auto recorder = record(size, view.draw);
            for (const QString& title : view.titles) {
                EXPECT_TRUE(recorder->has(title)) << title.toStdString();
            }
            EXPECT_TRUE(readable(*recorder, size));
            if (std::string(view.name) == "main") {
                const auto line = std::find_if(
                    recorder->texts().begin(), recorder->texts().end(),
                    [](const auto& t) { return t.text.startsWith("demo.wav, 0"); });
                ASSERT_NE(line, recorder->texts().end());
                EXPECT_TRUE(line->text.endsWith(" channel")) << line->text.toStdString();
            } else {
                // The caption line names the file, the channel and the mode.
                const bool captioned = std::any_of(
                    recorder->texts().begin(), recorder->texts().end(), [](const auto& t) {
                        return t.text.startsWith("demo.wav, channel 0") &&
                               t.text.contains("precise analysis");
                    });
                EXPECT_TRUE(captioned);
            }
        }

        // The spectrum's frequency labels: round and even, the last one
        // ("11000") whole; its level labels clear of the picture's edge.
        const auto spectrumTexts = record(size, views[0].draw);
        const Rect graph = spectrumGraphRect(size);
        std::vector<TextRecorder::Text> bottomRow;
        for (const auto& t : spectrumTexts->texts()) {
            if (t.text == "0" && t.box.top() > graph.bottom) {
                bottomRow = numberRow(*spectrumTexts, t.box.top());
            }
        }
        EXPECT_TRUE(evenlySpaced(bottomRow));
        ASSERT_FALSE(bottomRow.empty());
        EXPECT_EQ(bottomRow.back().text, "11000");
        for (const auto& t : spectrumTexts->texts()) {
            if (t.text.startsWith("-") && t.box.right() < graph.left) {
                EXPECT_GT(t.box.left(), 10.0) << t.text.toStdString();
            }
        }

        // The pitch axis: labels spaced to fit (never every 20 Hz at the small
        // size), round and even.
        const auto pitchTexts = record(size, views[1].draw);
        const PitchGraphLayout layout = pitchInput.layout(size);
        std::vector<TextRecorder::Text> pitchLabels;
        for (const auto& t : pitchTexts->texts()) {
            bool number = false;
            t.text.toDouble(&number);
            if (number && t.box.right() <= layout.pitch.left && t.box.top() >= layout.pitch.top) {
                pitchLabels.push_back(t);
            }
        }
        std::sort(pitchLabels.begin(), pitchLabels.end(),
                  [](const auto& a, const auto& b) { return a.box.top() < b.box.top(); });
        EXPECT_TRUE(evenlySpaced(pitchLabels));
        EXPECT_GE(pitchLabels.front().text.toDouble() - pitchLabels[1].text.toDouble(), 50.0);

        // The spectrogram shows what formants need: its top label is 5000 Hz.
        EXPECT_EQ(spectrogram.settings.frequencyRangeHz, 5000);
        const auto spectrogramTexts = record(size, views[2].draw);
        EXPECT_TRUE(spectrogramTexts->has("5000"));
        EXPECT_FALSE(spectrogramTexts->has("6000"));
    }
}

TEST(GraphPicturesTest, EnvelopeDrawsNoLineUpTheZeroHertzEdge)
{
    // The envelope (blue in colour) begins at its first drawn point: no
    // line joins it to the graph's bottom-left corner.
    DemoDocument demo;
    ASSERT_TRUE(demo.document);
    MyDocument& document = *demo.document;
    const double perMs = document.getChannel(document.audioChannelIndex()).m_dSampleRate / 1000.0;
    SpectrumAnalysis spectrum;
    ASSERT_EQ(spectrum.doPerformFFTLPC(document, 500 * perMs, 500 * perMs),
              SpectrumStart::Computed);
    SpectrumGraphStyle style = SpectrumGraphStyle::fromDocument(document);
    style.m_bFFTColor = true;
    for (const QSize size : kSizes) {
        SCOPED_TRACE(size.width());
        QImage image(size, QImage::Format_RGB32);
        QPainter painter(&image);
        drawSpectrumGraph(painter, size, spectrum, style);
        painter.end();
        const Rect graph = spectrumGraphRect(size);
        int blueLow = 0; // in the lower half of the graph's first columns
        for (int x = graph.left; x <= graph.left + 2; ++x) {
            for (int y = (graph.top + graph.bottom) / 2; y < graph.bottom; ++y) {
                blueLow += image.pixel(x, y) == qRgb(0, 0, 255);
            }
        }
        EXPECT_EQ(blueLow, 0);
    }
}

TEST(GraphPicturesTest, SpectrogramDefaultsToTheFormantRangeAndTheWholeBandIsOneSettingAway)
{
    // A new document's spectrogram range for a file's rate: 5 kHz, or half
    // the rate (in whole kHz) when that is lower.
    struct Case {
        double rateHz;
        int rangeHz;
        int fullBandHz;
    };
    for (const Case c : {Case{44100.0, 5000, 22000}, Case{22050.0, 5000, 11000},
                         Case{16000.0, 5000, 8000}, Case{8000.0, 4000, 4000}}) {
        SCOPED_TRACE(c.rateHz);
        test::ScriptedPrompts prompts;
        AppSettings settings;
        MyDocument document(prompts, settings);
        const std::vector<float> silence(static_cast<std::size_t>(c.rateHz / 10), 0.0f);
        const std::span<const float> channels[] = {silence};
        const std::optional<Bytes> bytes = gen::waveFileBytes(c.rateHz, channels, prompts);
        ASSERT_TRUE(bytes);
        ASSERT_TRUE(document.readFromData(*bytes, "wav"));
        EXPECT_EQ(document.m_nSpecfrequencyRange, c.rangeHz);
        // The spectrum keeps the whole band; the spectrogram's setting reaches it.
        EXPECT_EQ(document.m_nFFTfrequencyRange, c.fullBandHz);
        document.m_nSpecfrequencyRange = c.fullBandHz;
        const SpectrogramInput input = SpectrogramInput::fromDocument(document, false, 100, 100);
        EXPECT_EQ(input.parameters.m_nFreqRange, c.fullBandHz);
    }
}

TEST(GraphPicturesTest, TimeLabelsUseTheUnitOfThePageAndStayInside)
{
    const GraphTextScale scale(QSize(700, 400));
    struct Case {
        double fromMs;
        double toMs;
        const char* title;
        const char* label; // a label of each such page
        const char* pattern;
        std::int32_t gridMs; // the settings' time grid, 0 for none
    };
    const Case cases[] = {
        {1000.0, 1600.0, "Time (ms)", "1100", "^\\d+$", 0},
        // A 500 ms grid leaves room for two labels only: they take their own step.
        {1000.0, 1600.0, "Time (ms)", "1100", "^\\d+$", 500},
        {0.0, 3500.0, "Time (s)", "1.0", "^\\d+\\.\\d$", 500},
        {0.0, 100000.0, "Time (s)", "50", "^\\d+$", 0},
        {0.0, 600000.0, "Time (m:ss)", "5:00", "^\\d+:\\d\\d$", 500},
        {0.0, 3900000.0, "Time (h:mm:ss)", "0:30:00", "^\\d+:\\d\\d:\\d\\d$", 0},
        {300000.0, 301000.0, "Time (m:ss)", "5:00.5", "^5:0\\d\\.\\d+$", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title + std::string(" ") + c.label);
        const QSize size(700, 400);
        // A plot reaching the picture's edges: the outer labels must move in.
        const Rect plot{10, 0, 300, 700};
        const auto recorder = record(size, [&](QPainter& p, QSize s) {
            const TimeAxisGrid grid{plot, c.gridMs, RGBColor{}};
            drawTimeAxis(p, plot, c.fromMs, c.toMs, QRect(QPoint(0, 0), s - QSize(1, 1)),
                         c.gridMs > 0 ? &grid : nullptr);
        });
        EXPECT_TRUE(recorder->has(c.title));
        EXPECT_TRUE(recorder->has(c.label));
        EXPECT_TRUE(readable(*recorder, size));
        const QRegularExpression pattern(c.pattern);
        int labels = 0;
        for (const auto& t : recorder->texts()) {
            if (!t.text.startsWith("Time")) {
                EXPECT_TRUE(pattern.match(t.text).hasMatch()) << t.text.toStdString();
                ++labels;
            }
        }
        EXPECT_GE(labels, 3);
    }
}

TEST(GraphPicturesTest, TimeTextsAndCaptions)
{
    struct Case {
        double ms;
        TimeUnit unit;
        int decimals;
        const char* text;
    };
    for (const Case c : {Case{1250.0, TimeUnit::Milliseconds, 0, "1250"},
                         Case{1250.0, TimeUnit::Seconds, 2, "1.25"},
                         Case{65000.0, TimeUnit::MinutesSeconds, 0, "1:05"},
                         Case{65500.0, TimeUnit::MinutesSeconds, 1, "1:05.5"},
                         Case{599999.6, TimeUnit::MinutesSeconds, 0, "10:00"},
                         Case{3600000.0, TimeUnit::HoursMinutesSeconds, 0, "1:00:00"},
                         Case{3725000.0, TimeUnit::HoursMinutesSeconds, 0, "1:02:05"}}) {
        EXPECT_EQ(formatTime(c.ms, c.unit, c.decimals).toStdString(), c.text);
    }
    EXPECT_EQ((GraphCaption{"/x/a.wav", "Audio", 1, 500.0, 500.0, "FFT/LPC spectrum"}.text())
                  .toStdString(),
              "a.wav, channel 1 (Audio), at 500 ms, FFT/LPC spectrum");
    EXPECT_EQ((GraphCaption{"a.wav", "", 0, 0.0, 600000.0, "Pitch"}.text()).toStdString(),
              "a.wav, channel 0, 0:00–10:00 (m:ss), Pitch");
}

TEST(GraphPicturesTest, TextGrowsWithThePictureWithinLimits)
{
    EXPECT_EQ(graphTextPixelSize(QSize(300, 200)), kMinGraphTextPx);
    EXPECT_EQ(graphTextPixelSize(QSize(700, 400)), kMinGraphTextPx);
    EXPECT_GT(graphTextPixelSize(QSize(1600, 900)), 2 * kMinGraphTextPx - 4);
    EXPECT_EQ(graphTextPixelSize(QSize(6000, 4000)), kMaxGraphTextPx);
    {
        const GraphTextScale scale(QSize(1600, 900));
        EXPECT_EQ(defaultTextFont().pixelSize(), graphTextPixelSize(QSize(1600, 900)));
    }
    EXPECT_EQ(defaultTextFont().pixelSize(), -1); // back to points
}

} // namespace
} // namespace phonaxis
