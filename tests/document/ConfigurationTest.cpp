#include "document/Configuration.h"

#include "document/AppSettings.h"
#include "document/MyDocument.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <set>
#include <type_traits>
#include <unistd.h>
#include <variant>
#include <vector>

namespace phonaxis {
namespace {

using test::ScriptedPrompts;
namespace fs = std::filesystem;
namespace off = ConfigOffset;

std::vector<std::uint8_t> readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Little-endian fields decoded straight from file bytes.
std::int32_t int32At(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return std::int32_t(std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 |
                        std::uint32_t(b[at + 2]) << 16 | std::uint32_t(b[at + 3]) << 24);
}
double doubleAt(const std::vector<std::uint8_t>& b, std::size_t at)
{
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) {
        bits = bits << 8 | b[at + std::size_t(i)];
    }
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}
std::string textAt(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return std::string(reinterpret_cast<const char*>(b.data() + at));
}

// Writes the low `width` bytes of `bits` little-endian at `at`.
void putLittleEndian(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t bits,
                     std::size_t width)
{
    for (std::size_t i = 0; i < width; ++i) {
        b[at + i] = std::uint8_t(bits >> (8 * i));
    }
}

// The first position at which two records differ (their size when none).
std::size_t firstDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b)
{
    return std::size_t(std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin());
}

// A setting of `Owner` at its offset (channel k's at offset + k·width) with a
// value unlike every default that the analyses accept (value + k per channel).
template <typename Owner> struct Slot {
    std::size_t offset;
    std::variant<std::int32_t Owner::*, bool Owner::*, double Owner::*> member;
    double value = 0.0;
    bool newDocument = true; // a new document takes it from the application configuration
    bool truncated = false;

    bool isBool() const { return std::holds_alternative<bool Owner::*>(member); }
    bool isDouble() const { return std::holds_alternative<double Owner::*>(member) && !truncated; }
    std::size_t width() const { return isDouble() ? 8 : 4; }
    double in(const Owner& owner) const
    {
        return std::visit([&](auto m) { return double(owner.*m); }, member);
    }
    void set(Owner& owner, double v) const
    {
        std::visit([&](auto m) { owner.*m = static_cast<std::decay_t<decltype(owner.*m)>>(v); },
                   member);
    }
    // Puts `v` at `at` as the record holds it.
    void put(std::vector<std::uint8_t>& b, std::size_t at, double v) const
    {
        isDouble() ? putLittleEndian(b, at, std::bit_cast<std::uint64_t>(v), 8)
                   : putLittleEndian(b, at, std::uint32_t(std::int32_t(std::trunc(v))), 4);
    }
};

using D = DocumentFields;
using DocumentSlot = Slot<D>;
using ChannelSlot = Slot<Channels>;
constexpr bool kNotNew = false; // a new document does not take it
constexpr bool kTruncated = true;

// Every document-wide setting at the offset the file layout gives it.
const DocumentSlot kDocumentSlots[] = {
    {1032, &D::m_dAnalysisSampleRate, 16000.0, kNotNew},
    {1040, &D::m_dwAnalysisFileLength, 4321.0, kNotNew},
    {1048, &D::m_dAnalysisLengthMS, 270.0625, kNotNew},
    {1056, &D::m_dWidth, 7.25},
    {1064, &D::m_dHeight, 5.5},
    {1072, &D::m_bTrackMouse, 0, kNotNew}, // a new document turns it on instead
    {1076, &D::m_bDrawTimeGrid},
    {1080, &D::m_nTimeGridSpacing, 250},
    {1084, &D::m_bColor},
    {1088, &D::m_bInches},
    {1092, &D::m_dZoomRange, 2345.0, true, kTruncated},
    {1096, &D::m_nFFTWindowLengthSelector, 5},
    {1100, &D::m_nFFTWindowLength, 1024},
    {1104, &D::m_nFFTAppliedWindowLength, 41},
    {1108, &D::m_nFFTAverageStepSize, 17},
    {1112, &D::m_nFFTfrequencyRange, 3000},
    {1116, &D::m_bFFTAbsolute},
    {1120, &D::m_nFFTAbsoluteRange, 95},
    {1124, &D::m_bFFTInches},
    {1128, &D::m_dFFTWidth, 8.125},
    {1136, &D::m_dFFTHeight, 3.375},
    {1144, &D::m_bFFTColor},
    {1148, &D::m_bFFTDrawFrequencyGrid},
    {1152, &D::m_nFFTFrequencyGrid, 750},
    {1156, &D::m_bFFTDrawDBGrid},
    {1160, &D::m_nFFTDBGrid, 15},
    {1164, &D::m_nLPCNumberofCoefficients, 22},
    {1168, &D::m_bFFTDrawLPC},
    {1172, &D::m_nFFTFrameInterval, 25, kNotNew},
    {1496, &D::m_nSpecWindowLength, 512},
    {1500, &D::m_nSpecWindowLengthSelector, 4},
    {1504, &D::m_nSpecfrequencyRange, 4500},
    {1508, &D::m_nSpecDynamicRange, 61},
    {1512, &D::m_dPreEmphasis, 0.875},
    {1520, &D::m_bSpecDrawFormantTracking},
    {1524, &D::m_nSpecLPCNumberofCoefficients, 18},
    {1528, &D::m_bSpecInches},
    {1536, &D::m_dSpecWidth, 9.5},
    {1544, &D::m_dSpecHeight, 2.75},
    {1552, &D::m_bSpecDrawAudio},
    {1556, &D::m_bSpecDrawIntensity},
    {1560, &D::m_bSpecDrawLabels},
    {1564, &D::m_bSpecDrawFrequencyGrid},
    {1568, &D::m_nSpecFrequencyGrid, 1250},
    {1572, &D::m_bSpecDrawTimeGrid},
    {1576, &D::m_nSpecTimeGrid, 125},
    {1584, &D::m_dPitchWindowLength, 42.5},
    {1592, &D::m_dPitchStepSize, 7.5},
    {1600, &D::m_dCalculationHigh, 612.0},
    {1608, &D::m_dCalculationLow, 71.0},
    {1616, &D::m_nDisplayHigh, 640},
    {1620, &D::m_nDisplayLow, 64},
    {1624, &D::m_bPitchDrawFreqGrid},
    {1628, &D::m_nPitchFreqGrid, 35},
    {1632, &D::m_bPitchDrawTimeGrid},
    {1636, &D::m_nPitchTimeGrid, 333},
    {1640, &D::m_bCepstral, 0, kNotNew},
    {1648, &D::m_dTrackingThreshHold, 1.625},
    {1656, &D::m_dFreqDeviation, 87.5},
    {1664, &D::m_dTrackingThreshHold_AutoCorrolation, 2.125, kNotNew},
    {1672, &D::m_dFreqDeviation_AutoCorrolation, 66.5, kNotNew},
    {1680, &D::m_dPitchWidth, 6.625},
    {1688, &D::m_dPitchHeigth, 4.875},
    {1696, &D::m_bPitchDrawAudio},
    {1700, &D::m_bPitchDrawIntensity},
    {1704, &D::m_bPitchDrawLabels},
    {1708, &D::m_bPitchColor},
    {1712, &D::m_bPitchInches},
    {1716, &D::m_nGenericHeaderSize, 44, kNotNew},
    {1720, &D::m_nGenericSampleRate, 12000, kNotNew},
    {1724, &D::m_bGenericFileType, 0, kNotNew},
    {1728, &D::m_bGenericResolution, 0, kNotNew},
    {1732, &D::m_bGenericByteOrder, 0, kNotNew},
    {2760, &D::m_dLogStepSize, 2.5},
};
// A user configuration carries the settings up to here, not the log step.
constexpr std::size_t kUserDocumentLast = 1732;

