#pragma once

// The pitch window's graph, drawn the same way in the window, its picture
// and printout, and phonaxis-cli pitch --png: from the top, the label strip,
// the waveform pane, the intensity pane and the pitch pane, over one page
// of the analysed channel, with the frequency grid on the pitch pane and
// the time grid across all of them.

#include "model/Geometry.h"

#include <QPoint>
#include <QSize>
#include <QString>

#include <cstdint>
#include <span>
#include <vector>

class QPainter;

namespace phonaxis {

class Channels;
class MinMaxSummary;
class MyDocument;
class PitchAnalysis;
struct DocumentFields;
struct GraphCaption;
struct PitchTrack;

// How the graph is drawn: the document's pitch display settings.
struct PitchGraphSettings {
    std::int32_t displayLowHz = 50; // m_nDisplayLow … m_nDisplayHigh: the pitch pane's range
    std::int32_t displayHighHz = 500;
    bool drawFreqGrid = true;
    std::int32_t freqGridHz = 20;
    bool drawTimeGrid = true;
    std::int32_t timeGridMs = 500; // 0: adapts to the page
    bool drawAudio = true;
    bool drawIntensity = true;
    bool drawLabels = true;
    bool color = true; // else black and white

    static PitchGraphSettings fromDocument(const DocumentFields& document);
};

// Where the panes lie in a view (view pixels, y down). Margins measured in
// the view's graph text size (graphTextPixelSize) keep the caption line at
// the top, the pitch axis's title and labels on the left and the time axis
// with its title at the bottom; the graph ends kRightMargin short of the
// right edge. With labels, a strip of kLabelStripHeight and kLabelStripGap
// of spacing comes first; the waveform and intensity panes take a sixth of
// the height left each, less kPaneGap that separates them from the next
// pane; the pitch pane takes the rest.
struct PitchGraphLayout {
    static constexpr int kRightMargin = 10;
    static constexpr int kLabelStripHeight = 18;
    static constexpr int kLabelStripGap = 5;
    static constexpr int kPaneGap = 3;

    bool haveLabels = false;
    bool haveAudio = false;
    bool haveIntensity = false;
    Rect labels;
    Rect audio;
    Rect intensity;
    Rect pitch;
    Rect graph; // from the first pane's top to the pitch pane's bottom

    static PitchGraphLayout forView(QSize viewSizePx, bool labels, bool audio, bool intensity);

    // Whether `point` lies over the graph (any pane, edges included).
    bool contains(QPoint point) const;
    // The time under x for a page of [pageStartMs, pageEndMs]: page start +
    // (x − graph left) × page span / graph width.
    double timeAt(int x, double pageStartMs, double pageEndMs) const;
    // The x of `timeMs` on that page (the inverse, truncated).
    int xAt(double timeMs, double pageStartMs, double pageEndMs) const;
};

// What one graph shows. Spans refer to storage that outlives the drawing.
struct PitchGraphInput {
    std::span<const float> samples;         // the analysed channel's samples
    const MinMaxSummary* summary = nullptr; // of `samples`, or null
    double sampleRate = 0.0;
    double lengthMs = 0.0;
    double reference = 0.0;
    double pageMin = 0.0; // the page, samples
    double pageMax = 0.0;
    std::span<const double> track;    // Hz per frame, 0 unvoiced; frame k at k × frameMs
    double frameMs = 0.0;             // ms between frames; 0: lengthMs / frames (the classic)
    bool precise = false;             // the track is the precise analysis's
    std::span<const float> intensity; // dBFS per sample position; empty: none
    double intensityMin = 0.0;        // the track's levels above the dB floor
    double intensityMax = 0.0;
    bool intensityRelative = false;             // levels in dB above the track's quietest
    std::vector<const Channels*> labelChannels; // shown channels that have labels
    PitchGraphSettings settings;
    // The caption line over the graph (what the picture shows, e.g.
    // GraphCaption::text()); empty: the analysis alone ("Pitch, precise
    // analysis").
    QString caption;

    // The page in ms, converted as the analysis converts it (lengthMs per
    // sample count).
    double pageStartMs() const;
    double pageEndMs() const;
    // The panes this input shows in a view of `viewSizePx`.
    PitchGraphLayout layout(QSize viewSizePx) const;
};

// The graph of `analysis` (its track and page) made from `channel`, with
// the channel's intensity track, the settings and the labels of
// `document`'s shown channels. `summary` (of the channel's samples) may be
// null.
PitchGraphInput pitchGraphInput(const Channels& channel, const PitchAnalysis& analysis,
                                const MinMaxSummary* summary, const MyDocument& document);
// The same for a track computed by PitchWorker.
PitchGraphInput pitchGraphInput(const PitchTrack& track, const MyDocument& document);

// The caption line of a pitch picture: what `caption` names (file, channel,
// stretch) and the analysis ("pitch, precise analysis" or "pitch, classic
// analysis: cepstral").
QString pitchGraphCaption(GraphCaption caption, bool precise);

// Draws the graph into a view of `viewSizePx` from the painter's origin on
// whatever background is there. Nothing for a view too small for the
// panes or an empty page.
void drawPitchGraph(QPainter& painter, QSize viewSizePx, const PitchGraphInput& input);

} // namespace phonaxis
