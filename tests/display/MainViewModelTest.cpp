#include "display/MainViewModel.h"

#include "Signals.h"
#include "document/MyDocument.h"
#include "support/ChannelFixtures.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

namespace phonaxis {
namespace {

// Three one-second channels (audio and a second at 11025 Hz, one at 22050 Hz)
// in a client 1055 pixels wide, so that on the home page one pixel of a strip
// is one ms and view x = 50 + t.
class MainViewModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const double rates[] = {11025.0, 22050.0, 11025.0};
        const char* titles[] = {"Audio", "EGG", "Flow"};
        const int heights[] = {100, 80, 60};
        m_document.m_nNumofChannels = 3;
        for (int i = 0; i < 3; ++i) {
            Channels& c = m_document.getChannel(i);
            test::loadChannel(c, signals::tone(100.0 * (i + 1), rates[i], 1000.0), rates[i]);
            c.setPlainReadState(c.m_dwFileLength, rates[i]);
            c.SetTitle(titles[i]);
            c.m_nHeigth = heights[i];
            c.m_nChannelType = i == 0 ? 1 : 0;
            c.m_bAnchorChannel = i == 0;
        }
        m_document.m_bHaveData = true;
        m_document.m_bNewFile = false;
        m_view.SetupDisplay(1055, 400);
    }

    Channels& channel(int i) { return m_document.getChannel(i); }

    void expectEveryChannel(const std::function<void(const Channels&, double perMs)>& check)
    {
        for (int i = 0; i < 3; ++i) {
            SCOPED_TRACE(i);
            check(channel(i), channel(i).m_dSampleRate / 1000.0);
        }
    }

    test::ScriptedPrompts m_prompts;
    MyDocument m_document{m_prompts};
    MainViewModel m_view{m_document};
};

TEST_F(MainViewModelTest, StripsStackShownChannelsAndSingleChannelFillsView)
{
    EXPECT_EQ(channel(0).m_rLocation, (Rect{0, 50, 100, 1050}));
    EXPECT_EQ(channel(1).m_rLocation, (Rect{105, 50, 185, 1050}));
    EXPECT_EQ(channel(2).m_rLocation, (Rect{190, 50, 250, 1050}));
    EXPECT_EQ(m_view.m_nFrameHeigth, 255);

    // A hidden channel takes no height but keeps the common time axis.
    channel(1).m_bShow = false;
    m_view.SetupDisplay(1055, 400);
    EXPECT_EQ(channel(1).m_rLocation, (Rect{105, 50, 105, 1050}));
    EXPECT_EQ(channel(2).m_rLocation, (Rect{105, 50, 165, 1050}));
    EXPECT_EQ(m_view.m_nFrameHeigth, 170);
    m_view.TrackMouseMove(550, 10);
    EXPECT_DOUBLE_EQ(channel(1).m_dCursorTime, 500.0);
    ASSERT_EQ(m_view.cursorValues().size(), 2u);

    // Heights from a file neither invert a strip nor wrap the 16-bit frame;
    // a view narrower than the margins keeps a strip one pixel wide.
    channel(0).m_nHeigth = -20;
    channel(1).m_bShow = true;
    channel(1).m_nHeigth = 40000;
    m_view.SetupDisplay(20, 400);
    EXPECT_EQ(channel(0).m_rLocation, (Rect{0, 50, 0, 51}));
    EXPECT_EQ(channel(1).m_rLocation, (Rect{5, 50, 32767, 51}));
    EXPECT_EQ(m_view.m_nFrameHeigth, 32767);

    m_document.m_nNumofChannels = 1;
    m_view.SetupDisplay(1055, 400);
    EXPECT_EQ(channel(0).m_rLocation, (Rect{0, 50, 370, 1050}));
    EXPECT_EQ(channel(0).m_nHeigth, 370);
    EXPECT_EQ(m_view.m_nFrameHeigth, 370);
}

