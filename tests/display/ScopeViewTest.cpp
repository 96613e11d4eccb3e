// The scope window's view against a source of the test's own: the strips
// laid out for the enabled channels of 9- and 5-channel boxes, no strips
// (and a message) without a box or without an enabled channel, a block
// drawn once and in its channel's strip, the layout following the settings,
// the box and the window's size.

#include "display/ScopeView.h"
#include "document/AppSettings.h"
#include "hardware/ScopeBlock.h"

#include <QRect>

#include <gtest/gtest.h>

#include <vector>

namespace phonaxis {
namespace {

// A box whose every frame holds `value(slot)` in each slot.
class FakeSource final : public ScopeSource {
public:
    explicit FakeSource(int channels) : channels(channels), block(scope::kBoxFrames * 32) {}

    int channelCount() const override { return channels; }
    std::uint64_t blockCount() const override { return blocks; }
    std::span<const std::uint8_t> newestBlock() const override { return block; }
    void keepStreaming() override { ++keepCalls; }
    void release() override { ++releases; }

    // Every frame: slots 0..3 (the audio) and each analog slot hold `values`
    // of their entry; a new block arrives.
    void arrive(const std::vector<std::int16_t>& entryValues)
    {
        for (std::size_t f = 0; f < scope::kBoxFrames; ++f) {
            for (std::size_t slot = 0; slot < 16; ++slot) {
                const std::size_t entry = slot < 4 ? 0 : slot - 3;
                const auto v = static_cast<std::uint16_t>(
                    entry < entryValues.size() ? entryValues[entry] : 0);
                block[f * 32 + 2 * slot] = static_cast<std::uint8_t>(v & 0xFF);
                block[f * 32 + 2 * slot + 1] = static_cast<std::uint8_t>(v >> 8);
            }
        }
        ++blocks;
    }

    int channels;
    std::uint64_t blocks = 5; // blocks streamed before the scope opened
    std::vector<std::uint8_t> block;
    int keepCalls = 0;
    int releases = 0;
};

AppSettings settingsWithout(const std::vector<int>& disabled)
{
    AppSettings settings;
    for (int entry : disabled) {
        settings.g_ChannelInfo[static_cast<std::size_t>(entry)].bOnOff = 0;
    }
    return settings;
}

struct LayoutCase {
    const char* name;
    int boxChannels;
    std::vector<int> disabled;
    int height; // the view is 300 wide
    std::vector<int> entries;
    int stripHeight; // each strip's pitch is stripHeight + 5
};

void PrintTo(const LayoutCase& c, std::ostream* os)
{
    *os << c.name;
}

class ScopeLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(ScopeLayout, OneStripPerEnabledChannelInsideTheView)
{
    const LayoutCase& c = GetParam();
    const AppSettings settings = settingsWithout(c.disabled);
    FakeSource source(c.boxChannels);
    ScopeView view(&source, settings);
    view.resize(300, c.height);
    view.OnInitialUpdate();

