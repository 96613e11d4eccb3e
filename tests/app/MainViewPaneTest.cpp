// The main view widget with its scrollers, driven as the window drives it:
// model commands, then a paint, then what the pixels and the channels show.
// The signal generators come first: Qt's "signals" keyword is a macro.
#include "Signals.h"
#include "support/ChannelFixtures.h"
#include "support/ScriptedPrompts.h"

namespace {

// A one-second tone at 11025 Hz.
std::vector<float> secondOfTone(double frequencyHz)
{
    return phonaxis::signals::tone(frequencyHz, 11025.0, 1000.0);
}

} // namespace

#include "app/Commands.h"
#include "display/MainViewModel.h"
#include "display/MainViewPane.h"
#include "display/MainViewScroller.h"
#include "document/MyDocument.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace phonaxis {
namespace {

class MainViewPaneTest : public ::testing::Test {
protected:
    // One-second tones at 11025 Hz in strips 100 pixels high, shown in a
    // scroller of `size`.
    void open(int channelCount, QSize size)
    {
        m_document.m_nNumofChannels = channelCount;
        for (int i = 0; i < channelCount; ++i) {
            Channels& c = m_document.getChannel(i);
            test::loadChannel(c, secondOfTone(200.0 + 50.0 * i), 11025.0);
            c.setPlainReadState(c.m_dwFileLength, 11025.0);
            c.m_nHeigth = 100;
        }
        m_document.m_bHaveData = true;
        m_document.m_bNewFile = false;
        m_scroller.resize(size);
        pane()->setModel(&m_model);
        pane()->documentChanged();
        m_scroller.show();
        QApplication::processEvents();
    }

    MainViewPane* pane() { return m_scroller.pane(); }

    // What the window does after a zoom: the knob follows, the view redraws.
    void afterZoom()
    {
        m_scroller.followModel();
        pane()->redraw();
    }

