// The scope window's view against a source of the test's own: the strips of
// the enabled channels, a block drawn once and in its channel's strip, the
// layout following the settings, the box and the size, or a message why
// there are no strips.

#include "display/ScopeView.h"
#include "document/AppSettings.h"
#include "hardware/ScopeBlock.h"

#include <QImage>
#include <QPixmap>
#include <QRect>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace phonaxis {
namespace {

// A box whose every frame holds the value of its entry in each slot.
class FakeSource final : public ScopeSource {
public:
    explicit FakeSource(int channels) : channels(channels), block(scope::kBoxFrames * 32) {}

    int channelCount() const override { return channels; }
    std::uint64_t blockCount() const override { return blocks; }
    std::span<const std::uint8_t> newestBlock() const override { return block; }
    void keepStreaming() override { ++keepCalls; }
    void release() override {}

    // A new block: slots 0..3 (the audio) hold entry 0's value, analog slot
    // s entry s - 3's.
    void arrive(const std::vector<std::int16_t>& entryValues)
    {
        for (std::size_t at = 0; at < block.size(); at += 2) {
            const std::size_t slot = (at / 2) % 16;
            const std::size_t entry = slot < 4 ? 0 : slot - 3;
            const auto v = std::uint16_t(entry < entryValues.size() ? entryValues[entry] : 0);
            block[at] = std::uint8_t(v & 0xFF);
            block[at + 1] = std::uint8_t(v >> 8);
        }
        ++blocks;
    }

    int channels;
    std::uint64_t blocks = 5; // blocks streamed before the scope opened
    std::vector<std::uint8_t> block;
    int keepCalls = 0;
};

AppSettings settingsWithout(const std::vector<int>& disabled)
{
    AppSettings settings;
    for (int entry : disabled)
        settings.g_ChannelInfo[std::size_t(entry)].bOnOff = 0;
    return settings;
}

// One strip per enabled channel of the box, filling the view; entries
// beyond the box's channels are enabled by default and get none.
TEST(ScopeView, OneStripPerEnabledChannelInsideTheView)
{
    const struct {
        int boxChannels;
        std::vector<int> disabled;
        int height; // the view is 300 wide
        std::vector<int> entries;
        int stripHeight; // each strip's pitch is stripHeight + 5
    } cases[] = {
        {9, {}, 55 + 9 * 40, {0, 1, 2, 3, 4, 5, 6, 7, 8}, 35},
        {9, {2, 5}, 55 + 7 * 50, {0, 1, 3, 4, 6, 7, 8}, 45},
        {5, {3}, 455, {0, 1, 2, 4}, 95},
        {5, {1, 2, 3, 4}, 400, {0}, 340},
        {2, {0}, 255, {1}, 195},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.boxChannels << " channels, " << c.entries.size());
        const AppSettings settings = settingsWithout(c.disabled);
        FakeSource source(c.boxChannels);
        ScopeView view(&source, settings);
        view.resize(300, c.height);
        view.OnInitialUpdate();
        EXPECT_EQ(view.stripEntries(), c.entries);
        ASSERT_EQ(view.stripRects().size(), c.entries.size());
        for (std::size_t j = 0; j < c.entries.size(); ++j) {
            const int top = 55 + int(j) * (c.stripHeight + 5);
            EXPECT_EQ(view.stripRects()[j], QRect(1, top, 298, c.stripHeight)) << j;
        }
        EXPECT_TRUE(view.message().isEmpty());
        view.cleanup();
    }
}

// A block is drawn once, at the right edge of the strip of the entry it
// belongs to, at its height in the strip, and moves left with the next; a
// tick without a new block leaves the picture alone.
TEST(ScopeView, TicksDrawEachNewBlockInItsStrip)
{
    const AppSettings settings = settingsWithout({1});
    FakeSource source(5);
    ScopeView view(&source, settings);
    view.resize(400, 55 + 4 * 100); // strips of 95 pixels
    view.OnInitialUpdate();
    const QImage blank = view.traceImage();
    view.onTick(); // the block streamed before the scope opened is not drawn
    EXPECT_EQ(view.traceImage(), blank);
    EXPECT_EQ(source.keepCalls, 1);

    // A quarter of full scale up in the audio, a quarter down in entry 2,
    // full scale in entry 3, silence in entry 4.
    source.arrive({8192 * 2, 0, -8192 * 2, 32767, 0});
    view.onTick();
    const QImage first = view.traceImage();
    ASSERT_EQ(view.stripEntries(), (std::vector<int>{0, 2, 3, 4}));
    const int offsets[] = {-(16384 * 95 / 65536), 16384 * 95 / 65536, -(32767 * 95 / 65536), 0};
    const int x = 400 - 3; // inside the newest stretch (400 / 40 columns)
    for (std::size_t j = 0; j < 4; ++j) {
        const int centre = view.stripRects()[j].center().y();
        EXPECT_EQ(first.pixelColor(x, centre + offsets[j]), QColor(Qt::black)) << j;
        EXPECT_TRUE(offsets[j] == 0 || first.pixelColor(x, centre) == QColor(Qt::white)) << j;
    }
    // Nothing is drawn left of the newest stretch but what was shifted.
    EXPECT_EQ(first.pixelColor(200, 55 + 47), QColor(Qt::white));

    view.onTick();
    EXPECT_EQ(view.traceImage(), first);
    source.arrive({0, 0, 0, 0, 0});
    view.onTick();
    // The first block's stretch moved left by the stretch's width.
    const int audio = view.stripRects()[0].center().y();
    EXPECT_EQ(view.traceImage().pixelColor(x - 10 + 1, audio + offsets[0]), QColor(Qt::black));
    view.cleanup();
}

