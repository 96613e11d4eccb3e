#pragma once

// The spectrogram window's picture, drawn the same way in the window, its
// picture file and printout, and phonaxis-cli spectrogram --png: from the
// top, the label strip and the waveform pane as the settings ask, then the
// grey image with the formant-track dots over it, the frequency grid on the
// image and the time grid across the waveform and the image.

#include "model/Geometry.h"

#include <QImage>
#include <QPoint>
#include <QSize>

#include <cstdint>
#include <span>
#include <vector>

class QPainter;

namespace phonaxis {

class Channels;
class MyDocument;
struct DocumentFields;
struct GraphCaption;
struct SpectrogramInput;
struct SpectrogramResult;
struct SpectrogramWaveform;

// How the picture is drawn: the document's spectrogram display settings.
struct SpectrogramGraphSettings {
    int frequencyRangeHz = 5000; // m_nSpecfrequencyRange: the image's top
    bool drawAudio = true;       // m_bSpecDrawAudio: the waveform pane
    bool drawLabels = true;      // m_bSpecDrawLabels: the label strip
    bool drawFreqGrid = true;
    int freqGridHz = 1000;
    bool drawTimeGrid = true;
    int timeGridMs = 500; // 0: adapts to the range

    static SpectrogramGraphSettings fromDocument(const DocumentFields& document);
};

// Where the panes lie in a view (view pixels, y down). The image area
// (m_rSpectrogram) is the view less margins measured in the view's graph
// text size (graphTextPixelSize): the caption line and kTopMargin at the
// top, the frequency axis's title and labels on the left, the time axis
// with its title at the bottom, and kRightMargin on the right; with labels,
// a strip of kLabelStripHeight and a pixel of spacing is taken off its top;
// with the waveform, a fifth of the height left (less kPaneGap) is taken
// next. The image's width is the spectrogram's column count
// (m_nDisplayRange), its height its row count.
struct SpectrogramGraphLayout {
    static constexpr int kTopMargin = 6;
    static constexpr int kRightMargin = 10;
    static constexpr int kLabelStripHeight = 14;
    static constexpr int kPaneGap = 3;

    bool haveLabels = false;
    bool haveAudio = false;
    Rect labels;
    Rect audio;
    Rect image;
    Rect timed; // the waveform pane's top (or the image's) to the image's bottom

    static SpectrogramGraphLayout forView(QSize viewSizePx, bool labels, bool audio);

    int columns() const;
    int rows() const;
    // Whether `point` lies over the image (its last row and column included).
    bool inImage(QPoint point) const;
};

// What one picture shows. Spans and pointers refer to storage that
// outlives the drawing.
struct SpectrogramGraphInput {
    const SpectrogramResult* result = nullptr; // null: nothing computed (yet)
    QImage image;                              // the result's grey image (spectrogramImage)
    const SpectrogramWaveform* waveform = nullptr; // the snapshot's waveform pane, or null
    double startPoint = 0.0;                   // the analysed range, channel samples
    double endPoint = 0.0;
    double startTime = 0.0; // the same range in ms
    double stopTime = 0.0;
    std::vector<const Channels*> labelChannels; // shown channels that have labels
    SpectrogramGraphSettings settings;
    // Which analysis the formant tracks are; empty without tracks.
    QString caption;
    // The caption line over the picture (what it shows, e.g.
    // GraphCaption::text()); empty: "Spectrogram" and `caption`.
    QString title;

    // The panes this input shows in a view of `viewSizePx`.
    SpectrogramGraphLayout layout(QSize viewSizePx) const;

    // m_dTimefactor (ms per column) of an image `columns` wide.
    double timeFactor(int columns) const;
    // The time under x (start time + (x − image left) × m_dTimefactor) and
    // the frequency under y ((image bottom − y) × m_dFreqfactor) in a view
    // laid out as `layout`; neither is held to the image.
    double timeAt(const SpectrogramGraphLayout& layout, int x) const;
    double frequencyAt(const SpectrogramGraphLayout& layout, int y) const;
    // The x of `timeMs` and the y of `frequencyHz` (inverse, truncated,
    // held to a range far off the view).
    int xAt(const SpectrogramGraphLayout& layout, double timeMs) const;
    int yAt(const SpectrogramGraphLayout& layout, double frequencyHz) const;
};

// The grey image of `result` (DrawSpectrogramBMP in the 257-entry grey
// palette), a column per pixel and row 0 at the bottom. Null for an empty
// result or when memory runs out.
QImage spectrogramImage(const SpectrogramResult& result);

// The grey image of only the columns c of `result` with shown[c] set (the
// columns a running computation has finished); the others are white.
QImage spectrogramImage(const SpectrogramResult& result, std::span<const std::uint8_t> shown);

// Which analysis the formant tracks of `input` are: "Precise analysis:
// formants up to C Hz", "Classic analysis: LPC order P", or empty when the
// tracks are off.
QString spectrogramCaption(const SpectrogramInput& input);

// The picture of a worker's computation (its snapshot and its result, or
// the columns finished so far) with `document`'s settings and labels.
// `image` is the result's spectrogramImage, prepared once.
SpectrogramGraphInput spectrogramGraphInput(const SpectrogramInput& input,
                                            const SpectrogramResult* result, QImage image,
                                            const MyDocument& document);

// The caption line of a spectrogram picture: what `caption` names (file,
// channel, stretch) and "Spectrogram" with `analysisCaption` (the input's
// caption).
QString spectrogramGraphTitle(GraphCaption caption, const QString& analysisCaption);

// Draws the picture into a view of `viewSizePx` from the painter's origin on
// whatever background is there. An image computed for another size is
// scaled to the image area. Nothing for a view too small for the image.
void drawSpectrogramGraph(QPainter& painter, QSize viewSizePx, const SpectrogramGraphInput& input);

} // namespace phonaxis