// The per-channel settings of channels 0..15.
const ChannelSlot kChannelSlots[] = {
    {1176, &Channels::m_dIntensityWindowLengthMS, 40.0, true, kTruncated},
    {1240, &Channels::m_dIntensityStepSizeMS, 60.0, true, kTruncated},
    {1304, &Channels::m_bIntensityRelative},
    {1368, &Channels::m_bSmoothDo},
    {1432, &Channels::m_dSmoothNumOfPoints, 80.0, true, kTruncated},
    {1736, &Channels::m_dA3Cal, -9.5},
    {1864, &Channels::m_dB2Cal, 2.25},
    {1992, &Channels::m_dC1Cal, 3.5},
    {2120, &Channels::m_dD0Cal, -4.75},
};
constexpr std::size_t kUnitText = 2248; // char[16][32]
constexpr int kRecordChannels = 16;

class ConfigurationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() /
                ("phonaxis-cfg-" +
                 std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                 "-" + std::to_string(::getpid()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        m_settings.m_strConfigFolder = (m_dir / "config").string();
    }
    void TearDown() override { fs::remove_all(m_dir); }

    fs::path appConfig() const { return m_settings.configPath(); }

    // A current-version application record with `edit` applied, on disk.
    void writeAppConfig(const std::function<void(Configuration&)>& edit)
    {
        Configuration record = applicationDefaults(AppSettings{});
        edit(record);
        fs::create_directories(m_settings.m_strConfigFolder);
        const auto bytes = record.bytes();
        writeFile(appConfig(), {bytes.begin(), bytes.end()});
    }

    ScriptedPrompts m_prompts;
    AppSettings m_settings;
    fs::path m_dir;
};

// A text field holds at most its width less one byte, its terminator's:
// written so, and read so from a file whose field fills its whole width (a
// damaged or foreign record).
TEST(ConfigurationText, AFieldHoldsItsWidthLessItsTerminator)
{
    Configuration r;
    r.putText(off::kUnits, 32, std::string(40, 'x'));
    EXPECT_EQ(r.getText(off::kUnits, 32), std::string(31, 'x'));
    std::vector<std::uint8_t> bytes(r.bytes().begin(), r.bytes().end());
    std::fill_n(bytes.begin() + off::kUnits, 32, std::uint8_t{'y'});
    const std::optional<Configuration> full = Configuration::fromBytes(bytes);
    ASSERT_TRUE(full);
    EXPECT_EQ(full->getText(off::kUnits, 32), std::string(31, 'y'));
}

TEST_F(ConfigurationTest, LaunchWritesTheDefaultRecordAtItsOffsets)
{
    using Expected = std::variant<std::int32_t, double, std::string>;
    struct Case {
        std::size_t offset;
        Expected value;
    };
    const Case cases[] = {
        {0, std::string("1904")},      {16, 0},
        {20, std::string("Mic")},      {36, std::string("Computer")},
        {72, 1},                       {140 + 4 * 16, 11025},
        {208, 500},                    {208 + 4, 150},
        {276, 200},                    {276 + 4 * 15, 1},
        {344 + 16 * 15, std::string("Mask")}, {600, 0},
        {1032, 11025.0},               {1040, 0.0},
        {1056, 6.0},                   {1072, 1},
        {1084, 1},                     {1092, 1000},
        {1100, 256},                   {1104, 23},
        {1112, 5000},                  {1164, 14},
        {1172, 10},                    {1176 + 4 * 15, 30},
        {1240, 10},                    {1432, 5},
        {1500, 1},                     {1504, 5000},
        {1512, 0.98},                  {1524, 14},
        {1600, 500.0},                 {1720, 0},
        {1736, 0.0},                   {1992 + 8 * 15, 1.0},
        {2248, std::string("normalized")}, {2248 + 32 * 15, std::string("normalized")},
        {2760, 10.0},                  {2768, 0},
    };
    ASSERT_TRUE(ReadConfig(m_settings));
    const auto bytes = readFile(appConfig());
    ASSERT_EQ(bytes.size(), 2912u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        if (const auto* i = std::get_if<std::int32_t>(&c.value)) {
            EXPECT_EQ(int32At(bytes, c.offset), *i);
        } else if (const auto* d = std::get_if<double>(&c.value)) {
            EXPECT_EQ(doubleAt(bytes, c.offset), *d);
        } else {
            EXPECT_EQ(textAt(bytes, c.offset), std::get<std::string>(c.value));
        }
    }
}