TEST_F(MainViewModelTest, ZoomModesSetEveryPageAndSaveForUndo)
{
    struct Case {
        const char* name;
        double pageMin, pageMax; // channel 0 before, in samples
        int mode;
        double expectMin, expectMax;
        bool saves;
    };
    const Case cases[] = {
        {"in", 0, 11025, 1, 2756.25, 8268.75, true},
        {"in at 100 samples", 1000, 1100, 1, 1000, 1100, true},
        {"out", 500, 2500, 2, 0, 3500, true},
        {"out from width 0", 500, 500, 2, 450, 550, true},
        {"out near end", 10000, 11000, 2, 9500, 11025, true},
        {"undo", 0, 11025, 0, 100, 200, false},
        {"selection", 0, 11025, 3, 2000, 6000, true},
        {"cursor past end", 0, 11025, 4, 10000, 21025, true},
        {"home", 300, 400, 5, 0, 11025, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Channels& ch = channel(0);
        ch.m_dPageMin = c.pageMin;
        ch.m_dPageMax = c.pageMax;
        ch.m_dMinUnZoom = 100;
        ch.m_dMaxUnZoom = 200;
        ch.m_dDurationStartFile = 2000;
        ch.m_dDurationStopFile = 6000;
        ch.m_dMarkerFileValue = 10000;
        m_view.CalibrateScroll(c.mode);
        EXPECT_DOUBLE_EQ(ch.m_dPageMin, c.expectMin);
        EXPECT_DOUBLE_EQ(ch.m_dPageMax, c.expectMax);
        EXPECT_DOUBLE_EQ(ch.m_dMinUnZoom, c.saves ? c.pageMin : 100);
        EXPECT_DOUBLE_EQ(ch.m_dMaxUnZoom, c.saves ? c.pageMax : 200);
        EXPECT_DOUBLE_EQ(m_view._dKnobProportion, (c.expectMax - c.expectMin) / 11025.0);
        EXPECT_EQ(m_view.m_bZoomed, c.expectMax - c.expectMin != 11025.0);
        EXPECT_NEAR(m_view.m_dTimePageMin, c.expectMin / 11.025, 1e-9);
        // The scroller re-applies the knob before each redraw: a page inside
        // the recording must come back unchanged.
        if (c.expectMax <= 11025.0) {
            m_view.AdjustScrollControl(m_view._dKnobPosition, m_view._dKnobProportion);
            EXPECT_NEAR(ch.m_dPageMin, c.expectMin, 1e-6);
            EXPECT_NEAR(ch.m_dPageMax, c.expectMax, 1e-6);
        }
    }
    // The 22050 Hz channel zooms at its own marker over its own rate.
    channel(1).m_dMarkerFileValue = 20000;
    m_view.CalibrateScroll(4);
    EXPECT_DOUBLE_EQ(channel(1).m_dPageMax, 42050.0);
}

TEST_F(MainViewModelTest, ZoomToAnEmptyPageKeepsThePage)
{
    m_view.DoOnLButtonDown(300, 10);
    m_view.TrackMouseDragged(300, 10);
    m_view.DoOnLButtonUp(300, 10);
    ASSERT_TRUE(m_view.m_bHaveSelection);
    m_view.ZoomSelection();
    m_document.m_dZoomRange = 0;
    m_view.ZoomCursor();
    expectEveryChannel([](const Channels& c, double) {
        EXPECT_DOUBLE_EQ(c.m_dPageMin, 0.0);
        EXPECT_DOUBLE_EQ(c.m_dPageMax, c.m_dwFileLength);
    });
    EXPECT_FALSE(m_view.m_bZoomed);
}

TEST_F(MainViewModelTest, JumpToLabelCentresZoomRangeAndClamps)
{
    m_document.m_dZoomRange = 200;
    m_view.DoZoomJumpLabel(500);
    EXPECT_DOUBLE_EQ(channel(0).m_dPageMin, 4410.0);
    EXPECT_DOUBLE_EQ(channel(0).m_dPageMax, 6615.0);
    EXPECT_DOUBLE_EQ(channel(1).m_dPageMin, 8820.0);
    EXPECT_NEAR(m_view.m_dTimePageMin, 400.0, 1e-9);
    m_view.DoZoomJumpLabel(50);
    EXPECT_DOUBLE_EQ(channel(0).m_dPageMin, 0.0);
    EXPECT_DOUBLE_EQ(channel(0).m_dPageMax, 1653.75);
}

TEST_F(MainViewModelTest, ScrollerAndWheelMoveEveryPage)
{
    m_view.AdjustScrollControl(0.5, 0.25);
    EXPECT_DOUBLE_EQ(channel(0).m_dPageMin, 4134.375);
    EXPECT_DOUBLE_EQ(channel(0).m_dPageMax, 6890.625);
    EXPECT_DOUBLE_EQ(channel(1).m_dPageMin, 8268.75);
    EXPECT_NEAR(m_view.m_dTimePageMin, 375.0, 1e-9);

    m_view.ZoomHome();
    m_view.ZoomIn();
    EXPECT_DOUBLE_EQ(m_view.documentWidth(800), 1600.0);
    EXPECT_DOUBLE_EQ(m_view.scrollOffset(800), 400.0);
    EXPECT_DOUBLE_EQ(m_view.scrollWheel(1.0, 800), 0.375);
    EXPECT_DOUBLE_EQ(channel(0).m_dPageMin, 300.0 / 1600.0 * 11025.0);
    EXPECT_DOUBLE_EQ(m_view.scrollWheel(10.0, 800), 0.0);
    EXPECT_DOUBLE_EQ(channel(0).m_dPageMin, 0.0);
}

TEST_F(MainViewModelTest, PressDragReleaseSetMarkerAndSelectionOnEveryChannel)
{
    const MouseResult moved = m_view.TrackMouseMove(550, 10);
    ASSERT_TRUE(moved.status && moved.status->values);
    EXPECT_EQ(moved.status->values->size(), 3u);
    EXPECT_EQ(m_view.m_rNewCursor, (Rect{0, 550, 255, 551}));

    const MouseResult pressed = m_view.DoOnLButtonDown(250, 120);
    EXPECT_EQ(m_view.m_nChannelCliked, 1);
    EXPECT_DOUBLE_EQ(pressed.status->durationMs.value(), 0.0);
    EXPECT_TRUE(m_view.TrackMouseDragged(20, 120).status == std::nullopt); // left of the margin

    const MouseResult dragged = m_view.TrackMouseDragged(450, 120);
    EXPECT_DOUBLE_EQ(dragged.status->durationMs.value(), 200.0);
    EXPECT_DOUBLE_EQ(dragged.status->cursorTimeMs.value(), 400.0);
    ASSERT_TRUE(dragged.status->values.has_value());
    EXPECT_EQ(dragged.status->values->size(), 3u);
    EXPECT_EQ(m_view.m_rSelection.left, 250);
    EXPECT_EQ(m_view.m_rSelection.right, 450);
    m_view.DoOnLButtonUp(450, 120);
    expectEveryChannel([](const Channels& c, double perMs) {
        EXPECT_DOUBLE_EQ(c.m_dDurationStartTime, 200.0);
        EXPECT_DOUBLE_EQ(c.m_dDurationStopFile, 400 * perMs);
        EXPECT_DOUBLE_EQ(c.m_dMarkerTime, 200.0);
    });
    EXPECT_TRUE(m_document.m_bHaveSelection);
    EXPECT_FALSE(m_view.m_bHaveMarker);
    EXPECT_EQ(m_view.m_nChannelCliked, -1);

    // A press inside the selection removes it and sets the marker, drawn
    // and usable at once; the channels follow the release point.
    m_view.DoOnLButtonDown(300, 20);
    m_view.DoOnLButtonUp(320, 20);
    EXPECT_FALSE(m_view.m_bHaveSelection || m_document.m_bHaveSelection);
    EXPECT_TRUE(m_view.m_bHaveMarker && m_document.m_bHaveMarker);
    EXPECT_EQ(m_view.m_rMarker.left, 320);
    expectEveryChannel([](const Channels& c, double) {
        EXPECT_DOUBLE_EQ(c.m_dMarkerTime, 270.0);
        EXPECT_DOUBLE_EQ(c.m_dCursorTime, 270.0);
        EXPECT_DOUBLE_EQ(c.m_dDurationTime, 0.0);
    });

    m_view.DoOnLButtonDown(600, 200);
    m_view.DoOnLButtonUp(600, 200);
    EXPECT_EQ(m_view.m_nChannelCliked, 2);
    EXPECT_TRUE(m_view.m_bHaveMarker && m_document.m_bHaveMarker);
    expectEveryChannel([](const Channels& c, double perMs) {
        EXPECT_DOUBLE_EQ(c.m_dMarkerFileValue, 550 * perMs);
    });
    EXPECT_EQ(m_view.m_rMarker, (Rect{0, 600, 255, 601}));

    m_view.DoOnLButtonDown(300, 102); // the gap between two strips
    EXPECT_EQ(m_view.m_nChannelCliked, -1);
}

TEST_F(MainViewModelTest, OverlayColumnsFollowThePageAndMouseKeepsTheRendering)
{
    // Nothing has placed the cursor yet: no column is shown.
    {
        MainViewModel fresh(m_document);
        EXPECT_LT(fresh.m_rNewCursor.left, 0);
    }
    m_view.m_bRedraw = false;
    m_view.TrackMouseMove(550, 10);
    m_view.DoOnLButtonDown(600, 10); // marker at 550 ms
    m_view.DoOnLButtonUp(600, 10);
    EXPECT_FALSE(m_view.m_bRedraw); // the channels' rendering is unchanged

    // Zoom in to 250..750 ms over 1000 pixels: two pixels per ms.
    m_view.ZoomIn();
    EXPECT_EQ(m_view.m_rMarker, (Rect{0, 650, 255, 651}));
    m_view.ZoomHome();
    EXPECT_EQ(m_view.m_rMarker.left, 600);
    m_document.m_dZoomRange = 100;
    m_view.DoZoomJumpLabel(100); // 50..150 ms: the marker is off the page
    EXPECT_LT(m_view.m_rMarker.left, 0);

    m_view.ZoomHome();
    m_view.DoOnLButtonDown(250, 10);
    m_view.TrackMouseDragged(450, 10);
    m_view.DoOnLButtonUp(450, 10); // selection 200..400 ms
    struct Case {
        const char* name;
        double position, proportion;
        int left, right; // -1: hidden
    };
    const Case cases[] = {
        {"home", 0.0, 1.0, 250, 450},
        {"clipped at the page start", 0.5, 0.5, 50, 350},
        {"after the page", 1.0, 0.5, -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_view.AdjustScrollControl(c.position, c.proportion);
        EXPECT_EQ(m_view.m_rSelection.left, c.left);
        EXPECT_EQ(m_view.m_rSelection.right, c.right);
    }
}

TEST_F(MainViewModelTest, VerticalOffsetStaysWithinTheFrame)
{
    EXPECT_EQ(m_view.maxDeltaY(), 0); // 255 pixels of strips in 400
    m_view.SetupDisplay(1055, 100);
    EXPECT_EQ(m_view.maxDeltaY(), 155);
    const std::pair<int, int> askedAndSet[] = {{1000, 155}, {-5, 0}, {60, 60}};
    for (const auto& [asked, expected] : askedAndSet) {
        m_view.SetDeltaY(asked);
        EXPECT_EQ(m_view.m_nDeltaY, expected);
    }
    m_view.SetupDisplay(1055, 200); // a taller client shrinks the range
    EXPECT_EQ(m_view.m_nDeltaY, 55);
}

TEST_F(MainViewModelTest, RecordingPressOnlyStopsAndTimesMoveEveryChannel)
{
    m_view.m_bRecording = true;
    EXPECT_TRUE(m_view.DoOnLButtonDown(700, 10).stopRecording);
    EXPECT_DOUBLE_EQ(channel(0).m_dMarkerTime, 0.0);
    m_view.m_bRecording = false;

    m_view.DoOnLButtonDown(125.0, 0, false);
    m_view.DoOnLButtonUp(125.0, 0, false);
    expectEveryChannel([](const Channels& c, double) { EXPECT_DOUBLE_EQ(c.m_dMarkerTime, 125.0); });
    EXPECT_EQ(m_view.m_rMarker.left, 175);
}

TEST_F(MainViewModelTest, LabelModeAddsOpensAndMovesLabels)
{
    m_view.LabelMode();
    m_view.DoOnLButtonDown(350, 150);
    const MouseResult released = m_view.DoOnLButtonUp(350, 150);
    ASSERT_EQ(released.labelDialog.kind, LabelDialogRequest::Kind::NewLabel);
    EXPECT_EQ(released.labelDialog.channel, 1);

    LabelTransfer record;
    record.text = "ah";
    record.rect = Rect{0, 0, 14, 40};
    ASSERT_TRUE(m_view.AddLabel(record, released.labelDialog.point));
    ASSERT_EQ(channel(1).m_nLabelCount, 1);
    EXPECT_DOUBLE_EQ(channel(1).m_pArrayLabels[0].dTime, 300.0);

    // Pressed and released in place: the dialog opens for that label.
    m_view.DoOnLButtonDown(355, 155);
    ASSERT_TRUE(m_view.m_bLabelClicked);
    EXPECT_EQ(m_view.m_rectTracking, (Rect{150, 350, 164, 390}));
    EXPECT_FALSE(m_view.TrackMouseDragged(355, 240).redraw); // would leave the strip
    const MouseResult opened = m_view.DoOnLButtonUp(355, 240);
    EXPECT_EQ(opened.labelDialog.kind, LabelDialogRequest::Kind::ExistingLabel);

    const int changes = m_document.changeCount();
    m_view.DoOnLButtonDown(355, 155);
    m_view.TrackMouseDragged(455, 160);
    EXPECT_EQ(m_view.m_rectTracking, (Rect{155, 450, 169, 490}));
    EXPECT_EQ(m_view.DoOnLButtonUp(455, 160).labelDialog.kind, LabelDialogRequest::Kind::None);
    const Labels& label = channel(1).m_pArrayLabels[0];
    EXPECT_DOUBLE_EQ(label.dTime, 400.0);
    EXPECT_DOUBLE_EQ(label.dVerticalFactor, 50.0 / 80.0);
    EXPECT_EQ(label._deltaShift, PointD{});
    EXPECT_GT(m_document.changeCount(), changes);

    m_view.DoOnLButtonDown(455, 160);
    m_view.DoOnLButtonUp(455, 160);
    EXPECT_TRUE(m_view.RemoveLabel());
    EXPECT_EQ(channel(1).m_nLabelCount, 0);
    EXPECT_FALSE(m_view.RemoveLabel());
}

TEST_F(MainViewModelTest, CommandEnablingAndTitles)
{
    const MenuContext noLog;
    const MenuContext log{true, false};
    struct Case {
        const char* command;
        const char* state; // what the view and document hold
        const MenuContext& context;
        bool enabled;
    };
    const Case cases[] = {
        {"_ZoomIn:", "empty", noLog, false},      {"_ZoomIn:", "data", noLog, true},
        {"_ZoomCursor:", "data", noLog, false},   {"_ZoomCursor:", "marker", noLog, true},
        {"_ZoomSelection:", "marker", noLog, false}, {"_ZoomSelection:", "selection", noLog, true},
        {"_EditPaste:", "empty", noLog, false},
        {"_LogMarker:", "marker", noLog, false},  {"_LogMarker:", "marker", log, true},
        {"_LogEntereggall:", "data", log, false},
        {"_LogEntereggall:", "egg", log, true},   {"_EggAnalysisall:", "badegg", noLog, false},
        {"_ChannelsSetfor:", "marker", noLog, true}, {"_ChannelsSetfor:", "selection", noLog, false},
        {"_Record:", "data", noLog, false},       {"_EditUndo:", "data", noLog, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.command) + " with " + c.state);
        test::ScriptedPrompts prompts;
        MyDocument document(prompts);
        MainViewModel view(document);
        const std::string state = c.state;
        if (state != "empty") {
            document.m_nNumofChannels = 3;
            document.m_bHaveData = true;
            document.m_bNewFile = false;
            test::loadChannel(document.getChannel(0), signals::tone(100, 11025, 100), 11025);
            view.SetupDisplay(1055, 400);
        }
        if (state == "marker") {
            view.DoOnLButtonDown(100, 10);
            view.DoOnLButtonUp(100, 10);
        } else if (state == "selection") {
            view.DoOnLButtonDown(100, 10);
            view.TrackMouseDragged(120, 10);
            view.DoOnLButtonUp(120, 10);
        } else if (state == "egg" || state == "badegg") {
            document.m_nEGGChannelIndex = state == "egg" ? 1 : 7;
        }
        EXPECT_EQ(view.validateMenuItem(c.command, c.context), c.enabled);
    }

    EXPECT_EQ(m_view.menuTitle("_LabelMode:"), "Enable Label Mode");
    m_view.LabelMode();
    EXPECT_EQ(m_view.menuTitle("_LabelMode:"), "Disable Label Mode");
    EXPECT_EQ(m_view.menuTitle("_EGGChannelSelect:"), "Assign channel for EGG: None");
    m_document.m_nEGGChannelIndex = 1;
    EXPECT_EQ(m_view.menuTitle("_EGGChannelSelect:"), "Assign channel for EGG: EGG");
    EXPECT_EQ(m_view.menuTitle("_ChannelsSetfor:"), "Set Reference only for: none selected");
    m_view.DoOnLButtonDown(300, 200);
    EXPECT_EQ(m_view.menuTitle("_ChannelsSetfor:"), "Set Reference only for: Flow");
}

} // namespace
} // namespace phonaxis
