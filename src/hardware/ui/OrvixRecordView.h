#pragma once

// The live view of the recording window: one strip per enabled channel of
// the box, scrolled left as each 2,048-frame block arrives and the new
// block drawn at the right edge. The first enabled entry shows the audio
// (the mean of slots 0..3), every later entry e its slot e + 3. Strips are
// laid out top-down with the layout's own upward y coordinates; each has a
// frame drawn faintly over the traces and a title ("Audio", "chan# N"),
// black on a white patch at its top left.
//
// Drawing a block touches only the new columns and a row copy of the trace
// image, so it keeps up with the box's ten or so blocks a second. Main
// thread only.

#include "document/AppSettings.h"

#include <QImage>
#include <QRect>
#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace phonaxis {

class OrvixRecordView final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kDefaultDisplayFactor = 50;

    explicit OrvixRecordView(QWidget* parent = nullptr);

    // The channel table the strips follow: entries 0..`systemChannels` − 1
    // (at most 13) are shown when enabled.
    void setChannelInfo(std::span<const ChannelInfo> table, int systemChannels);
    // Clears the traces and lays the strips out again for the current size.
    void OnInitialUpdate();
    // Rebuilds the images (after a change of the enabled channels) and
    // redraws.
    void RedoDisplay();
    // Draws one 65,536-byte block of 2,048 frames at the right edge.
    void animateRecordData(std::span<const std::uint8_t> block);
    // The width drawn per block is the view's width / `factor` (5..100);
    // what is drawn already stays.
    void setZoom(int factor);

    int displayFactor() const { return m_nDisplayFactor; }
    int scrollRange() const { return m_nScrollRange; }
    int scrollStart() const { return m_nScrollStart; }
    // The entries shown, in strip order.
    const std::vector<int>& shownEntries() const { return m_entries; }
    // Strip j in the layout's upward coordinates: top() is the strip's
    // upper edge (the larger y), bottom() the lower one.
    struct Strip {
        int top = 0;
        int bottom = 0;
    };
    const std::vector<Strip>& strips() const { return m_rChannel; }
    // The strip titles and where they are drawn (view coordinates).
    struct Title {
        QRect box;
        QString text;
    };
    const std::vector<Title>& titles() const { return m_titles; }
    // The trace image (for tests and screenshots).
    const QImage& traceImage() const { return m_bmpScope; }
    // The image row of a layout y coordinate (y = 0 is the bottom row).
    int imageRow(int y) const { return m_nVerticalRange - 1 - y; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void SetupDisplay();
    void updateScroll();
    void scrollTrace();

    std::array<ChannelInfo, 13> m_ChannelInfo{};
    int m_systemChannels = 0;
    std::vector<int> m_entries;
    std::vector<Strip> m_rChannel;
    std::vector<QPoint> m_points; // one strip's polyline, reused per block
    std::vector<Title> m_titles;
    QImage m_bmpScope;     // the traces
    QImage m_bmpScopeGrid; // frames and labels, drawn at 20 % over the traces
    int m_nHorizontalRange = 0;
    int m_nVerticalRange = 0;
    int m_nScrollRange = 0;
    int m_nScrollStart = 0;
    int m_nDisplayFactor = kDefaultDisplayFactor;
    bool m_bViewIntilized = false;
};

} // namespace phonaxis
