#pragma once

// The scope window: one strip per enabled channel of the record/play
// settings, scrolling left as the newest stretch of each channel is drawn at
// the right edge, ten times a second. Its blocks come from a `ScopeSource`
// (the acquisition box's live stream in the application); without a source
// or without enabled channels it has no strips and says so.

#include <QImage>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

class QTimer;

namespace phonaxis {

struct AppSettings;

// Where the scope's samples come from. Main thread only.
class ScopeSource {
public:
    virtual ~ScopeSource() = default;
    // The box's channel count (9, 5 or 2), or 0 without a box.
    virtual int channelCount() const = 0;
    // Counts the blocks that have arrived; the scope draws a block once.
    virtual std::uint64_t blockCount() const = 0;
    // The newest block of 2,048 frames of 16 int16 slots.
    virtual std::span<const std::uint8_t> newestBlock() const = 0;
    // Called each tick while the scope is open: starts the box's stream when
    // nothing streams (at most once every two seconds after a failure).
    virtual void keepStreaming() = 0;
    // The scope closes: ends a stream the source started itself.
    virtual void release() = 0;
};

// `scopeView`: the strips and their traces. Each tick (0.1 s) it asks the
// source to keep the stream going, and when a block arrived since the last
// tick it makes the scope block of it, splits it per channel and draws each
// enabled channel's stretch at the right edge of its strip after shifting
// the picture left by the stretch's width (the view's width / 40).
//
// Layout: a 55-pixel band at the top holds the view's message, or, with
// strips, the time axis; below it, n enabled channels share the height in
// strips of h = (height − 55) / n pixels, strip j from 55 + j × h down to
// 50 + (j + 1) × h (5 pixels between strips and below the last), from
// x = 1 to width − 1.
//
// Scales: the time axis says how long ago each column was drawn, in s, 0 at
// the right edge: one stretch per tick, so the view spans
// kZoomScale × kTickMs (4 s) whatever its width. Each strip is titled at its
// top left ("Audio", "chan# N") and shows its level range, full scale
// ("1.0 FS" at its top right, "-1.0 FS" at its bottom right). Texts are
// black on a white patch over the traces; a text that would not fit inside
// its strip or the view, or would cover another, is left out.
//
// Main thread only. The source is not owned: it must outlive the view, or
// the view's `cleanup` must have run.
class ScopeView final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kZoomScale = 40;
    static constexpr int kTickMs = 100;
    static constexpr int kMaxStrips = 20;
    static constexpr int kTopBand = 55;
    static constexpr int kStripGap = 5;

    // `source` may be null: no box in this application.
    ScopeView(ScopeSource* source, const AppSettings& settings, QWidget* parent = nullptr);
    ~ScopeView() override;

    // Clears the data, rebuilds the images and starts the 0.1-second timer.
    void OnInitialUpdate();
    // One tick: keep the stream going, follow a change of the enabled
    // channels, draw the newest block if it is new, repaint.
    void onTick();
    // Takes the newest block when it arrived since the last one taken and
    // splits it per scope channel; false when there was none.
    bool Sample();
    // Shifts the trace left and draws the channels' newest stretch.
    void AnimateData();
    void SetupDisplay();
    void DeleteDisplay();
    void SetColors();
    void RedoDisplay();
    // The window closes: the timer stops and the source's stream is
    // released. Safe to call more than once.
    void cleanup();

    // --- what the window shows (tests read it) ---
    // The strip rectangles (x, y, width, height), in enabled-entry order,
    // and the channel-table entry each strip shows.
    const std::vector<QRect>& stripRects() const { return m_rChannel; }
    const std::vector<int>& stripEntries() const { return m_stripEntries; }
    const QImage& traceImage() const { return m_bmpScope; }
    // The samples of each scope channel of the last block taken.
    const std::vector<std::vector<std::int16_t>>& channelData() const { return m_npChannelData; }
    bool ticking() const;
    // What the top band says: why there are no strips, or nothing.
    const QString& message() const { return m_message; }
    // The texts of the scales and strip titles and where they are drawn
    // (view coordinates), laid out with the view's font.
    struct ScaleText {
        QRect box;
        QString text;
    };
    const std::vector<ScaleText>& scaleTexts() const { return m_scaleTexts; }
    // The time axis: how many seconds the view spans, and its tick marks
    // (x of each, in view coordinates).
    static constexpr double kSpanSeconds = kZoomScale * kTickMs / 1000.0;
    const std::vector<int>& timeTicks() const { return m_timeTicks; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // The box's channel count and the enabled entries among its first
    // channels, with the message that goes with them.
    int boxChannels() const;
    std::vector<int> enabledEntries(QString& message) const;
    // Lays out the time axis, the strip titles and the level ranges.
    void layoutScales();
    // Adds a text when `box` lies inside `within` and covers no text
    // placed before; false when it was left out.
    bool placeText(const QRect& box, const QString& text, const QRect& within);

    ScopeSource* m_source; // not owned; null without a box service
    const AppSettings& m_settings;
    QTimer* _timer;        // a child of the view

    QImage m_bmpScope;           // the trace
    QImage m_bmpScopeGrid;       // the strips' frames and labels
    QImage m_bmpScopeBackGround; // blank
    std::vector<QRect> m_rChannel;
    std::vector<int> m_stripEntries;
    std::vector<std::vector<std::int16_t>> m_npChannelData;
    QString m_message;
    std::vector<ScaleText> m_scaleTexts;
    std::vector<int> m_timeTicks;
    bool m_bHaveData = false;
    bool m_bViewIntilized = false;
    bool m_bRedraw = false;
    QRect m_rScope;
    int m_nHorizontalRange = 0;
    int m_nVerticalRange = 0;
    int m_nScrollRange = 0;
    int m_nScrollStart = 0;
    int m_nLastChannelCount = 0;
    int m_nZoonScale = kZoomScale;
    int m_nLayoutBoxChannels = 0;  // the box's channel count the strips were laid out for
    std::uint64_t m_nLastBlock = 0; // the source's block count when a block was last taken
};

// `scopeWindowController`: a top-level window titled "Scope" holding the
// view. Closing it stops the timer and releases the source. It owns the
// source (null: no box service).
class ScopeWindowController final : public QWidget {
    Q_OBJECT
public:
    ScopeWindowController(std::unique_ptr<ScopeSource> source, const AppSettings& settings,
                          QWidget* parent = nullptr);
    ~ScopeWindowController() override;

    // Starts the view (its `OnInitialUpdate`).
    void initilize();
    ScopeView* view() const { return m_view; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<ScopeSource> m_source;
    QPointer<ScopeView> m_view; // a child of the window
};

} // namespace phonaxis