// Each setting alone is written at its own offset and nowhere else, and read
// from there by a user configuration and (if it takes it) a new document.
TEST_F(ConfigurationTest, EverySettingIsWrittenAndReadAtItsOwnOffset)
{
    using Bytes = std::vector<std::uint8_t>;
    MyDocument document(m_prompts, m_settings);
    const MyDocument pristine(m_prompts, m_settings);
    const auto written = [&document] {
        auto record = Configuration::fromBytes(Bytes(Configuration::kSize, 0xFF));
        putDocumentSettings(*record, document, 0, Configuration::kSize - 1);
        return Bytes(record->bytes().begin(), record->bytes().end());
    };
    const Bytes before = written();
    const auto read = [&](const Bytes& bytes, const auto& check) {
        const auto record = Configuration::fromBytes(bytes);
        ASSERT_TRUE(record.has_value());
        MyDocument user(m_prompts, m_settings);
        AppSettings settings;
        applyUserConfiguration(*record, user, settings);
        MyDocument fresh(m_prompts, m_settings);
        applyNewDocumentSettings(*record, fresh);
        check(user, fresh);
    };
    // `ownerOf` finds the setting's owner in a document.
    const auto check = [&](const auto& slot, const auto& ownerOf, std::size_t offset,
                           double value, bool userCarries) {
        SCOPED_TRACE(offset);
        auto& owner = ownerOf(document);
        const double old = slot.in(owner);
        for (const std::uint8_t background : {0x00, 0xFF}) {
            // A boolean stands out from the background; a truncated setting
            // gets a fraction the record drops.
            const double v = slot.isBool() ? double(background == 0)
                                           : value + (slot.truncated ? 0.75 : 0.0);
            slot.set(owner, v);
            Bytes expected = before;
            slot.put(expected, offset, v);
            EXPECT_EQ(firstDifference(written(), expected), Configuration::kSize);
            slot.set(owner, old);

            Bytes bytes(Configuration::kSize, background);
            slot.put(bytes, offset, v);
            const double held = slot.isDouble() ? v : std::trunc(v);
            const double unchanged = slot.in(ownerOf(pristine));
            read(bytes, [&](const MyDocument& user, const MyDocument& fresh) {
                EXPECT_EQ(slot.in(ownerOf(user)), userCarries ? held : unchanged);
                EXPECT_EQ(slot.in(ownerOf(fresh)), slot.newDocument ? held : unchanged);
            });
        }
    };
    for (const DocumentSlot& slot : kDocumentSlots) {
        check(slot, [](auto& d) -> auto& { return d; }, slot.offset, slot.value,
              slot.offset <= kUserDocumentLast);
    }
    for (int k = 0; k < kRecordChannels; ++k) {
        const auto channel = [k](auto& d) -> auto& { return d.getChannel(k); };
        for (const ChannelSlot& slot : kChannelSlots) {
            check(slot, channel, slot.offset + std::size_t(k) * slot.width(), slot.value + k,
                  true);
        }
        const std::size_t at = kUnitText + 32 * std::size_t(k);
        SCOPED_TRACE(at);
        const std::string unit = "unit " + std::to_string(k);
        Bytes expected = before;
        std::fill_n(expected.begin() + std::ptrdiff_t(at), 32, 0);
        std::copy(unit.begin(), unit.end(), expected.begin() + std::ptrdiff_t(at));
        const std::string old = document.getChannel(k).GetUnit();
        document.getChannel(k).SetUnit(unit);
        EXPECT_EQ(firstDifference(written(), expected), Configuration::kSize);
        document.getChannel(k).SetUnit(old);
        read(expected, [&](const MyDocument& user, const MyDocument& fresh) {
            EXPECT_EQ(user.getChannel(k).GetUnit(), unit);
            EXPECT_EQ(fresh.getChannel(k).GetUnit(), unit);
        });
    }
}

// Process-wide settings are read from and written back to their own offsets,
// at launch and through a user configuration.
TEST_F(ConfigurationTest, ProcessWideSettingsKeepTheirOffsets)
{
    using A = AppSettings;
    std::int32_t A::*const scope[] = {
        &A::g_nDSPSampleRate,       &A::g_nDSPMonoStereo,       &A::g_nDSPMicLine,
        &A::g_nDSPSampleGain,       &A::g_nDSPSampleGainIndex,  &A::g_nDSPPhantomPwr,
        &A::g_nDSPBalUnbal,         &A::g_nDSPFFTPts,           &A::g_nDSPDisplayDynamicRange,
        &A::g_nDSPDisplayFreqRange, &A::g_nDSPAbsoluteRelative, &A::g_nDSPACCoupled,
        &A::g_nDSPFeedThru,         &A::g_nDSPPlayGainIndex,    &A::g_nDSPPlayGain,
        &A::g_nDSPPlayCount,        &A::g_nDSPPlayHardware,
    };
    constexpr std::size_t kEntries = 17;
    // Distinct values at the scope settings, the window frames (left, top,
    // right, bottom of window w at 856 + 16·w) and the channel table.
    Configuration record = applicationDefaults(AppSettings{});
    const auto number = [&record](std::size_t first, std::size_t count, std::size_t base) {
        for (std::size_t i = 0; i < count; ++i) {
            record.putInt32(first + 4 * i, std::int32_t(base + i));
        }
    };
    number(2768, std::size(scope), 100);
    number(856, 4 * kAppWindowCount, 1000);
    number(140, kEntries, 8000); // sample rates
    number(208, kEntries, 300);  // filter rates
    number(276, kEntries, 400);  // gains
    for (std::size_t k = 0; k < kEntries; ++k) {
        record.putBool(72 + 4 * k, k % 2 == 1);
    }
    const auto same = [&record](const Configuration& other, std::size_t first, std::size_t end) {
        return std::equal(record.bytes().begin() + first, record.bytes().begin() + end,
                          other.bytes().begin() + first);
    };
    const auto checkTable = [&](const AppSettings& s, bool sampleRateTaken) {
        for (std::size_t w = 0; w < kAppWindowCount; ++w) {
            const auto f = std::int32_t(1000 + 4 * w);
            EXPECT_EQ(s.windowRect(AppWindow(w)), (WindowRect{f, f + 1, f + 2, f + 3})) << w;
        }
        for (std::size_t k = 0; k < kEntries; ++k) {
            const ChannelInfo& entry = s.g_ChannelInfo[k];
            EXPECT_EQ(entry.bOnOff, k % 2) << "entry " << k;
            EXPECT_EQ(entry.nSampleRate, sampleRateTaken ? int(8000 + k) : 22050) << "entry " << k;
            EXPECT_EQ(entry.nFilterRate, int(300 + k)) << "entry " << k;
            EXPECT_EQ(entry.nGain, int(400 + k)) << "entry " << k;
        }
    };

    AppSettings launched;
    ASSERT_TRUE(takeLaunchSettings(record.bytes(), launched));
    for (std::size_t i = 0; i < std::size(scope); ++i) {
        EXPECT_EQ(launched.*scope[i], int(100 + i)) << "scope setting " << i;
    }
    checkTable(launched, false);
    const Configuration rewritten = applicationDefaults(launched);
    EXPECT_TRUE(same(rewritten, 72, 140));   // on/off
    EXPECT_TRUE(same(rewritten, 208, 344));  // filter rates, gains
    EXPECT_TRUE(same(rewritten, 856, 1032)); // window frames
    EXPECT_TRUE(same(rewritten, 2768, 2836));

    AppSettings loaded;
    MyDocument document(m_prompts, loaded);
    applyUserConfiguration(record, document, loaded);
    checkTable(loaded, true);
    const Configuration saved = userConfiguration(document, loaded);
    EXPECT_TRUE(same(saved, 72, 344));
    EXPECT_TRUE(same(saved, 856, 1032));
}

