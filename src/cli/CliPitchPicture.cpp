#include "cli/CliPitchPicture.h"

#include "cli/CliCommands.h"
#include "cli/CliPicture.h"
#include "display/GraphAxes.h"
#include "display/PitchGraph.h"
#include "model/Channels.h"
#include "model/MinMaxSummary.h"
#include "windows/PitchAnalysis.h"

#include <QPainter>

namespace phonaxis::cli {

int writePitchPicture(const Options& options, const Channels& audio, PitchAnalysis& analysis,
                      const MyDocument& document, GraphCaption caption, std::ostream& err)
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
    PitchGraphInput input = pitchGraphInput(audio, analysis, &summary, document);
    caption.fromMs = analysis.m_dTimePageMin;
    caption.toMs = analysis.m_dTimePageMax;
    input.caption = pitchGraphCaption(caption, input.precise);
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
