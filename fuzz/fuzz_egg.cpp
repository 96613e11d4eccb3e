// EGG analysis on arbitrary samples: velocity and acceleration, cycle
// detection with the closed quotients, and the EGG log entries.
//
// Input layout: eight setting bytes, then the samples as little-endian
// 32-bit floats (NaN and infinities included), at most kMaxSamples of them.
//   0  sample rate (one of kRatesHz)      4  acceleration window, 0 … 5.1 ms
//   1  level-detection threshold, 0 … 100 % (255 steps)
//   2  cycle threshold, 0 … 100 %         5  DC window, 0 … 51 ms
//   3  velocity window, 0 … 5.1 ms        6, 7  analysed range and marker,
//                                               as fractions of the channel
// Every cycle found must lie inside the channel in order, with quotients in
// [0, 1]; the log must hold one record per cycle but the last at most.

#include "document/AutomaticPrompts.h"
#include "document/MyDocument.h"
#include "log/EggLogEntries.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t kSettingBytes = 8;
constexpr std::size_t kMaxSamples = 1 << 14;
constexpr double kRatesHz[] = {1000.0, 8000.0, 10000.0, 11025.0, 22050.0, 44100.0, 48000.0,
                               96000.0};

bool inUnitRange(double quotient) { return quotient >= 0.0 && quotient <= 1.0; }

void check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < kSettingBytes + sizeof(float)) {
        return 0;
    }
    const std::size_t count = std::min((size - kSettingBytes) / sizeof(float), kMaxSamples);
    std::vector<float> samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t bits = 0;
        for (std::size_t b = 0; b < 4; ++b) {
            bits |= static_cast<std::uint32_t>(data[kSettingBytes + 4 * i + b]) << (8 * b);
        }
        std::memcpy(&samples[i], &bits, sizeof bits);
    }

    static phonaxis::AutomaticPrompts prompts;
    phonaxis::AppSettings settings;
    phonaxis::MyDocument doc(prompts, settings);
    phonaxis::Channels& egg = doc.getChannel(0);
    const auto n = static_cast<double>(count);
    const double rateHz = kRatesHz[data[0] % std::size(kRatesHz)];
    check(egg.setData(samples.data(), n));
    egg.m_dwFileLength = n;
    egg.m_dSampleRate = rateHz;
    egg.m_dLengthMS = n * 1000.0 / rateHz;
    egg.m_dThresholdLevelDetectPerCent = data[1] * 100.0 / 255.0;
    egg.m_dCycleThresholdPerCent = data[2] * 100.0 / 255.0;
    const double velocityWindowMs = data[3] * 0.02;
    const double accelerationWindowMs = data[4] * 0.02;
    egg.m_dDCShiftWindowMS = data[5] * 0.2;
    doc.m_nNumofChannels = 1;
    doc.m_bHaveData = true;
    doc.m_nEGGChannelIndex = 0;

    check(egg.CalculateAcceleration(velocityWindowMs, accelerationWindowMs));
    const double from = n * (data[6] / 255.0) * 0.5;
    const double to = n - n * (data[7] / 255.0) * 0.5;
    if (!egg.DoPositionCycleDetection(from, to)) {
        return 0;
    }
    const std::vector<phonaxis::ArrayCycle>& cycles = egg.m_pArrayCycle;
    double previousBegin = 0.0;
    for (const phonaxis::ArrayCycle& c : cycles) {
        check(c.dFilePointBegin >= previousBegin && c.dFilePointBegin < c.dFilePointEnd &&
              c.dFilePointEnd < n);
        check(inUnitRange(c.dClosedQuotient) && inUnitRange(c.dClosedQuotientHB) &&
              inUnitRange(c.dClosedQuotientPM) && inUnitRange(c.dClosedQuotientHT));
        previousBegin = c.dFilePointBegin;
    }

    egg.m_dMarkerTime = egg.m_dLengthMS * data[6] / 255.0;
    egg.m_dDurationStartTime = egg.m_dLengthMS * data[6] / 510.0;
    egg.m_dDurationStopTime = egg.m_dLengthMS * (1.0 - data[7] / 510.0);
    const phonaxis::LogRecord marker = phonaxis::eggMarkerLogRecord(doc, "fuzz.wav");
    check(marker.count == 3);
    for (const bool selectionOnly : {false, true}) {
        const auto records = phonaxis::eggCycleLogRecords(doc, "fuzz.wav", selectionOnly);
        check(records.size() <= (cycles.empty() ? 0 : cycles.size() - 1));
        for (const phonaxis::LogRecord& record : records) {
            check(record.count == 9);
        }
    }
    return 0;
}