// A channel-table rate of 0, below 0 or beyond 1,000,000 Hz in a user's
// record never reaches the table: the entry keeps the rate it had. The
// launch record's rates are never taken at all.
TEST_F(ConfigurationTest, UnusableChannelTableRatesKeepTheEntrysRate)
{
    struct Case {
        std::int32_t stored;
        std::int32_t taken;
    };
    const Case cases[] = {{0, 22050},       {-44100, 22050},   {1000001, 22050},
                          {std::numeric_limits<std::int32_t>::max(), 22050},
                          {std::numeric_limits<std::int32_t>::min(), 22050}, {1, 1},
                          {1000000, 1000000}, {48000, 48000}};
    Configuration record = applicationDefaults(AppSettings{});
    for (std::size_t k = 0; k < std::size(cases); ++k) {
        record.putInt32(off::kChannelSampleRate + 4 * k, cases[k].stored);
    }
    AppSettings loaded;
    MyDocument document(m_prompts, loaded);
    applyUserConfiguration(record, document, loaded);
    AppSettings launched;
    ASSERT_TRUE(takeLaunchSettings(record.bytes(), launched));
    for (std::size_t k = 0; k < std::size(cases); ++k) {
        SCOPED_TRACE(cases[k].stored);
        EXPECT_EQ(loaded.g_ChannelInfo[k].nSampleRate, cases[k].taken);
        EXPECT_EQ(launched.g_ChannelInfo[k].nSampleRate, 22050);
    }
}

TEST_F(ConfigurationTest, LaunchAppliesItsRulesAndRewritesDocumentDefaults)
{
    writeAppConfig([](Configuration& r) {
        r.putText(off::kInputSource, 16, "Line");
        r.putText(off::kPlaySource, 32, "External Hardware");
        r.putText(off::kChannelSource + 16 * 2, 16, "");
        r.putText(off::kChannelSource + 16 * 3, 16, "Panel");
        r.putInt32(off::kChannelSampleRate + 4 * 16, 44100);
        r.putInt32(off::kChannelGain, 0);
        r.putInt32(off::kChannelGain + 4 * 5, -3);
        r.putInt32(off::kChannelGain + 4 * 6, 8);
        r.putInt32(off::kChannelOnOff + 4 * 4, 0x100); // low byte 0: off
        r.putInt32(off::kChannelFilterRate + 4 * 1, 40);
        r.putInt32(off::kWindowRects + 16 * 2 + 4, 77); // spectrogram top
        r.putInt32(off::kDspSettings + 4 * 16, 3);      // g_nDSPPlayHardware
        r.putInt32(off::kRecordingTime, 45);
        r.putDouble(off::kAnalysisSampleRate, 44100.0);
        r.putInt32(off::kFFTWindowLength, 512); // a panel's change of the last run
    });
    ASSERT_TRUE(ReadConfig(m_settings));

    EXPECT_EQ(m_settings.g_strInputSource, "Mic");
    EXPECT_EQ(m_settings.g_strPlaySource, "Computer");
    EXPECT_EQ(m_settings.g_ChannelInfo[2].source(), "Mask");
    EXPECT_EQ(m_settings.g_ChannelInfo[3].source(), "Panel");
    for (std::size_t k = 0; k <= 16; ++k) {
        EXPECT_EQ(m_settings.g_ChannelInfo[k].nSampleRate, 22050) << k;
    }
    EXPECT_EQ(m_settings.g_ChannelInfo[0].nGain, 200);
    EXPECT_EQ(m_settings.g_ChannelInfo[5].nGain, 1);
    EXPECT_EQ(m_settings.g_ChannelInfo[6].nGain, 8);
    EXPECT_EQ(m_settings.g_ChannelInfo[4].bOnOff, 0);
    EXPECT_EQ(m_settings.g_ChannelInfo[1].nFilterRate, 40);
    EXPECT_EQ(m_settings.windowRect(AppWindow::Spectrogram).top, 77);
    EXPECT_EQ(m_settings.g_nDSPPlayHardware, 3);
    EXPECT_EQ(m_settings.m_nRecordingTimeSeconds, 45);
    EXPECT_EQ(m_settings.m_dLastAnalysisSampleRate, 44100.0);

    // The rewrite keeps the process-wide values and resets document settings,
    // deriving the rate-dependent ones from the analysis rate.
    const auto bytes = readFile(appConfig());
    EXPECT_EQ(textAt(bytes, off::kInputSource), "Mic");
    EXPECT_EQ(textAt(bytes, off::kChannelSource + 16 * 2), "Mask");
    EXPECT_EQ(int32At(bytes, off::kChannelGain), 200);
    EXPECT_EQ(int32At(bytes, off::kRecordingTime), 45);
    EXPECT_EQ(int32At(bytes, off::kFFTWindowLength), 256);
    EXPECT_EQ(int32At(bytes, off::kFFTAppliedWindowLength), 5);
    EXPECT_EQ(int32At(bytes, off::kFFTfrequencyRange), 22000);
    EXPECT_EQ(int32At(bytes, off::kLPCNumberofCoefficients), 48);
    EXPECT_EQ(int32At(bytes, off::kSpecLPCNumberofCoefficients), 48);
}