// No box, a box of a kind the scope cannot split, or no enabled channel:
// no strips, a message, and ticks that draw nothing and divide by nothing.
// The layout follows the box, the settings and the size at the next tick.
TEST(ScopeView, FollowsTheBoxTheSettingsAndTheSizeOrSaysWhyItShowsNothing)
{
    AppSettings settings;
    ScopeView without(nullptr, settings);
    without.OnInitialUpdate();
    without.onTick();
    EXPECT_EQ(without.message().toStdString(), "No acquisition box is streaming.");
    without.cleanup();

    FakeSource source(0);
    ScopeView view(&source, settings);
    view.resize(300, 255);
    view.show(); // a shown view is told of its resizing
    view.OnInitialUpdate();
    const struct {
        int boxChannels;
        std::vector<int> off; // of entries 0 and 1
        std::vector<int> entries;
        const char* message;
    } steps[] = {
        {0, {}, {}, "No acquisition box is streaming."},
        {3, {}, {}, "The acquisition box has 3 channels; the scope shows boxes of 9, 5 or 2."},
        {2, {0, 1}, {}, "No channel of the acquisition box is enabled in the record/play settings."},
        {2, {}, {0, 1}, ""},
        {2, {0}, {1}, ""},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.message);
        source.channels = step.boxChannels;
        for (int entry : {0, 1})
            settings.g_ChannelInfo[std::size_t(entry)].bOnOff =
                std::count(step.off.begin(), step.off.end(), entry) == 0;
        source.arrive({1000, 1000, 1000});
        view.onTick();
        EXPECT_EQ(view.stripEntries(), step.entries);
        EXPECT_EQ(view.stripRects().size(), step.entries.size());
        EXPECT_EQ(view.message().toStdString(), step.message);
        EXPECT_TRUE(!step.entries.empty() ||
                    view.traceImage().pixelColor(298, 100) == QColor(Qt::white));
    }
    EXPECT_EQ(view.stripRects()[0], QRect(1, 55, 298, 195));
    view.resize(300, 455);
    EXPECT_EQ(view.stripRects()[0], QRect(1, 55, 298, 395));
    EXPECT_EQ(view.traceImage().size(), QSize(300, 455));
    source.channels = 0; // the box goes
    view.onTick();
    EXPECT_TRUE(view.stripRects().empty());
    view.cleanup();
}

// The time axis and each strip's title and full-scale range, at sizes from
// the smallest view up and channel counts from one strip to nine: every
// text inside the view (a strip's inside its strip), none over another, and
// drawn dark enough to read.
TEST(ScopeView, ScalesAndTitlesStayInsideAndApart)
{
    const struct {
        int boxChannels;
        std::vector<int> disabled;
        QSize size;
        int levelTexts; // per strip: two lines, or one when the strip is low
    } cases[] = {
        {9, {}, {200, 150}, 0}, // strips of 10 pixels: too low for any text
        {9, {}, {250, 300}, 1}, {9, {}, {640, 480}, 2},  {9, {}, {1600, 900}, 2},
        {5, {}, {300, 300}, 2}, {2, {0}, {200, 150}, 2}, {5, {1, 2, 3, 4}, {1600, 900}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.boxChannels << " channels at " << c.size.width()
                                          << " x " << c.size.height());
        const AppSettings settings = settingsWithout(c.disabled);
        FakeSource source(c.boxChannels);
        ScopeView view(&source, settings);
        view.resize(c.size);
        view.OnInitialUpdate();
        const auto& texts = view.scaleTexts();
        const auto count = [&](const QString& part) {
            return std::count_if(texts.begin(), texts.end(),
                                 [&](const auto& t) { return t.text.contains(part); });
        };
        EXPECT_EQ(count("Time (s)"), 1);
        EXPECT_EQ(count("FS"), c.levelTexts * std::ptrdiff_t(view.stripRects().size()));
        // The axis reads from the view's span ago at the left to now at the right.
        EXPECT_EQ(ScopeView::kSpanSeconds, 4.0);
        ASSERT_GE(view.timeTicks().size(), 2u);
        EXPECT_EQ(view.timeTicks().front(), c.size.width() - 1);
        EXPECT_LE(view.timeTicks().back(), 1);
        EXPECT_GE(count("-") - count("-1.0 FS"), 1); // at least one past time labelled
        EXPECT_EQ(
            std::count_if(texts.begin(), texts.end(), [](const auto& t) { return t.text == "0"; }),
            1); // now, at the right edge
        for (std::size_t i = 0; i < texts.size(); ++i) {
            SCOPED_TRACE(texts[i].text.toStdString());
            EXPECT_TRUE(view.rect().contains(texts[i].box));
            for (std::size_t k = i + 1; k < texts.size(); ++k)
                EXPECT_FALSE(texts[i].box.intersects(texts[k].box)) << texts[k].text.toStdString();
            const bool inStrip =
                std::any_of(view.stripRects().begin(), view.stripRects().end(),
                            [&](const QRect& strip) { return strip.contains(texts[i].box); });
            EXPECT_EQ(inStrip, texts[i].box.top() >= ScopeView::kTopBand);
        }
        // Read off the screen: each text has near-black pixels.
        const QImage shown = view.grab().toImage();
        for (const auto& text : texts) {
            int darkest = 255;
            for (int y = text.box.top(); y <= text.box.bottom(); ++y)
                for (int x = text.box.left(); x <= text.box.right(); ++x)
                    darkest = std::min(darkest, qGray(shown.pixel(x, y)));
            EXPECT_LT(darkest, 100) << text.text.toStdString();
        }
        view.cleanup();
    }
}

} // namespace
} // namespace phonaxis
