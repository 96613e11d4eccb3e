#include "Signals.h"

#include "document/MyDocument.h"
#include "log/EggLogEntries.h"
#include "model/Channels.h"
#include "support/ChannelFixtures.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <vector>

namespace phonaxis {
namespace {

void loadAndAnalyse(Channels& channel, const std::vector<float>& samples, double rateHz)
{
    test::loadChannel(channel, samples, rateHz);
    if (::testing::Test::HasFatalFailure()) {
        return;
    }
    ASSERT_TRUE(channel.CalculateAcceleration(channel.m_dVelocitySmoothingWindow,
                                              channel.m_dAccelerationSmoothingWindow));
    ASSERT_TRUE(channel.DoPositionCycleDetection(0.0, channel.m_dwFileLength));
}

// The truth cycle whose contact falls inside the detected cycle.
const signals::EggCycleTruth* truthFor(const signals::EggSignal& egg, const ArrayCycle& c)
{
    for (const signals::EggCycleTruth& t : egg.cycles) {
        if (double(t.contactIndex) >= c.dFilePointBegin && double(t.contactIndex) < c.dFilePointEnd) {
            return &t;
        }
    }
    return nullptr;
}

TEST(EggCyclesTest, ContactInstantsAndClosedQuotientsMatchTheSyntheticEgg)
{
    struct Case {
        const char* name;
        double f0Hz;
        double rateHz;
        double durationMs;
    };
    const Case cases[] = {
        {"125 Hz at 10 kHz", 125.0, 10000.0, 400.0},
        {"210 Hz at 22.05 kHz", 210.0, 22050.0, 400.0},
        {"90 Hz at 44.1 kHz", 90.0, 44100.0, 400.0},
        {"demo recording (gliding F0, ramped amplitude)", 0.0, 0.0, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const signals::EggSignal egg =
            c.f0Hz > 0.0 ? signals::eggSignal(signals::pulseTrain(c.f0Hz, c.rateHz, c.durationMs),
                                              std::size_t(c.durationMs * c.rateHz / 1000.0))
                         : signals::demoRecording().egg;
        Channels channel;
        loadAndAnalyse(channel, egg.samples, egg.rateHz);
        const std::vector<ArrayCycle>& cycles = channel.m_pArrayCycle;
        ASSERT_TRUE(channel.m_bHaveCycle);
        // Every cycle but a few cut by the analysis edges is found.
        ASSERT_GE(cycles.size() + 4, egg.cycles.size());

        double p1Error = 0.0, p2Error = 0.0, cqError = 0.0;
        std::size_t compared = 0;
        for (std::size_t i = 0; i + 1 < cycles.size(); ++i) {
            const ArrayCycle& cycle = cycles[i];
            const signals::EggCycleTruth* truth = truthFor(egg, cycle);
            ASSERT_NE(truth, nullptr) << i;
            p1Error = std::max(p1Error, std::fabs(cycle.dFilePointP1 - double(truth->contactIndex)));
            p2Error =
                std::max(p2Error, std::fabs(cycle.dFilePointP2 - double(truth->decontactIndex)));
            if (truth->closedQuotient && truthFor(egg, cycles[i + 1]) == truth + 1) {
                cqError = std::max(cqError, std::fabs(cycle.dClosedQuotient - *truth->closedQuotient));
                ++compared;
            }
        }
        std::printf("[ EGG      ] %s: %zu cycles, max |P1 - truth| %.0f samples, "
                    "max |P2 - truth| %.0f samples, max |CQ - truth| %.4f over %zu\n",
                    c.name, cycles.size(), p1Error, p2Error, cqError, compared);
        EXPECT_EQ(p1Error, 0.0); // both instants land on the first sample past the level
        EXPECT_EQ(p2Error, 0.0);
        EXPECT_LT(cqError, 0.01);
        EXPECT_GT(compared, cycles.size() / 2);
        // The last cycle has no successor: its quotients stay 0.
        const ArrayCycle& last = cycles.back();
        EXPECT_EQ(last.dClosedQuotient + last.dClosedQuotientHB + last.dClosedQuotientPM +
                      last.dClosedQuotientHT,
                  0.0);
    }
}

TEST(EggCyclesTest, UnmeasurableQuotientIsZeroNotAnotherQuotientsValue)
{
    const signals::EggSignal egg =
        signals::eggSignal(signals::pulseTrain(125.0, 10000.0, 300.0), 3000);
    std::vector<float> samples = egg.samples;
    // One deep sample in the open phase of a middle cycle becomes a valley so
    // low that the cycle before it never falls back to its level: P2 is not
    // found and the threshold quotients cannot be measured.
    const signals::EggCycleTruth& t = egg.cycles[12];
    const auto dip = static_cast<std::size_t>(t.startIndex + 0.75 * 80.0);
    samples[dip] = -0.8F;
    Channels channel;
    loadAndAnalyse(channel, samples, 10000.0);
    const auto hit = std::find_if(channel.m_pArrayCycle.begin(), channel.m_pArrayCycle.end(),
                                  [&](const ArrayCycle& c) { return c.dFilePointEnd == double(dip); });
    ASSERT_NE(hit, channel.m_pArrayCycle.end());
    EXPECT_EQ(hit->dFilePointP2, 0.0);
    EXPECT_EQ(hit->dClosedQuotient, 0.0);
    EXPECT_EQ(hit->dClosedQuotientHB, 0.0);
    EXPECT_GT(hit->dClosedQuotientPM, 0.0);
    // A running value would have carried the previous cycle's last quotient.
    ASSERT_NE(hit, channel.m_pArrayCycle.begin());
    EXPECT_GT(std::prev(hit)->dClosedQuotientPM, 0.0);
}

TEST(EggCyclesTest, DetectionNeedsSamplesAndAVelocityTrack)
{
    Channels channel;
    EXPECT_FALSE(channel.DoPositionCycleDetection(0.0, 100.0));
    const std::vector<float> flat(500, 0.0F);
    ASSERT_TRUE(channel.setData(flat.data(), 500.0));
    channel.m_dwFileLength = 500.0;
    channel.m_dLengthMS = 50.0;
    channel.m_pArrayCycle.resize(2);
    EXPECT_FALSE(channel.DoPositionCycleDetection(0.0, 500.0));
    EXPECT_EQ(channel.m_pArrayCycle.size(), 2U); // untouched without velocity
    ASSERT_TRUE(channel.CalculateAcceleration(0.5, 0.5));
    // Ranges beyond the channel and a DC window of no samples stay inside it.
    channel.m_dDCShiftWindowMS = 0.0;
    EXPECT_TRUE(channel.DoPositionCycleDetection(-1e9, 1e18));
    EXPECT_TRUE(channel.m_pArrayCycle.empty());
    EXPECT_TRUE(channel.m_bHaveCycle);
    channel.RemoveCyclesAll();
    EXPECT_FALSE(channel.m_bHaveCycle);
}

TEST(EggCyclesTest, LogEntriesSkipTheLastCycleAndFilterBySelection)
{
    test::ScriptedPrompts prompts;
    MyDocument document(prompts);
    document.m_nNumofChannels = 2;
    document.m_bHaveData = true;
    document.m_nEGGChannelIndex = 2; // not a channel in use
    EXPECT_FALSE(canLogEggAll(document, true));
    document.m_nEGGChannelIndex = 1;
    EXPECT_TRUE(canLogEggAll(document, true));

    Channels& egg = document.getChannel(1);
    egg.m_dMarkerTime = 12.5;
    egg.m_dMarkerDataValue = 0.25;
    egg.m_dVelocityCursorValue = 3.0; // no track yet: the cached velocity is logged
    const LogRecord marker = eggMarkerLogRecord(document, "take.pmf");
    ASSERT_EQ(marker.count, 3);
    EXPECT_EQ((std::vector<double>{marker.values[0], marker.values[1], marker.values[2]}),
              (std::vector<double>{12.5, 0.25, 3.0}));

    for (int i = 0; i < 4; ++i) {
        ArrayCycle c;
        c.dTimeP1 = 10.0 * i + 1.0;
        c.dTimeP2 = 10.0 * i + 5.0;
        c.dClosedQuotient = 0.4;
        egg.m_pArrayCycle.push_back(c);
    }
    EXPECT_EQ(eggCycleLogRecords(document, "take.pmf", false).size(), 3U);
    egg.m_dDurationStartTime = 11.0; // cycle 1's P1 is not strictly after it
    egg.m_dDurationStopTime = 36.0;  // cycle 3 would pass, but it is the last
    const std::vector<LogRecord> selected = eggCycleLogRecords(document, "take.pmf", true);
    ASSERT_EQ(selected.size(), 1U);
    EXPECT_EQ(selected[0].count, 9);
    EXPECT_EQ(selected[0].values[2], 31.0); // the successor's P1
    egg.m_pArrayCycle.resize(1);
    EXPECT_TRUE(eggCycleLogRecords(document, "take.pmf", false).empty());
}

// Everything an EGG analysis replaces in a channel, as numbers.
std::vector<double> eggState(const Channels& c)
{
    std::vector<double> state = {
        c.m_dVelocityFileLength, c.m_dVelocityMax, c.m_dVelocityMin, double(c.m_bHaveVelocity),
        c.m_dAccelerationFileLength, c.m_dAccelerationMax, c.m_dAccelerationMin,
        double(c.m_bHaveAcceleration), double(c.m_bHavePeak), double(c.m_bHaveValley),
        double(c.m_bHaveCycle)};
    for (const auto* track : {&c.m_hdDataVelocity, &c.m_hdDataAcceleration,
                              &c.m_hdDataSmoothedShifted, &c.m_hdDataSmoothedDC}) {
        state.push_back(double(track->present()));
        state.insert(state.end(), track->span().begin(), track->span().end());
    }
    for (const auto* events : {&c.m_pArrayPeak, &c.m_pArrayValley}) {
        state.push_back(double(events->size()));
        for (const ArrayData& e : *events) {
            state.push_back(e.dFilePoint);
        }
    }
    for (const ArrayCycle& cycle : c.m_pArrayCycle) {
        state.insert(state.end(), {cycle.dFilePointBegin, cycle.dFilePointP1, cycle.dFilePointP2,
                                   cycle.dClosedQuotient});
    }
    return state;
}

TEST(EggCyclesTest, AStoppedOrFailedAnalysisLeavesTheChannelAsItWas)
{
    const signals::EggSignal egg =
        signals::eggSignal(signals::pulseTrain(125.0, 22050.0, 3000.0), 66150);
    // Analysed once; the next analysis has other windows and changes everything.
    const auto analysed = [&](Channels& channel) {
        loadAndAnalyse(channel, egg.samples, 22050.0);
        channel.m_dVelocitySmoothingWindow = 0.25;
        channel.m_dAccelerationSmoothingWindow = 1.0;
        channel.m_dDCShiftWindowMS = 4.0;
        return eggState(channel);
    };
    Channels channel;
    const std::vector<double> before = analysed(channel);
    Channels finished;
    analysed(finished);
    int reports = 0;
    ASSERT_TRUE(finished.EggAnalysisAll(WorkProgress([&](double) { return ++reports > 0; })));
    ASSERT_GT(reports, 12); // every pass reports
    EXPECT_NE(eggState(finished), before);

    for (int stopAt = 1; stopAt <= reports; stopAt += 3) {
        SCOPED_TRACE(stopAt);
        int heard = 0;
        EXPECT_FALSE(
            channel.EggAnalysisAll(WorkProgress([&](double) { return ++heard < stopAt; })));
        EXPECT_EQ(heard, stopAt);
        EXPECT_EQ(eggState(channel), before);
    }
    ASSERT_TRUE(channel.EggAnalysisAll());
    EXPECT_EQ(eggState(channel), eggState(finished));

    // A channel whose samples are gone cannot be analysed: what it had stays.
    Channels emptied;
    const std::vector<double> kept = analysed(emptied);
    emptied.m_hData.reset();
    EXPECT_FALSE(emptied.EggAnalysisAll());
    EXPECT_EQ(eggState(emptied), kept);
}

} // namespace
} // namespace phonaxis