TEST_F(ConfigurationTest, LaunchTakesNothingFromAForeignOrDamagedFile)
{
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        bool taken; // the process-wide settings are taken, the rate is not
    };
    Configuration oldVersion = applicationDefaults(AppSettings{});
    oldVersion.putText(off::kVersion, 16, "1903");
    oldVersion.putText(off::kInputSource, 16, "Line");
    oldVersion.putDouble(off::kAnalysisSampleRate, 44100.0);
    Configuration badRate = applicationDefaults(AppSettings{});
    badRate.putDouble(off::kAnalysisSampleRate, std::nan(""));
    std::vector<std::uint8_t> shortFile(oldVersion.bytes().begin(), oldVersion.bytes().end());
    shortFile.resize(2000);
    std::memcpy(shortFile.data(), "1904", 5);

    const Case cases[] = {
        {"old version", {oldVersion.bytes().begin(), oldVersion.bytes().end()}, false},
        {"short", shortFile, false},
        {"NaN rate", {badRate.bytes().begin(), badRate.bytes().end()}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppSettings settings;
        settings.m_strConfigFolder = m_settings.m_strConfigFolder;
        fs::create_directories(settings.m_strConfigFolder);
        writeFile(settings.configPath(), c.bytes);
        ASSERT_TRUE(ReadConfig(settings));
        EXPECT_EQ(settings.g_strInputSource, "Mic");
        EXPECT_EQ(settings.m_dLastAnalysisSampleRate, 11025.0);
        EXPECT_EQ(settings.g_ChannelInfo[16].nSampleRate, c.taken ? 22050 : 11025);
        const auto written = readFile(settings.configPath());
        const Configuration defaults = applicationDefaults(settings);
        const auto expected = defaults.bytes();
        EXPECT_TRUE(std::equal(written.begin(), written.end(), expected.begin(), expected.end()));
    }
}

TEST_F(ConfigurationTest, UserConfigurationRoundTripsThroughTheCommands)
{
    MyDocument source(m_prompts, m_settings);
    source.m_bHaveData = true;
    source.m_nFFTWindowLength = 512;
    source.m_dZoomRange = 1234.7;
    source.m_bCepstral = false;
    source.m_nGenericSampleRate = 8000;
    source.m_dLogStepSize = 2.0;
    source.getChannel(2).SetUnit("cm H2O");
    source.getChannel(4).SetUnit("\xC2\xB5" + std::string(30, 'x'));      // 32 bytes
    source.getChannel(5).SetUnit(std::string(30, 'y') + "\xC2\xB5" + "zz"); // µ at bytes 30-31
    source.getChannel(1).m_dA3Cal = -0.125;
    source.getChannel(7).m_dSmoothNumOfPoints = 9.0;
    m_settings.g_strInputSource = "Line";
    m_settings.g_strPlaySource = "Hardware";
    m_settings.g_ChannelInfo[3].nSampleRate = 44100;
    m_settings.g_ChannelInfo[9].nGain = 15;
    m_settings.g_ChannelInfo[0].setSource("Panel");
    m_settings.windowRect(AppWindow::FormantPlot) = {10, 20, 300, 400};
    m_settings.m_nRecordingTimeSeconds = 90;
    m_settings.g_nDSPFFTPts = 1024;

    const fs::path file = m_dir / "mine.cfg";
    m_prompts.savePanelReplies.push_back(file.string());
    fileSaveConfiguration(source, m_settings, m_prompts);
    ASSERT_EQ(m_prompts.savePanels.size(), 1u);
    EXPECT_EQ(m_prompts.savePanels[0].prompt, "save");
    EXPECT_EQ(m_prompts.savePanels[0].requiredType, "cfg");
    EXPECT_EQ(m_prompts.savePanels[0].proposedName, "User_Configuration.cfg");
    // Saved over, the folder holds the record and its settings file, nothing else.
    std::string error;
    ASSERT_TRUE(saveUserConfiguration(source, m_settings, file.string(), error)) << error;
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_dir)) {
        names.insert(entry.path().filename().string());
    }
    EXPECT_EQ(names, (std::set<std::string>{"mine.cfg", "mine.cfg.settings"}));
    const auto bytes = readFile(file);
    ASSERT_EQ(bytes.size(), 2912u);
    EXPECT_EQ(int32At(bytes, off::kZoomRange), 1234);
    EXPECT_EQ(doubleAt(bytes, off::kLogStepSize), 0.0);       // not carried
    EXPECT_EQ(int32At(bytes, off::kDspSettings + 4 * 7), 0);  // nor the scope
    EXPECT_EQ(bytes[off::kChannelSource], 0);                  // nor the names
    EXPECT_EQ(textAt(bytes, off::kUnits + 32 * 4).size(), 31u);
    EXPECT_EQ(textAt(bytes, off::kUnits + 32 * 5), std::string(30, 'y')); // µ not split

    AppSettings loadedSettings;
    MyDocument loaded(m_prompts, loadedSettings);
    m_prompts.openPanelReplies.push_back({file.string()});
    fileLoadConfiguration(loaded, loadedSettings, m_prompts);
    EXPECT_TRUE(m_prompts.alerts.empty());
    EXPECT_EQ(loaded.m_nFFTWindowLength, 512);
    EXPECT_EQ(loaded.m_dZoomRange, 1234.0);
    EXPECT_FALSE(loaded.m_bCepstral);
    EXPECT_EQ(loaded.m_nGenericSampleRate, 8000);
    EXPECT_EQ(loaded.getChannel(2).GetUnit(), "cm H2O");
    EXPECT_EQ(loaded.getChannel(1).m_dA3Cal, -0.125);
    EXPECT_EQ(loaded.getChannel(7).m_dSmoothNumOfPoints, 9.0);
    EXPECT_EQ(loadedSettings.g_strInputSource, "Line");
    EXPECT_EQ(loadedSettings.g_strPlaySource, "Hardware");
    EXPECT_EQ(loadedSettings.g_ChannelInfo[3].nSampleRate, 44100); // not forced at load
    EXPECT_EQ(loadedSettings.g_ChannelInfo[9].nGain, 15);
    EXPECT_EQ(loadedSettings.g_ChannelInfo[0].source(), "Mask");
    EXPECT_EQ(loadedSettings.windowRect(AppWindow::FormantPlot), (WindowRect{10, 20, 300, 400}));
    EXPECT_EQ(loadedSettings.m_nRecordingTimeSeconds, 90);
    EXPECT_EQ(loadedSettings.g_nDSPFFTPts, 0);
    // Saving again gives the same bytes.
    const Configuration savedAgain = userConfiguration(loaded, loadedSettings);
    const auto again = savedAgain.bytes();
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), again.begin(), again.end()));

    // A new document still follows the application configuration.
    ASSERT_TRUE(ReadConfig(m_settings));
    MyDocument fresh(m_prompts, m_settings);
    ASSERT_TRUE(applyApplicationConfiguration(fresh, m_settings));
    EXPECT_EQ(fresh.m_nFFTWindowLength, 256);
    EXPECT_EQ(fresh.getChannel(2).GetUnit(), "normalized");
}