    EXPECT_EQ(view.stripEntries(), c.entries);
    ASSERT_EQ(view.stripRects().size(), c.entries.size());
    const int pitch = c.stripHeight + 5;
    for (std::size_t j = 0; j < c.entries.size(); ++j) {
        const QRect expected(1, 55 + static_cast<int>(j) * pitch, 298, c.stripHeight);
        EXPECT_EQ(view.stripRects()[j], expected) << "strip " << j;
        // The whole strip lies in the view.
        EXPECT_LE(view.stripRects()[j].y() + view.stripRects()[j].height(), c.height)
            << "strip " << j;
    }
    EXPECT_TRUE(view.message().isEmpty());
    view.cleanup();
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, ScopeLayout,
    ::testing::Values(
        // Entries beyond the box's channels are enabled by default and get
        // no strip.
        LayoutCase{"NineAllEnabled", 9, {}, 55 + 9 * 40, {0, 1, 2, 3, 4, 5, 6, 7, 8}, 35},
        LayoutCase{"NineWithoutTwoAndFive", 9, {2, 5}, 55 + 7 * 50, {0, 1, 3, 4, 6, 7, 8}, 45},
        LayoutCase{"FiveWithoutThree", 5, {3}, 455, {0, 1, 2, 4}, 95},
        LayoutCase{"FiveAudioOnly", 5, {1, 2, 3, 4}, 400, {0}, 340},
        LayoutCase{"TwoWithoutAudio", 2, {0}, 255, {1}, 195}),
    [](const ::testing::TestParamInfo<LayoutCase>& test) { return std::string(test.param.name); });

// No box, a box of a kind the scope cannot split, or no enabled channel:
// no strips, a message, and ticks that draw nothing and divide by nothing.
TEST(ScopeView, WithoutStripsItSaysWhy)
{
    struct Case {
        int boxChannels; // -1: no source at all
        std::vector<int> disabled;
        const char* message;
    };
    const std::vector<Case> cases{
        {-1, {}, "No acquisition box is streaming."},
        {0, {}, "No acquisition box is streaming."},
        {3, {}, "The acquisition box has 3 channels; the scope shows boxes of 9, 5 or 2."},
        {9, {0, 1, 2, 3, 4, 5, 6, 7, 8},
         "No channel of the acquisition box is enabled in the record/play settings."},
    };
    for (const Case& c : cases) {
        const AppSettings settings = settingsWithout(c.disabled);
        FakeSource source(c.boxChannels);
        ScopeView view(c.boxChannels < 0 ? nullptr : &source, settings);
        view.resize(300, 200);
        view.OnInitialUpdate();
        source.arrive({1000, 1000, 1000});
        view.onTick();
        EXPECT_TRUE(view.stripRects().empty()) << c.boxChannels;
        EXPECT_EQ(view.message().toStdString(), c.message) << c.boxChannels;
        EXPECT_EQ(view.traceImage().pixelColor(298, 100), QColor(Qt::white)) << c.boxChannels;
        view.cleanup();
    }
}

// A block is drawn once, at the right edge of the strip of the entry it
// belongs to, at its height in the strip; a tick without a new block
// leaves the picture alone.
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
    ASSERT_EQ(view.channelData().size(), 5u);
    EXPECT_EQ(view.channelData()[0].size(), 1376u);
    EXPECT_EQ(view.channelData()[2].front(), -16384);
    const QImage first = view.traceImage();
    ASSERT_NE(first, blank);

    const std::vector<int> expectedEntries{0, 2, 3, 4};
    ASSERT_EQ(view.stripEntries(), expectedEntries);
    const std::vector<int> offsets{-(16384 * 95 / 65536), 16384 * 95 / 65536,
                                   -(32767 * 95 / 65536), 0};
    const int x = 400 - 3; // inside the newest stretch (400 / 40 columns)
    for (std::size_t j = 0; j < offsets.size(); ++j) {
        const QRect& strip = view.stripRects()[j];
        const int centre = strip.top() + strip.height() / 2;
        EXPECT_EQ(first.pixelColor(x, centre + offsets[j]), QColor(Qt::black)) << "strip " << j;
        if (offsets[j] != 0) {
            EXPECT_EQ(first.pixelColor(x, centre), QColor(Qt::white)) << "strip " << j;
        }
    }
    // Nothing is drawn left of the newest stretch but what was shifted.
    EXPECT_EQ(first.pixelColor(200, 55 + 47), QColor(Qt::white));

    view.onTick();
    EXPECT_EQ(view.traceImage(), first);
    source.arrive({0, 0, 0, 0, 0});
    view.onTick();
    const QImage second = view.traceImage();
    EXPECT_NE(second, first);
    // The first block's stretch moved left by the stretch's width.
    const QRect& audio = view.stripRects()[0];
    EXPECT_EQ(second.pixelColor(x - 10 + 1, audio.top() + audio.height() / 2 + offsets[0]),
              QColor(Qt::black));
    view.cleanup();
}

// Switching a channel off while the scope runs gives the strips a new
// layout at the next tick; so does a box that arrives.
TEST(ScopeView, FollowsTheSettingsAndTheBox)
{
    AppSettings settings;
    FakeSource source(0);
    ScopeView view(&source, settings);
    view.resize(300, 255);
    view.show(); // a shown view is told of its resizing
    view.OnInitialUpdate();
    EXPECT_TRUE(view.stripRects().empty());

    source.channels = 2;
    view.onTick();
    EXPECT_EQ(view.stripRects().size(), 2u);
    EXPECT_TRUE(view.message().isEmpty());

    settings.g_ChannelInfo[0].bOnOff = 0;
    view.onTick();
    ASSERT_EQ(view.stripEntries(), std::vector<int>{1});
    EXPECT_EQ(view.stripRects()[0], QRect(1, 55, 298, 195));

    view.resize(300, 455);
    EXPECT_EQ(view.stripRects()[0], QRect(1, 55, 298, 395));
    EXPECT_EQ(view.traceImage().size(), QSize(300, 455));
    view.cleanup();
}

} // namespace
} // namespace phonaxis
