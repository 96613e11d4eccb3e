#include "cli/CliPitchPicture.h"

#include "cli/CliCommands.h"
#include "cli/CliPicture.h"
#include "display/PitchGraph.h"
#include "model/Channels.h"
#include "model/MinMaxSummary.h"
#include "windows/PitchAnalysis.h"

#include <QPainter>

namespace phonaxis::cli {

int checkPitchPicture(const Options& options, std::ostream& err)
{
    std::vector<std::string> inputs(options.positional);
    if (options.configPath) {
        inputs.push_back(*options.configPath);
    }
    return checkPictureOutput(*options.pngPath, inputs, err);
}

int writePitchPicture(const Options& options, const Channels& audio, PitchAnalysis& analysis,
                      const MyDocument& document, std::ostream& err)
{
    const double samplesPerMs =
        analysis.m_dLengthMS > 0.0 ? analysis.m_dwFileLength / analysis.m_dLengthMS : 0.0;
    analysis.m_dTimePageMin = options.fromMs.value_or(0.0);
    analysis.m_dTimePageMax = options.toMs.value_or(analysis.m_dLengthMS);
    analysis.m_dPageMin = analysis.m_dTimePageMin * samplesPerMs;
    analysis.m_dPageMax = analysis.m_dTimePageMax * samplesPerMs;

    // The waveform of a long recording is drawn from its summary; without
    // one (no memory) the samples are scanned, with the same pixels.
    MinMaxSummary summary;
    summary.build(audio.samples());
    const PitchGraphInput input = pitchGraphInput(audio, analysis, &summary, document);
    const QSize sizePx(options.widthPx.value_or(kGraphPictureWidthPx),
                       options.heightPx.value_or(kGraphPictureHeightPx));
    return writeGraphPicture(
        *options.pngPath, sizePx,
        [&input](QPainter& painter, QSize viewSizePx) {
            drawPitchGraph(painter, viewSizePx, input);
        },
        err);
}

} // namespace phonaxis::cli