// A configuration carries the rate-dependent settings of the rate it was
// saved at. Loaded for a recording at another rate, those that are what the
// saved rate gives are computed for the recording's rate, as opening it
// does; a value the user chose stays, and at the same rate nothing changes.
TEST_F(ConfigurationTest, UserConfigurationOfAnotherRateFollowsTheRecordingsRate)
{
    const auto documentAt = [this](double rateHz) {
        auto document = std::make_unique<MyDocument>(m_prompts, m_settings);
        document->m_bHaveData = true;
        document->m_dAnalysisSampleRate = rateHz;
        document->recomputeRateDependentSettings(rateHz);
        return document;
    };
    const auto saved = documentAt(22050.0);
    saved->m_nLPCNumberofCoefficients = 12;
    saved->m_nFFTWindowLength = 512;
    const fs::path file = m_dir / "at22050.cfg";
    ASSERT_TRUE(didEndSaveConfig(*saved, m_settings, m_prompts, file.string()));

    const auto sameRate = documentAt(22050.0);
    ASSERT_TRUE(loadUserConfiguration(*sameRate, m_settings, m_prompts, file.string()));
    EXPECT_EQ(sameRate->m_nLPCNumberofCoefficients, 12);
    EXPECT_EQ(sameRate->m_nSpecLPCNumberofCoefficients, 26);

    const auto otherRate = documentAt(44100.0);
    ASSERT_TRUE(loadUserConfiguration(*otherRate, m_settings, m_prompts, file.string()));
    EXPECT_EQ(otherRate->m_dAnalysisSampleRate, 44100.0);
    EXPECT_EQ(otherRate->m_nFFTWindowLength, 512);        // not rate-dependent: the file's
    EXPECT_EQ(otherRate->m_nLPCNumberofCoefficients, 12); // the user's own
    EXPECT_EQ(otherRate->m_nSpecLPCNumberofCoefficients, 48);
    EXPECT_EQ(otherRate->m_nFFTfrequencyRange, 22000);
    EXPECT_EQ(otherRate->m_nSpecfrequencyRange, 5000);
    EXPECT_EQ(otherRate->m_nFFTAppliedWindowLength, 5);
    EXPECT_TRUE(m_prompts.alerts.empty());
}

// Values the analyses cannot work with keep the document's own; the rest of
// the file still counts. A user file names them, a new document says nothing.
TEST_F(ConfigurationTest, DamagedValuesKeepTheDocumentsOwnAndTheRestLoads)
{
    const auto damage = [](Configuration& r) {
        r.putInt32(off::kZoomRange, 2500);                                 // good
        r.putInt32(off::kFFTWindowLength, 7);                              // not a power of two
        r.putDouble(1592, std::nan(""));                                   // pitch step
        r.putDouble(off::kCalibrationC1 + 8 * 3, std::nan(""));            // channel 3
        r.putInt32(off::kSmoothNumOfPoints + 4 * 2, 5000);                 // channel 2
        r.putInt32(off::kIntensityWindowLength + 4 * 1, 0);                // channel 1
        r.putInt32(off::kIntensityStepSize + 4 * 1, 20);                   // good
    };
    const auto check = [](const MyDocument& d) {
        EXPECT_EQ(d.m_dZoomRange, 2500.0);
        EXPECT_EQ(d.m_nFFTWindowLength, 256);
        EXPECT_EQ(d.m_dPitchStepSize, 10.0);
        EXPECT_EQ(d.getChannel(3).m_dC1Cal, 1.0);
        EXPECT_EQ(d.getChannel(2).m_dSmoothNumOfPoints, 5.0);
        EXPECT_EQ(d.getChannel(1).m_dIntensityWindowLengthMS, 30.0);
        EXPECT_EQ(d.getChannel(1).m_dIntensityStepSizeMS, 20.0);
    };

    writeAppConfig(damage);
    MyDocument fresh(m_prompts, m_settings);
    ASSERT_TRUE(applyApplicationConfiguration(fresh, m_settings));
    check(fresh);
    EXPECT_TRUE(m_prompts.alerts.empty());

    Configuration user = userConfiguration(MyDocument(m_prompts, m_settings), m_settings);
    damage(user);
    const fs::path file = m_dir / "damaged.cfg";
    // A document holding a recording keeps the analysis rate and lengths
    // that describe it.
    user.putDouble(off::kAnalysisSampleRate, 8000.0);
    user.putDouble(off::kAnalysisSampleRate + 8, 123.0);
    const auto userBytes = user.bytes();
    writeFile(file, {userBytes.begin(), userBytes.end()});
    MyDocument document(m_prompts, m_settings);
    document.m_bHaveData = true;
    document.m_dAnalysisSampleRate = 22050.0;
    document.m_dwAnalysisFileLength = 44100.0;
    ASSERT_TRUE(loadUserConfiguration(document, m_settings, m_prompts, file.string()));
    check(document);
    EXPECT_EQ(document.m_dAnalysisSampleRate, 22050.0);
    EXPECT_EQ(document.m_dwAnalysisFileLength, 44100.0);
    ASSERT_EQ(m_prompts.alerts.size(), 1u);
    EXPECT_EQ(m_prompts.alerts[0].title, "Some settings were not loaded");
    EXPECT_NE(m_prompts.alerts[0].message.find("m_nFFTWindowLength, "), std::string::npos);
    EXPECT_NE(m_prompts.alerts[0].message.find("m_dPitchStepSize"), std::string::npos);
}

