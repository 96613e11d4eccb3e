// phonaxis_voice_run: the voice report of one generated vowel (the signal
// phonaxis-gen voice writes for the same options), from the audio and from
// the EGG, next to the generator's truth, as a TSV table for bench/voice.

#include "VoiceSignals.h"

#include "model/Channels.h"
#include "windows/VoiceReport.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace {

using namespace phonaxis;

void row(const char* source, const VoiceMeasures& m)
{
    const auto q = [](const std::optional<QuotientStatistics>& s) {
        return s ? s->mean : VoiceMeasures::kNaN;
    };
    std::printf("%s\t%.6g\t%.6g\t%.6g\t%.6g\t%.6g\t%.6g\t%.6g\t%.6g\t%.6g\t%.6g\t%.6g\t%.6g\t%.6g"
                "\t%.6g\t%.9g\t%.6g\t%d\t%d\t%.6g\n",
                source, m.f0MeanHz, m.f0SdHz, m.jitterLocalPct, m.jitterLocalAbsUs, m.jitterRapPct,
                m.jitterPpq5Pct, m.jitterDdpPct, m.shimmerLocalPct, m.shimmerLocalDb,
                m.shimmerApq3Pct, m.shimmerApq5Pct, m.shimmerApq11Pct, m.shimmerDdaPct, m.hnrDb,
                m.cppsDb, m.unvoicedFraction, m.voiceBreaks, m.cycles, q(m.closedQuotient));
}

} // namespace

int main(int argc, char** argv)
{
    std::map<std::string, double> o = {{"--rate", 22050}, {"--f0", 120},    {"--ms", 2000},
                                       {"--jitter", 1},   {"--shimmer", 3}, {"--hnr", 20},
                                       {"--seed", 1},     {"--floor", 75},  {"--ceiling", 600}};
    for (int i = 1; i + 1 < argc; i += 2) {
        if (o.find(argv[i]) == o.end()) {
            std::fprintf(stderr, "phonaxis_voice_run: unknown option %s\n", argv[i]);
            return 2;
        }
        o[argv[i]] = std::strtod(argv[i + 1], nullptr);
    }
    signals::VoiceSignalParams p;
    p.rateHz = o["--rate"];
    p.f0Hz = o["--f0"];
    p.durationMs = o["--ms"];
    p.jitterPct = o["--jitter"];
    p.shimmerPct = o["--shimmer"];
    p.hnrDb = o["--hnr"];
    p.seed = static_cast<std::uint32_t>(o["--seed"]);
    const signals::VoiceSignal v = signals::voiceSignal(p);

    VoiceSettings settings;
    settings.pitch.m_dCalculationLow = o["--floor"];
    settings.pitch.m_dCalculationHigh = o["--ceiling"];

    std::printf("source\tf0_mean_hz\tf0_sd_hz\tjitter_local_pct\tjitter_local_abs_us\t"
                "jitter_rap_pct\tjitter_ppq5_pct\tjitter_ddp_pct\tshimmer_local_pct\t"
                "shimmer_local_db\tshimmer_apq3_pct\tshimmer_apq5_pct\tshimmer_apq11_pct\t"
                "shimmer_dda_pct\thnr_db\tcpps_db\tunvoiced_fraction\tvoice_breaks\tcycles\tcq\n");
    row("truth", v.truth);

    const VoiceReport audio =
        audioVoiceReport(v.audio, p.rateHz, v.analysisFromMs, v.analysisToMs, settings);
    if (audio.measures) {
        row("audio", *audio.measures);
    } else {
        std::fprintf(stderr, "audio: %s\n", audio.message.c_str());
    }

    Channels egg;
    egg.setData(v.egg.data(), static_cast<double>(v.egg.size()));
    egg.m_dwFileLength = static_cast<double>(v.egg.size());
    egg.m_dSampleRate = p.rateHz;
    egg.m_dLengthMS = static_cast<double>(v.egg.size()) * 1000.0 / p.rateHz;
    if (!egg.EggAnalysisAll()) {
        std::fprintf(stderr, "egg: the EGG analysis failed\n");
        return 1;
    }
    const VoiceReport eggReport = eggVoiceReport(egg, v.analysisFromMs, v.analysisToMs, settings);
    if (eggReport.measures) {
        row("egg", *eggReport.measures);
    } else {
        std::fprintf(stderr, "egg: %s\n", eggReport.message.c_str());
    }
    return 0;
}
