// The voice report's log records: which sources give one, the order of their
// values against the definitions, and -1 for what could not be computed.
#include "log/VoiceLogEntries.h"
#include "windows/VoiceReport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace phonaxis {
namespace {

// Every measure a distinct value (its field's position × 1.5 plus a
// hundredth per source), so that a swapped pair shows.
VoiceMeasures numbered(double offset)
{
    VoiceMeasures m;
    double next = 1.0;
    for (double* field :
         {&m.f0MeanHz, &m.f0SdHz, &m.jitterLocalPct, &m.jitterLocalAbsUs, &m.jitterRapPct,
          &m.jitterPpq5Pct, &m.jitterDdpPct, &m.shimmerLocalPct, &m.shimmerLocalDb,
          &m.shimmerApq3Pct, &m.shimmerApq5Pct, &m.shimmerApq11Pct, &m.shimmerDdaPct, &m.hnrDb,
          &m.cppsDb, &m.unvoicedFraction}) {
        *field = next++ * 1.5 + offset;
    }
    m.voiceBreaks = 3;
    m.cycles = 240;
    return m;
}

VoiceReport okReport(const VoiceMeasures& m)
{
    VoiceReport report;
    report.measures = m;
    return report;
}

std::vector<double> valuesOf(const LogRecord& record)
{
    return {record.values.begin(), record.values.begin() + record.count};
}

TEST(VoiceLogEntries, RecordsCarryTheDefinedValuesInOrder)
{
    const VoiceReport audio = okReport(numbered(0.0));
    VoiceMeasures eggMeasures = numbered(0.01);
    eggMeasures.closedQuotient = QuotientStatistics{0.45, 0.02, 200};
    eggMeasures.closedQuotientHB = QuotientStatistics{0.5, 0.03, 200};
    eggMeasures.closedQuotientPM = QuotientStatistics{0.55, 0.04, 200};
    eggMeasures.closedQuotientHT = QuotientStatistics{0.6, 0.05, 200};
    const VoiceReport egg = okReport(eggMeasures);

    const std::vector<LogRecord> records =
        voiceReportLogRecords("vowel.wav", 500.0, 1500.0, &audio, &egg);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].name, "vowel.wav");
    EXPECT_EQ(records[0].definition, kVoiceAudioDefinition);
    EXPECT_EQ(
        valuesOf(records[0]),
        (std::vector<double>{500.0, 1500.0, 1.5,  3.0,  4.5,  6.0,  7.5,  9.0,  10.5, 12.0,
                             13.5,  15.0,   16.5, 18.0, 19.5, 21.0, 22.5, 24.0, 3.0,  240.0}));
    EXPECT_EQ(records[1].name, "vowel.wav");
    EXPECT_EQ(records[1].definition, kVoiceEggDefinition);
    EXPECT_EQ(valuesOf(records[1]),
              (std::vector<double>{500.0, 1500.0, 1.51,  3.01,  4.51,  6.01,  7.51, 9.01,  10.51,
                                   12.01, 13.51,  15.01, 16.51, 18.01, 19.51, 3.0,  240.0, 0.45,
                                   0.02,  0.5,    0.03,  0.55,  0.04,  0.6,   0.05}));

    // Each definition names as many values as its record holds.
    for (const LogRecord& record : records) {
        const std::string& definition = record.definition;
        const auto names = std::count(definition.begin(), definition.end(), ',');
        EXPECT_EQ(names, record.count) << definition;
    }
}

TEST(VoiceLogEntries, MissingMeasuresAndFailedReports)
{
    VoiceMeasures sparse; // every measure NaN, no quotients
    sparse.cycles = 5;
    VoiceMeasures oneQuotient = sparse;
    oneQuotient.closedQuotientPM = QuotientStatistics{0.4, 0.0, 1};
    VoiceReport failed;
    failed.message = "too few cycles: 3 found, at least 5 needed";

    struct Case {
        const char* what;
        std::optional<VoiceReport> audio;
        std::optional<VoiceReport> egg;
        std::vector<std::string> definitions;
    };
    const Case cases[] = {
        {"no reports", std::nullopt, std::nullopt, {}},
        {"both failed", failed, failed, {}},
        {"audio failed", failed, okReport(oneQuotient), {kVoiceEggDefinition}},
        {"EGG failed", okReport(sparse), failed, {kVoiceAudioDefinition}},
        {"EGG absent", okReport(sparse), std::nullopt, {kVoiceAudioDefinition}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<LogRecord> records = voiceReportLogRecords(
            "a.wav", 0.0, 80.0, c.audio ? &*c.audio : nullptr, c.egg ? &*c.egg : nullptr);
        ASSERT_EQ(records.size(), c.definitions.size());
        for (std::size_t i = 0; i < records.size(); ++i) {
            const LogRecord& record = records[i];
            EXPECT_EQ(record.definition, c.definitions[i]);
            const std::vector<double> values = valuesOf(record);
            const bool egg = record.definition == kVoiceEggDefinition;
            ASSERT_EQ(values.size(), egg ? 25u : 20u);
            // The selection and the counts are always known; every measure
            // else is missing, but for the EGG's one closed quotient.
            for (std::size_t v = 0; v < values.size(); ++v) {
                double expected = kVoiceLogMissing;
                if (v == 1) {
                    expected = 80.0;
                } else if (v == 0 || (egg ? v == 15 : v == 18)) {
                    expected = 0.0; // start, breaks
                } else if (egg ? v == 16 : v == 19) {
                    expected = 5.0; // cycles
                } else if (egg && v == 21) {
                    expected = 0.4; // CQ PM
                } else if (egg && v == 22) {
                    expected = 0.0; // its SD over one cycle
                }
                EXPECT_EQ(values[v], expected) << "value " << v;
            }
        }
    }
}

} // namespace
} // namespace phonaxis