    void moveMouse(QPoint at, Qt::MouseButtons buttons = Qt::NoButton)
    {
        QMouseEvent move(QEvent::MouseMove, QPointF(at), pane()->mapToGlobal(QPointF(at)),
                         Qt::NoButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(pane(), &move);
    }

    void dragAcross(int fromX, int toX, int y)
    {
        QTest::mousePress(pane(), Qt::LeftButton, {}, QPoint(fromX, y));
        moveMouse(QPoint(toX, y), Qt::LeftButton);
        QTest::mouseRelease(pane(), Qt::LeftButton, {}, QPoint(toX, y));
    }

    // The view x of a time on the anchor channel's current page.
    int viewXOf(double timeMs)
    {
        const Channels& c = m_document.getChannel(0);
        const double startMs = c.m_dPageMin * 1000.0 / c.m_dSampleRate;
        const double endMs = c.m_dPageMax * 1000.0 / c.m_dSampleRate;
        const double width = c.m_rLocation.right - c.m_rLocation.left;
        return g_nLeftWindowOffset + int(std::lround((timeMs - startMs) * width / (endMs - startMs)));
    }

    // Whether the painted pixel differs from the rendered channels there,
    // i.e. an overlay covers it.
    static bool overlaid(const QImage& painted, const QImage& rendered, int x, int y)
    {
        return painted.pixel(x, y) != rendered.pixel(x, y);
    }

    test::ScriptedPrompts m_prompts;
    MyDocument m_document{m_prompts};
    MainViewModel m_model{m_document};
    MainViewScroller m_scroller;
};

TEST_F(MainViewPaneTest, ZoomedPagesSurviveThePaint)
{
    open(2, QSize(800, 400));
    m_document.m_dZoomRange = 200;
    dragAcross(300, 500, 30);
    struct Case {
        const char* name;
        std::function<void()> zoom;
    };
    const Case cases[] = {
        {"selection", [&] { m_model.ZoomSelection(); }},
        {"in", [&] { m_model.ZoomIn(); }},
        {"out", [&] { m_model.ZoomOut(); }},
        {"undo", [&] { m_model.ZoomUndo(); }},
        {"home", [&] { m_model.ZoomHome(); }},
        {"in from home", [&] { m_model.ZoomIn(); }},
        {"cursor", [&] {
             QTest::mouseClick(pane(), Qt::LeftButton, {}, QPoint(400, 30));
             QTest::mouseClick(pane(), Qt::LeftButton, {}, QPoint(400, 30));
             m_model.ZoomCursor();
         }},
        {"label jump", [&] { m_model.DoZoomJumpLabel(600.0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.zoom();
        afterZoom();
        std::vector<std::pair<double, double>> pages;
        for (int i = 0; i < 2; ++i) {
            const Channels& channel = m_document.getChannel(i);
            pages.emplace_back(channel.m_dPageMin, channel.m_dPageMax);
        }
        (void)pane()->grab();
        for (int i = 0; i < 2; ++i) {
            const Channels& channel = m_document.getChannel(i);
            EXPECT_NEAR(channel.m_dPageMin, pages[i].first, 1e-6) << "channel " << i;
            EXPECT_NEAR(channel.m_dPageMax, pages[i].second, 1e-6) << "channel " << i;
        }
    }
}

TEST_F(MainViewPaneTest, MarkerAndSelectionFollowAZoom)
{
    open(1, QSize(800, 400));
    const int y = 100;

    QTest::mouseClick(pane(), Qt::LeftButton, {}, QPoint(400, y));
    const double markerMs = m_document.getChannel(0).m_dMarkerTime;
    m_model.ZoomIn();
    afterZoom();
    QImage painted = pane()->grab().toImage();
    const int markerX = viewXOf(markerMs);
    ASSERT_NE(markerX, 400);
    // The bar is two pixels wide; the red cursor stays at the mouse (400).
    EXPECT_TRUE(overlaid(painted, pane()->renderedImage(), markerX + 1, y));
    EXPECT_FALSE(overlaid(painted, pane()->renderedImage(), 401, y));

    m_model.ZoomHome();
    afterZoom();
    dragAcross(300, 500, y);
    const Channels& c = m_document.getChannel(0);
    const double startMs = c.m_dDurationStartTime;
    const double stopMs = c.m_dDurationStopTime;
    m_model.ZoomIn();
    afterZoom();
    painted = pane()->grab().toImage();
    const int startX = viewXOf(startMs);
    const int stopX = viewXOf(stopMs);
    ASSERT_LT(startX, 280); // the zoom widened the selection beyond where it was drawn
    for (const auto& [x, tinted] : {std::pair{startX + 2, true}, std::pair{stopX - 2, true},
                                    std::pair{startX - 20, false}, std::pair{stopX + 20, false}}) {
        EXPECT_EQ(overlaid(painted, pane()->renderedImage(), x, y), tinted) << "x " << x;
    }
}

// One marker state: the click that ends a selection draws the marker, and
// the commands at the marker are enabled with it, not a click later.
TEST_F(MainViewPaneTest, AClickThatEndsASelectionDrawsTheMarkerTheCommandsUse)
{
    open(1, QSize(800, 400));
    const int y = 100;
    dragAcross(300, 500, y);
    ASSERT_TRUE(m_document.m_bHaveSelection);
    QTest::mouseClick(pane(), Qt::LeftButton, {}, QPoint(400, y));
    const QImage painted = pane()->grab().toImage();
    // The bar is two pixels wide; the red cursor covers only x = 400.
    EXPECT_TRUE(overlaid(painted, pane()->renderedImage(), 401, y));
    EXPECT_TRUE(m_model.m_bHaveMarker && m_document.m_bHaveMarker);
    EXPECT_FALSE(m_document.m_bHaveSelection);
    EXPECT_TRUE(windowCommandEnabled("_AnalysisFFT:", true, false, m_document.m_bHaveMarker,
                                     m_document.m_bHaveSelection));
    EXPECT_TRUE(m_model.validateMenuItem("_ZoomCursor:", MenuContext{}));
}

TEST_F(MainViewPaneTest, LowerChannelsAreReachedByScrollingDown)
{
    open(8, QSize(600, 300));
    QScrollBar* vertical = m_scroller.verticalScroller();
    ASSERT_TRUE(vertical->isVisible());
    EXPECT_EQ(vertical->maximum(), m_model.m_nFrameHeigth - pane()->height());

    QTest::mouseClick(pane(), Qt::LeftButton, {}, QPoint(300, pane()->height() - 10));
    EXPECT_NE(m_model.m_nChannelCliked, 7);
    vertical->setValue(vertical->maximum());
    EXPECT_EQ(m_model.m_nDeltaY, vertical->maximum());
    (void)pane()->grab();
    QTest::mouseClick(pane(), Qt::LeftButton, {}, QPoint(300, pane()->height() - 10));
    EXPECT_EQ(m_model.m_nChannelCliked, 7);
}

TEST_F(MainViewPaneTest, CursorColumnAppearsOnMoveWithoutRenderingAgain)
{
    open(1, QSize(800, 400));
    const auto redPixelsInColumn = [](const QImage& image, int x) {
        int count = 0;
        for (int y = 0; y < image.height(); ++y) {
            count += image.pixel(x, y) == qRgb(255, 0, 0) ? 1 : 0;
        }
        return count;
    };
    QImage painted = pane()->grab().toImage();
    EXPECT_EQ(redPixelsInColumn(painted, 0), 0);

    const qint64 rendering = pane()->renderedImage().cacheKey();
    moveMouse(QPoint(300, 50));
    painted = pane()->grab().toImage();
    EXPECT_GT(redPixelsInColumn(painted, 300), 100);
    EXPECT_EQ(pane()->renderedImage().cacheKey(), rendering);
}

TEST_F(MainViewPaneTest, CursorColumnAndStatusAgreeAfterZoomOrScroll)
{
    open(1, QSize(800, 400));
    std::optional<double> statusMs;
    pane()->onStatus = [&](const StatusReport& report) {
        if (report.cursorTimeMs) {
            statusMs = report.cursorTimeMs;
        }
    };
    // The red columns of the painted view, at a row without trace.
    const auto redColumns = [&] {
        const QImage painted = pane()->grab().toImage();
        std::vector<int> columns;
        for (int x = 0; x < painted.width(); ++x) {
            if (painted.pixel(x, 5) == qRgb(255, 0, 0)) {
                columns.push_back(x);
            }
        }
        return columns;
    };
    moveMouse(QPoint(300, 50));
    struct Step {
        const char* name;
        std::function<void()> move;
    };
    const Step steps[] = {
        {"zoom in", [&] { m_model.ZoomIn(); afterZoom(); }},
        {"scroller", [&] { m_scroller.scroller()->setValue(
                               m_scroller.scroller()->maximum()); }},
        {"zoom out", [&] { m_model.ZoomOut(); afterZoom(); }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        const double before = statusMs.value_or(-1.0);
        step.move();
        // The column stays under the mouse; the status shows the time there.
        EXPECT_EQ(redColumns(), std::vector<int>{300});
        ASSERT_TRUE(statusMs.has_value());
        EXPECT_NE(*statusMs, before);
        EXPECT_NEAR(viewXOf(*statusMs), 300, 1);
        EXPECT_DOUBLE_EQ(m_document.getChannel(0).m_dCursorTime, *statusMs);
    }

    // Once the mouse has left, zooms show no column until it returns.
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(pane(), &leave);
    EXPECT_TRUE(redColumns().empty());
    m_model.ZoomIn();
    afterZoom();
    EXPECT_TRUE(redColumns().empty());
    moveMouse(QPoint(420, 50));
    EXPECT_EQ(redColumns(), std::vector<int>{420});
    EXPECT_NEAR(viewXOf(*statusMs), 420, 1);
}

} // namespace
} // namespace phonaxis
