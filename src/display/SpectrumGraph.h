#pragma once

#include "model/Geometry.h"

#include <QSize>
#include <QString>

class QPainter;

namespace phonaxis {

struct DocumentFields;
struct GraphCaption;
class SpectrumAnalysis;

// How the spectrum graph is drawn: the document's grid, level and colour
// settings, copied when a spectrum window starts so that later changes to
// the options leave the window's graph as it was computed.
struct SpectrumGraphStyle {
    bool m_bFFTFreqGrid = true; // frequency grid (vertical lines)
    int m_nFFTFreqGrid = 1000;  // its step, Hz
    bool m_bFFTDBGrid = true;   // level grid (horizontal lines)
    int m_nFFTdBGrid = 20;      // its step, dB
    int m_nFFTABSdBGrid = 80;   // level range of the absolute display, dB
    bool m_bFFTColor = false;   // red spectrum and blue envelope, else black
    // The caption line over the graph (what the picture shows, e.g.
    // GraphCaption::text()); empty: the analysis' own caption alone.
    QString caption;

    static SpectrumGraphStyle fromDocument(const DocumentFields& document);
};

// The graph rectangle of a view of `viewSizePx` (m_rFFT): the view less the
// caption line at the top, the level labels and their title on the left,
// the frequency labels and their title at the bottom and half a frequency
// label on the right, all measured in the text size of the view
// (graphTextPixelSize).
Rect spectrumGraphRect(QSize viewSizePx);

// The x of display point j in `graph`: left + (int)(j·width/display points).
int spectrumPointX(const Rect& graph, int j, int displayPoints);

// The caption line of a spectrum's picture: what `caption` names (file,
// channel, time or stretch) and "FFT/LPC spectrum" with the analysis.
QString spectrumGraphCaption(GraphCaption caption, const SpectrumAnalysis& analysis);

// Draws the spectrum window's graph for a view of `viewSizePx` on white:
// the caption line, the level and frequency grids with their labels (spaced
// to fit) and axis titles "Level (dB)" and "Frequency (Hz)", the averaged
// spectrum (from the bottom-left corner through display points 5, 6, …)
// and, when the analysis draws it, the LPC envelope (from display point 5),
// both in absolute or relative levels as the analysis was computed and
// clipped to the graph; the formants and bandwidths text in the top-right
// corner and the marker, a 2-pixel red bar at alpha 0.8 at the marker's
// frequency. Only the white background and the grids without
// a spectrum. Reads the analysis' results only (never the samples it was
// computed from).
void drawSpectrumGraph(QPainter& painter, QSize viewSizePx, const SpectrumAnalysis& analysis,
                       const SpectrumGraphStyle& style);

} // namespace phonaxis