TEST_F(ConfigurationTest, UnreadableOrShortUserFileIsDeclinedAndChangesNothing)
{
    const fs::path shortFile = m_dir / "short.cfg";
    writeFile(shortFile, std::vector<std::uint8_t>(2911, 0x41));
    MyDocument document(m_prompts, m_settings);
    document.m_nFFTWindowLength = 1024;
    m_settings.g_strInputSource = "Line";
    const Configuration before = userConfiguration(document, m_settings);

    for (const fs::path& path : {shortFile, m_dir / "missing.cfg"}) {
        SCOPED_TRACE(path.string());
        m_prompts.alerts.clear();
        EXPECT_FALSE(loadUserConfiguration(document, m_settings, m_prompts, path.string()));
        ASSERT_EQ(m_prompts.alerts.size(), 1u);
        EXPECT_EQ(m_prompts.alerts[0].title, "Configuration not loaded");
        EXPECT_EQ(userConfiguration(document, m_settings), before);
    }
    EXPECT_NE(m_prompts.alerts[0].message.find("missing.cfg"), std::string::npos);
    m_prompts.alerts.clear();
    loadUserConfiguration(document, m_settings, m_prompts, shortFile.string());
    EXPECT_NE(m_prompts.alerts[0].message.find("2911 bytes"), std::string::npos);
}

TEST_F(ConfigurationTest, PatchReplacesOnlyItsFields)
{
    MyDocument document(m_prompts, m_settings);
    auto putDisplay = [&](Configuration& r) {
        putDocumentSettings(r, document, off::kDisplayFirst, off::kDisplayLast);
    };
    EXPECT_EQ(patchApplicationConfiguration(m_settings, putDisplay), PatchResult::NoFile);
    EXPECT_FALSE(fs::exists(appConfig()));

    ASSERT_TRUE(ReadConfig(m_settings));
    const auto before = readFile(appConfig());
    document.m_dWidth = 8.5;
    document.m_bColor = false;
    document.m_bInches = false;
    document.m_dZoomRange = 3000.0; // not a display field
    EXPECT_EQ(patchApplicationConfiguration(m_settings, putDisplay), PatchResult::Written);
    const auto after = readFile(appConfig());
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < after.size(); ++i) {
        if (i < off::kDisplayFirst || i >= off::kDisplayLast + 4) {
            ASSERT_EQ(after[i], before[i]) << "byte " << i;
        }
    }
    EXPECT_EQ(doubleAt(after, 1056), 8.5);
    EXPECT_EQ(int32At(after, 1084), 0);
    EXPECT_EQ(int32At(after, 1088), 0);

    // A damaged file is left as it is.
    writeFile(appConfig(), std::vector<std::uint8_t>(100, 7));
    EXPECT_EQ(patchApplicationConfiguration(m_settings, putDisplay), PatchResult::NotRead);
    EXPECT_EQ(readFile(appConfig()), std::vector<std::uint8_t>(100, 7));
}

TEST_F(ConfigurationTest, RevertRemovesTheFileOnlyOnYes)
{
    ASSERT_TRUE(ReadConfig(m_settings));
    m_prompts.alertReplies = {0, 1};
    EXPECT_FALSE(fileRevertToDefaultConfiguration(m_settings, m_prompts));
    EXPECT_TRUE(fs::exists(appConfig()));
    EXPECT_TRUE(fileRevertToDefaultConfiguration(m_settings, m_prompts));
    EXPECT_FALSE(fs::exists(appConfig()));
    ASSERT_EQ(m_prompts.alerts.size(), 2u);
    const auto& a = m_prompts.alerts[0];
    EXPECT_EQ(a.title, "Reverting to default configuration");
    EXPECT_EQ(a.message, "Phonaxis will be closed, save all your work before.");
    EXPECT_EQ(a.defaultButton, "Yes");
    EXPECT_EQ(a.alternateButton, "No");
}

