#include "TestFiles.h"
#include "document/MyDocument.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>

#include <unistd.h>

namespace phonaxis {
namespace {

std::uint32_t u32At(const Bytes& b, std::size_t at)
{
    return std::uint32_t{b[at]} | (std::uint32_t{b[at + 1]} << 8) |
           (std::uint32_t{b[at + 2]} << 16) | (std::uint32_t{b[at + 3]} << 24);
}

float floatAt(const Bytes& b, std::size_t at)
{
    return std::bit_cast<float>(u32At(b, at));
}

class WavWriter : public ::testing::Test {
protected:
    test::ScriptedPrompts prompts;
    AppSettings settings;
    MyDocument doc{prompts, settings};

    // Fills channel `index` with `length` distinct samples at `rate`.
    void fill(int index, std::size_t length, double rate)
    {
        Channels& ch = doc.getChannel(index);
        ASSERT_TRUE(ch.m_hData.allocate(length + Channels::kSlackFloats));
        for (std::size_t i = 0; i < length; ++i) {
            ch.m_hData[i] = static_cast<float>(index + 1) * 0.001f * static_cast<float>(i) - 0.5f;
        }
        ch.m_dwFileLength = static_cast<double>(length);
        ch.m_dSampleRate = rate;
        doc.m_nNumofChannels = std::max(doc.m_nNumofChannels, index + 1);
    }
};

TEST_F(WavWriter, TwoChannelHeaderIsByteExact)
{
    fill(0, 1000, 22050.0);
    fill(1, 1000, 22050.7);
    const auto bytes = doc.Save_WAVE_FileType_float(false, -1, 2, false);
    ASSERT_TRUE(bytes);
    ASSERT_EQ(bytes->size(), 48u + 8000u);
    const std::uint8_t header[48] = {
        'R',  'I',  'F', 'F', 0x68, 0x1F, 0,    0, // 40 + 8000
        'W',  'A',  'V', 'E', 'f',  'm',  't',  ' ',
        20,   0,    0,   0,   3,    0,    2,    0, // fmt size, float, 2 channels
        0x22, 0x56, 0,   0,   0x10, 0xB1, 0x02, 0, // 22050, byte rate 176400
        8,    0,    32,  0,   0,    0,    0,    0, // block align, bits, extension
        'd',  'a',  't', 'a', 0x40, 0x1F, 0,    0, // data size 8000
    };
    EXPECT_EQ(std::memcmp(bytes->data(), header, sizeof header), 0);
    for (std::size_t f : {0u, 1u, 500u, 999u}) {
        EXPECT_EQ(floatAt(*bytes, 48 + f * 8), doc.getChannel(0).m_hData[f]);
        EXPECT_EQ(floatAt(*bytes, 48 + f * 8 + 4), doc.getChannel(1).m_hData[f]);
    }
    EXPECT_TRUE(prompts.alerts.empty());
}

TEST_F(WavWriter, SelectionBoundsAreClampedToTheChannel)
{
    for (int c = 0; c < 3; ++c) {
        fill(c, 1000, 16000.0);
    }
    struct Case {
        double start, stop;
        std::size_t first, frames;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {100.0, 200.0, 100, 100},  {100.9, 200.9, 100, 100}, {-50.0, 10.0, 0, 10},
        {900.0, 5000.0, 900, 100}, {300.0, 200.0, 300, 0},   {nan, nan, 0, 0},
        {2000.0, 3000.0, 1000, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.start << ".." << c.stop);
        Channels& ch = doc.getChannel(2);
        ch.m_dDurationStartFile = c.start;
        ch.m_dDurationStopFile = c.stop;
        const auto bytes = doc.Save_WAVE_FileType_float(true, 2, 1, true);
        ASSERT_TRUE(bytes);
        ASSERT_EQ(bytes->size(), 48 + c.frames * 4);
        EXPECT_EQ(u32At(*bytes, 44), c.frames * 4);
        EXPECT_EQ(bytes->at(22), 1);
        for (std::size_t f = 0; f < c.frames; ++f) {
            ASSERT_EQ(floatAt(*bytes, 48 + f * 4), ch.m_hData[c.first + f]);
        }
    }
}

TEST_F(WavWriter, MissingSamplesOfAShortChannelAreZero)
{
    fill(0, 10, 8000.0);
    fill(1, 4, 8000.0);
    doc.getChannel(1).m_hData.allocate(2); // holds fewer samples than it claims
    const auto bytes = doc.Save_WAVE_FileType_float(false, -1, 2, false);
    ASSERT_TRUE(bytes);
    ASSERT_EQ(bytes->size(), 48u + 80u);
    for (std::size_t f = 2; f < 10; ++f) {
        EXPECT_EQ(floatAt(*bytes, 48 + f * 8 + 4), 0.0f);
    }
}

// A WAV file of all channels holds channel 0's frames (its selection): a
// channel holding samples of its own range outside them is named as cut; a
// shorter one, padded with zeros, loses nothing.
TEST_F(WavWriter, ChannelsAWavFileWouldCutAreNamed)
{
    const struct {
        const char* what;
        std::size_t lengths[3];
        bool selection;
        double stop[3]; // selection stops, from 10 on
        std::vector<int> cut;
    } cases[] = {
        {"equal", {100, 100, 100}, false, {}, {}},
        {"shorter", {100, 60, 99}, false, {}, {}},
        {"longer", {50, 100, 50}, false, {}, {1}},
        {"two longer", {50, 51, 100}, false, {}, {1, 2}},
        {"selection inside", {50, 100, 100}, true, {40, 40, 40}, {}},
        {"selection past channel 0", {50, 100, 100}, true, {50, 50, 80}, {2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        doc.Initilize();
        for (int i = 0; i < 3; ++i) {
            fill(i, c.lengths[i], 8000.0);
            doc.getChannel(i).m_dDurationStartFile = 10.0;
            doc.getChannel(i).m_dDurationStopFile = c.stop[i];
        }
        EXPECT_EQ(doc.wavCutChannels(c.selection), c.cut);
    }
}

TEST_F(WavWriter, RefusalsWriteNothing)
{
    fill(0, 100, 22050.0);
    fill(1, 100, 44100.0);
    EXPECT_FALSE(doc.Save_WAVE_FileType_float(false, -1, 2, false));
    ASSERT_EQ(prompts.alerts.size(), 1u);
    EXPECT_EQ(prompts.alerts[0].title, "Saving Failed.");
    EXPECT_EQ(prompts.alerts[0].message,
              "Only multi-channel data files with the same samplerates can be saved as wav "
              "format.");
    EXPECT_EQ(prompts.alerts[0].defaultButton, "OK");

    // Exporting one of them is fine; channel indices outside the document are not.
    EXPECT_TRUE(doc.Save_WAVE_FileType_float(false, 1, 1, true));
    for (int index : {-2, 2, 19, 20, 1000}) {
        EXPECT_FALSE(doc.Save_WAVE_FileType_float(false, index, 1, true)) << index;
    }
    for (int count : {0, -1, 21}) {
        EXPECT_FALSE(doc.Save_WAVE_FileType_float(false, -1, count, false)) << count;
    }
    EXPECT_EQ(prompts.alerts.size(), 1u);

    // More than the 32-bit sizes can describe.
    doc.getChannel(0).m_dwFileLength = 2.0e9;
    EXPECT_FALSE(doc.Save_WAVE_FileType_float(false, 0, 1, true));
    ASSERT_EQ(prompts.alerts.size(), 2u);
    EXPECT_EQ(prompts.alerts[1].title, "Saving Failed.");
    EXPECT_EQ(prompts.alerts[1].message, "The recording is too long to be saved as a WAV file.");
}

TEST_F(WavWriter, WrittenFilesReadBackBitExactly)
{
    const float edgeValues[] = {0.0f,
                                -0.0f,
                                1.0f,
                                -1.0f,
                                3.5f,
                                1e-40f,
                                std::numeric_limits<float>::max(),
                                std::numeric_limits<float>::infinity()};
    for (int channels : {1, 2, 5}) {
        SCOPED_TRACE(channels);
        test::ScriptedPrompts p;
        AppSettings s;
        MyDocument source(p, s);
        for (int c = 0; c < channels; ++c) {
            Channels& ch = source.getChannel(c);
            ASSERT_TRUE(ch.m_hData.allocate(300 + Channels::kSlackFloats));
            for (std::size_t i = 0; i < 300; ++i) {
                ch.m_hData[i] = i < std::size(edgeValues)
                                    ? edgeValues[i]
                                    : std::sin(0.01f * static_cast<float>(i * (c + 1)));
            }
            ch.m_dwFileLength = 300;
            ch.m_dSampleRate = 48000.9;
        }
        source.m_nNumofChannels = channels;
        const auto bytes = source.Save_WAVE_FileType_float(false, -1, channels, false);
        ASSERT_TRUE(bytes);

        MyDocument copy(p, s);
        ASSERT_TRUE(copy.Read_WAVE_FileType(*bytes));
        ASSERT_EQ(copy.m_nNumofChannels, channels);
        for (int c = 0; c < channels; ++c) {
            const auto& a = source.getChannel(c).m_hData;
            const auto& b = copy.getChannel(c).m_hData;
            EXPECT_EQ(copy.getChannel(c).m_dSampleRate, 48000.0);
            EXPECT_EQ(copy.getChannel(c).m_nResolutionBits, 32);
            ASSERT_EQ(copy.getChannel(c).m_dwFileLength, 300.0);
            EXPECT_EQ(std::memcmp(a.data(), b.data(), 300 * sizeof(float)), 0);
        }
    }
}

// What a WAV file keeps of a channel: all the reader sets, and the samples.
std::string keptState(const Channels& c)
{
    std::ostringstream s;
    s.precision(17);
    s << c.GetTitle() << '|' << c.GetUnit() << '|' << c.m_nChannelType << '|' << c.m_dReference
      << '|' << c.m_dA3Cal << ',' << c.m_dB2Cal << ',' << c.m_dC1Cal << ',' << c.m_dD0Cal << '|'
      << c.m_dGain << '|' << c.m_dFilterRate << '|' << c.m_dSampleRate << '|' << c.m_dwFileLength
      << '|' << c.m_pArrayLabels.size();
    for (const float value : c.samples()) {
        s << ' ' << value;
    }
    return s.str();
}

TEST_F(WavWriter, WhatAWavFileWouldLoseIsNamedAndNothingElseIsLost)
{
    using Change = std::function<void(MyDocument&)>;
    struct Case {
        std::vector<std::string> lost;
        Change change;
    };
    const Case cases[] = {
        {{}, [](MyDocument&) {}},
        {{"labels"},
         [](MyDocument& d) {
             Labels label;
             label.dTime = 10.0;
             label.setText("a");
             d.getChannel(1).Add_Label_Cocoa(label);
         }},
        {{"calibrations"}, [](MyDocument& d) { d.getChannel(1).m_dB2Cal = 0.5; }},
        {{"units"}, [](MyDocument& d) { d.getChannel(0).SetUnit("Pa"); }},
        {{"channel titles"}, [](MyDocument& d) { d.getChannel(1).SetTitle("EGG"); }},
        {{"channel types"}, [](MyDocument& d) { d.getChannel(1).m_nChannelType = 2; }},
        {{"reference levels"}, [](MyDocument& d) { d.getChannel(0).m_dReference = 0.125; }},
        {{"gains"}, [](MyDocument& d) { d.getChannel(1).m_dGain = 10.0; }},
        {{"filter rates"}, [](MyDocument& d) { d.getChannel(0).m_dFilterRate = 4000.0; }},
        {{"channels of different lengths"},
         [](MyDocument& d) { d.getChannel(1).m_dwFileLength = 50; }},
        {{"a fractional sample rate"},
         [](MyDocument& d) {
             for (int c = 0; c < 2; ++c) {
                 d.getChannel(c).m_dSampleRate = 11025.5;
                 d.getChannel(c).m_dFilterRate = 11025.5 / 2.0;
             }
         }},
    };
    testfiles::WavLayout layout;
    layout.channels = 2;
    layout.sampleRate = 11025;
    const auto wav = testfiles::makeWav(layout, testfiles::exactRamp(100, 2));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lost.empty() ? "nothing" : c.lost[0]);
        MyDocument source(prompts, settings);
        ASSERT_TRUE(source.Read_WAVE_FileType(wav));
        c.change(source);
        const auto lost = source.wavDiscards();
        EXPECT_EQ(lost, c.lost);

        // Saved and read back, it is the same exactly when nothing is named.
        const auto bytes = source.Save_WAVE_FileType_float(false, -1, 2, false);
        ASSERT_TRUE(bytes);
        MyDocument back(prompts, settings);
        ASSERT_TRUE(back.Read_WAVE_FileType(*bytes));
        const bool same = keptState(back.getChannel(0)) == keptState(source.getChannel(0)) &&
                          keptState(back.getChannel(1)) == keptState(source.getChannel(1));
        EXPECT_EQ(same, lost.empty());
    }
}

// Runs `command` on a written file; true when it exits with 0 and its output
// contains `expected`.
bool toolAccepts(const std::string& command, const std::string& expected)
{
    const auto out = std::filesystem::temp_directory_path() /
                     ("phonaxis-wav-tool-" + std::to_string(::getpid()) + ".txt");
    const int status = std::system((command + " > " + out.string() + " 2>&1").c_str());
    std::ifstream in(out);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(out);
    if (status != 0 || text.find(expected) == std::string::npos) {
        ADD_FAILURE() << command << " said:\n" << text;
        return false;
    }
    return true;
}

TEST_F(WavWriter, OtherAudioToolsReadTheWrittenFile)
{
    const bool haveSox = std::system("command -v sox > /dev/null 2>&1") == 0;
    const bool haveInfo = std::system("command -v sndfile-info > /dev/null 2>&1") == 0;
    if (!haveSox && !haveInfo) {
        GTEST_SKIP() << "neither sox nor sndfile-info is installed";
    }
    fill(0, 2205, 22050.0);
    fill(1, 2205, 22050.0);
    const auto bytes = doc.Save_WAVE_FileType_float(false, -1, 2, false);
    ASSERT_TRUE(bytes);
    const auto path = std::filesystem::temp_directory_path() /
                      ("phonaxis-written-" + std::to_string(::getpid()) + ".wav");
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes->data()),
                  static_cast<std::streamsize>(bytes->size()));
    }
    if (haveSox) {
        EXPECT_TRUE(toolAccepts("sox --i '" + path.string() + "'", "22050"));
        EXPECT_TRUE(toolAccepts("sox --i -s '" + path.string() + "'", "2205"));
    }
    if (haveInfo) {
        EXPECT_TRUE(toolAccepts("sndfile-info '" + path.string() + "'", "Frames      : 2205"));
    }
    std::filesystem::remove(path);
}

} // namespace
} // namespace phonaxis
