// Redrawing the main view of a long recording.
//
// The document is 9 channels of 60 minutes at 22,050 Hz (714 M samples,
// 2.86 GB of floats), each a tone under a slow swell with a little noise,
// laid out as the view lays out 9 strips in a 1600 × 900 client. Its min/max
// summaries are built once. Each iteration renders the whole view
// (renderMainView: white image, time grid, 9 framed strips with titles,
// scale values and traces) with every page moved to a new place, as when
// scrolling.
//
// * BM_RenderMainView/spc:S — S samples per pixel column (0: the whole
//   recording on one page; 1 and 0.25: sample by sample).

#include "display/MainViewRenderer.h"
#include "document/AutomaticPrompts.h"
#include "document/MyDocument.h"

#include <QGuiApplication>
#include <QImage>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <numbers>

namespace {

using namespace phonaxis;

constexpr int kChannels = 9;
constexpr double kRateHz = 22050.0;
constexpr double kMinutes = 60.0;
constexpr int kClientWidth = 1600;
constexpr int kClientHeight = 900;

struct Fixture {
    AutomaticPrompts prompts;
    std::unique_ptr<MyDocument> document;
    MainViewSummaries summaries;
};

void buildFixture(Fixture& f)
{
    f.document = std::make_unique<MyDocument>(f.prompts);
    MyDocument& doc = *f.document;
    const auto length = static_cast<std::size_t>(kMinutes * 60.0 * kRateHz);
    doc.m_nNumofChannels = kChannels;
    doc.m_bHaveData = true;
    const int stripHeight = (kClientHeight - 30) / kChannels - 5;
    for (int c = 0; c < kChannels; ++c) {
        Channels& channel = doc.getChannel(c);
        if (!channel.m_hData.allocate(length + Channels::kSlackFloats)) {
            std::abort();
        }
        float* samples = channel.m_hData.data();
        const double toneHz = 110.0 * (c + 1);
        std::uint32_t noise = 2463534242u + std::uint32_t(c);
        for (std::size_t i = 0; i < length; ++i) {
            noise ^= noise << 13;
            noise ^= noise >> 17;
            noise ^= noise << 5;
            const double t = double(i) / kRateHz;
            const double swell = 0.5 + 0.4 * std::sin(2.0 * std::numbers::pi * t / 7.0);
            samples[i] = float(swell * std::sin(2.0 * std::numbers::pi * toneHz * t) +
                               0.02 * (double(noise >> 8) / 16777216.0 - 0.5));
        }
        channel.m_dwFileLength = double(length);
        channel.m_dSampleRate = kRateHz;
        channel.m_dLengthMS = double(length) * 1000.0 / kRateHz;
        channel.m_nDataType = 3;
        channel.m_bAnchorChannel = c == 0;
        const int top = c * (stripHeight + 5);
        channel.m_rLocation = Rect{std::int16_t(top), 50, std::int16_t(top + stripHeight),
                                   std::int16_t(kClientWidth - 5)};
        channel.m_nHeigth = stripHeight;
    }
    if (!f.summaries.build(doc)) {
        std::abort();
    }
}

Fixture& fixture()
{
    static Fixture f;
    static const bool built = (buildFixture(f), true);
    (void)built;
    return f;
}

void BM_RenderMainView(benchmark::State& state)
{
    Fixture& f = fixture();
    MyDocument& doc = *f.document;
    const double length = doc.getChannel(0).m_dwFileLength;
    const double columns = kClientWidth - 55;
    const double samplesPerColumn = double(state.range(0)) / 100.0;
    const double pageSize = samplesPerColumn > 0.0 ? samplesPerColumn * columns : length;
    double start = 0.0;
    for (auto _ : state) {
        for (int c = 0; c < kChannels; ++c) {
            doc.getChannel(c).m_dPageMin = start;
            doc.getChannel(c).m_dPageMax = start + pageSize;
        }
        const QImage image =
            renderMainView(doc, QSize(kClientWidth, kClientHeight), &f.summaries);
        benchmark::DoNotOptimize(image.constBits());
        // Next page somewhere else in the recording, as when scrolling.
        start = std::fmod(start + 0.37 * length + 12345.0, std::max(1.0, length - pageSize));
    }
    state.SetLabel(samplesPerColumn > 0.0 ? "zoomed" : "whole recording");
}
// Samples per column × 100: whole file, 10 s-ish, 100, 4, 1 and a quarter.
BENCHMARK(BM_RenderMainView)
    ->ArgName("spc_x100")
    ->Arg(0)
    ->Arg(14'000)
    ->Arg(10'000)
    ->Arg(400)
    ->Arg(100)
    ->Arg(25)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    }
    QGuiApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