// The precise analysis mode and its formant ceiling have no place in the
// record: they live beside it, and the record's bytes do not depend on them.
TEST_F(ConfigurationTest, PreciseModeIsKeptBesideTheRecordWithoutChangingAByteOfIt)
{
    MyDocument plain(m_prompts, m_settings);
    plain.m_bHaveData = true;
    plain.m_bPreciseAnalysis = false;
    const fs::path plainFile = m_dir / "plain.cfg";
    ASSERT_TRUE(didEndSaveConfig(plain, m_settings, m_prompts, plainFile.string()));

    MyDocument precise(m_prompts, m_settings);
    precise.m_bHaveData = true;
    precise.m_bPreciseAnalysis = true;
    precise.m_dFormantCeiling = 5500.0;
    precise.m_dFormantSilenceLevel = -42.5;
    const fs::path file = m_dir / "precise.cfg";
    ASSERT_TRUE(didEndSaveConfig(precise, m_settings, m_prompts, file.string()));
    const auto bytes = readFile(file);
    ASSERT_EQ(bytes.size(), 2912u);
    EXPECT_EQ(bytes, readFile(plainFile));
    const auto beside = readFile(supplementPath(file.string()));
    EXPECT_EQ(std::string(beside.begin(), beside.end()),
              "m_bPreciseAnalysis=true\nm_dFormantCeiling=5500\nm_dFormantSilenceLevel=-42.5\n");

    AppSettings loadedSettings;
    MyDocument loaded(m_prompts, loadedSettings);
    ASSERT_TRUE(loadUserConfiguration(loaded, loadedSettings, m_prompts, file.string()));
    EXPECT_TRUE(m_prompts.alerts.empty());
    EXPECT_TRUE(loaded.m_bPreciseAnalysis);
    EXPECT_EQ(loaded.m_dFormantCeiling, 5500.0);
    EXPECT_EQ(loaded.m_dFormantSilenceLevel, -42.5);

    // A configuration saved without the file beside it leaves the mode alone.
    fs::remove(supplementPath(plainFile.string()));
    ASSERT_TRUE(loadUserConfiguration(loaded, loadedSettings, m_prompts, plainFile.string()));
    EXPECT_TRUE(loaded.m_bPreciseAnalysis);
    EXPECT_TRUE(m_prompts.alerts.empty());

    // Lines it cannot use are named, the others still count.
    const std::string damaged = "m_dFormantCeiling=3\nm_nFFTWindowLength=512\n"
                                "m_bPreciseAnalysis=false\r\n";
    writeFile(supplementPath(plainFile.string()), {damaged.begin(), damaged.end()});
    ASSERT_TRUE(loadUserConfiguration(loaded, loadedSettings, m_prompts, plainFile.string()));
    EXPECT_FALSE(loaded.m_bPreciseAnalysis);
    EXPECT_EQ(loaded.m_dFormantCeiling, 5500.0);
    EXPECT_EQ(loaded.m_nFFTWindowLength, 256);
    ASSERT_EQ(m_prompts.alerts.size(), 1u);
    EXPECT_NE(m_prompts.alerts[0].message.find("m_dFormantCeiling=3, m_nFFTWindowLength=512"),
              std::string::npos);

    // One larger than a settings file may be is not used at all.
    std::string large;
    while (large.size() <= 64 * 1024) {
        large += "m_bPreciseAnalysis=true\n";
    }
    writeFile(supplementPath(plainFile.string()), {large.begin(), large.end()});
    loadUserConfiguration(loaded, loadedSettings, m_prompts, plainFile.string());
    EXPECT_FALSE(loaded.m_bPreciseAnalysis);
    ASSERT_EQ(m_prompts.alerts.size(), 2u);
    EXPECT_NE(m_prompts.alerts[1].message.find("is not a settings file"), std::string::npos)
        << m_prompts.alerts[1].message;
}

// The application configuration's copy: written at launch with the defaults,
// read by every new document, removed with the record.
TEST_F(ConfigurationTest, ApplicationSupplementFollowsTheApplicationRecord)
{
    ASSERT_TRUE(ReadConfig(m_settings));
    const std::string beside = supplementPath(appConfig().string());
    ASSERT_TRUE(fs::exists(beside));
    DocumentFields edited;
    edited.m_bPreciseAnalysis = false;
    edited.m_dFormantCeiling = 6000.0;
    ASSERT_TRUE(writeSupplement(appConfig().string(), edited));
    MyDocument fresh(m_prompts, m_settings);
    EXPECT_FALSE(fresh.m_bPreciseAnalysis);
    EXPECT_EQ(fresh.m_dFormantCeiling, 6000.0);

    // The launch writes the defaults again: the precise analyses.
    ASSERT_TRUE(ReadConfig(m_settings));
    MyDocument relaunched(m_prompts, m_settings);
    EXPECT_TRUE(relaunched.m_bPreciseAnalysis);

    m_prompts.alertReplies = {1};
    EXPECT_TRUE(fileRevertToDefaultConfiguration(m_settings, m_prompts));
    EXPECT_FALSE(fs::exists(beside));

    // A settings file that cannot be written is a failure, told.
    fs::create_directories(beside);
    std::string error;
    EXPECT_FALSE(writeSupplement(appConfig().string(), edited, &error));
    EXPECT_NE(error.find(beside), std::string::npos) << error;
    EXPECT_FALSE(ReadConfig(m_settings));
}

TEST(AppSettingsTest, FolderComesFromTheEnvironmentOnlyWhenAsked)
{
    AppSettings plain;
    EXPECT_EQ(plain.configPath(), "");
    EXPECT_EQ(plain.g_ChannelInfo[16].nSampleRate, 11025);

    struct Case {
        const char* configDir;
        const char* xdg;
        const char* home;
        std::string expected;
    };
    const Case cases[] = {
        {"/p/conf", "/x", "/h", "/p/conf"},
        {nullptr, "/x", "/h", "/x/Phonaxis"},
        {"", "relative", "/h", "/h/.config/Phonaxis"},
        {nullptr, nullptr, nullptr, ""},
    };
    const char* names[] = {"PHONAXIS_CONFIG_DIR", "XDG_CONFIG_HOME", "HOME"};
    std::vector<std::optional<std::string>> saved;
    for (const char* name : names) {
        const char* v = std::getenv(name);
        saved.push_back(v ? std::optional<std::string>(v) : std::nullopt);
    }
    for (const Case& c : cases) {
        const char* values[] = {c.configDir, c.xdg, c.home};
        for (int i = 0; i < 3; ++i) {
            values[i] ? ::setenv(names[i], values[i], 1) : ::unsetenv(names[i]);
        }
        EXPECT_EQ(AppSettings::defaultConfigFolder(), c.expected);
    }
    for (int i = 0; i < 3; ++i) {
        saved[std::size_t(i)] ? ::setenv(names[i], saved[std::size_t(i)]->c_str(), 1)
                              : ::unsetenv(names[i]);
    }
}

} // namespace
} // namespace phonaxis
