// The voice report as a table of text.

#include "windows/VoiceReportTable.h"

#include "document/NumberText.h"
#include "windows/VoiceReport.h"

#include <cctype>
#include <cmath>
#include <functional>
#include <optional>

namespace phonaxis {
namespace {

using Quotient = std::optional<QuotientStatistics> VoiceMeasures::*;

// One measure: its name, decimals and value (NaN: none).
struct Measure {
    const char* name;
    int decimals;
    std::function<double(const VoiceMeasures&)> value;
};

double field(const VoiceMeasures& m, double VoiceMeasures::*member)
{
    return m.*member;
}

double quotientMean(const VoiceMeasures& m, Quotient member)
{
    const std::optional<QuotientStatistics>& q = m.*member;
    return q ? q->mean : VoiceMeasures::kNaN;
}

double quotientSd(const VoiceMeasures& m, Quotient member)
{
    const std::optional<QuotientStatistics>& q = m.*member;
    return q ? q->sd : VoiceMeasures::kNaN;
}

std::vector<Measure> measures()
{
    using M = VoiceMeasures;
    const auto of = [](double M::*member) {
        return [member](const M& m) { return field(m, member); };
    };
    const auto mean = [](Quotient member) {
        return [member](const M& m) { return quotientMean(m, member); };
    };
    const auto sd = [](Quotient member) {
        return [member](const M& m) { return quotientSd(m, member); };
    };
    return {
        {"F0 mean (Hz)", 2, of(&M::f0MeanHz)},
        {"F0 SD (Hz)", 2, of(&M::f0SdHz)},
        {"Jitter local (%)", 3, of(&M::jitterLocalPct)},
        {"Jitter local, absolute (µs)", 2, of(&M::jitterLocalAbsUs)},
        {"Jitter RAP (%)", 3, of(&M::jitterRapPct)},
        {"Jitter PPQ5 (%)", 3, of(&M::jitterPpq5Pct)},
        {"Jitter DDP (%)", 3, of(&M::jitterDdpPct)},
        {"Shimmer local (%)", 3, of(&M::shimmerLocalPct)},
        {"Shimmer local (dB)", 3, of(&M::shimmerLocalDb)},
        {"Shimmer APQ3 (%)", 3, of(&M::shimmerApq3Pct)},
        {"Shimmer APQ5 (%)", 3, of(&M::shimmerApq5Pct)},
        {"Shimmer APQ11 (%)", 3, of(&M::shimmerApq11Pct)},
        {"Shimmer DDA (%)", 3, of(&M::shimmerDdaPct)},
        {"HNR (dB)", 2, of(&M::hnrDb)},
        {"CPPS (dB)", 2, of(&M::cppsDb)},
        {"Unvoiced frames (%)", 1, [](const M& m) { return m.unvoicedFraction * 100.0; }},
        {"Voice breaks", 0, [](const M& m) { return static_cast<double>(m.voiceBreaks); }},
        {"Cycles", 0, [](const M& m) { return static_cast<double>(m.cycles); }},
        {"CQ mean", 3, mean(&M::closedQuotient)},
        {"CQ SD", 3, sd(&M::closedQuotient)},
        {"CQ HB mean", 3, mean(&M::closedQuotientHB)},
        {"CQ HB SD", 3, sd(&M::closedQuotientHB)},
        {"CQ PM mean", 3, mean(&M::closedQuotientPM)},
        {"CQ PM SD", 3, sd(&M::closedQuotientPM)},
        {"CQ HT mean", 3, mean(&M::closedQuotientHT)},
        {"CQ HT SD", 3, sd(&M::closedQuotientHT)},
    };
}

std::string capitalised(std::string text)
{
    if (!text.empty()) {
        text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    }
    return text;
}

std::string message(const VoiceReport& report)
{
    if (report.ok()) {
        return {};
    }
    return capitalised(report.message.empty() ? "no report" : report.message);
}

std::string cell(const VoiceReport& report, const Measure& measure, bool first)
{
    if (!report.ok()) {
        return first ? message(report) : std::string();
    }
    const double value = measure.value(*report.measures);
    return std::isfinite(value) ? fixedNumber(value, measure.decimals)
                                : VoiceReportTable::kNotApplicable;
}

} // namespace

std::string VoiceReportTable::text() const
{
    std::string out = "Measure\tAudio\tEGG\n";
    for (const Row& row : rows) {
        out += row.measure + '\t' + row.audio + '\t' + row.egg + '\n';
    }
    return out;
}

VoiceReportTable voiceReportTable(const VoiceReport& audio, const VoiceReport& egg)
{
    VoiceReportTable table;
    table.audioMessage = message(audio);
    table.eggMessage = message(egg);
    bool first = true;
    for (const Measure& measure : measures()) {
        table.rows.push_back(
            {measure.name, cell(audio, measure, first), cell(egg, measure, first)});
        first = false;
    }
    return table;
}

} // namespace phonaxis
