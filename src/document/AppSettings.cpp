#include "document/AppSettings.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace phonaxis {

namespace {

constexpr std::int32_t kLaunchRateHz = 22050;

ChannelInfo channelEntry(std::int32_t sampleRateHz, std::int32_t filterRateHz, std::int32_t gain)
{
    ChannelInfo entry;
    entry.bOnOff = 1;
    entry.nSampleRate = sampleRateHz;
    entry.nFilterRate = filterRateHz;
    entry.nGain = gain;
    entry.setSource("Mask");
    return entry;
}

// The value of an environment variable, or "" when it is unset.
std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

template <typename Self> auto dspFieldsOf(Self& s)
{
    return std::array{&s.g_nDSPSampleRate,          &s.g_nDSPMonoStereo,
                      &s.g_nDSPMicLine,             &s.g_nDSPSampleGain,
                      &s.g_nDSPSampleGainIndex,     &s.g_nDSPPhantomPwr,
                      &s.g_nDSPBalUnbal,            &s.g_nDSPFFTPts,
                      &s.g_nDSPDisplayDynamicRange, &s.g_nDSPDisplayFreqRange,
                      &s.g_nDSPAbsoluteRelative,    &s.g_nDSPACCoupled,
                      &s.g_nDSPFeedThru,            &s.g_nDSPPlayGainIndex,
                      &s.g_nDSPPlayGain,            &s.g_nDSPPlayCount,
                      &s.g_nDSPPlayHardware};
}

} // namespace

std::string ChannelInfo::source() const
{
    return std::string(cSource, ::strnlen(cSource, sizeof cSource));
}

void ChannelInfo::setSource(std::string_view name)
{
    std::size_t length = std::min(name.size(), sizeof cSource - 1);
    // Never keep the first bytes of a character whose last bytes were cut.
    while (length > 0 && length < name.size() &&
           (static_cast<unsigned char>(name[length]) & 0xC0u) == 0x80u) {
        --length;
    }
    std::memset(cSource, 0, sizeof cSource);
    std::memcpy(cSource, name.data(), length);
}

AppSettings::AppSettings()
{
    setLaunchDefaults();
}

void AppSettings::setLaunchDefaults()
{
    g_strInputSource = "Mic";
    g_strPlaySource = "Computer";
    g_nRecordSampleRate = 11025;
    g_ChannelInfo.fill(ChannelInfo{});
    g_ChannelInfo[0] = channelEntry(kLaunchRateHz, 500, 200);
    for (std::size_t i = 1; i <= 15; ++i) {
        g_ChannelInfo[i] = channelEntry(kLaunchRateHz, 150, 1);
    }
    g_ChannelInfo[16] = channelEntry(11025, 150, 1);
}

std::array<std::int32_t*, AppSettings::kDspSettingCount> AppSettings::dspSettings()
{
    return dspFieldsOf(*this);
}

std::array<const std::int32_t*, AppSettings::kDspSettingCount> AppSettings::dspSettings() const
{
    return dspFieldsOf(*this);
}

std::string AppSettings::configPath() const
{
    if (m_strConfigFolder.empty()) {
        return {};
    }
    std::string path = m_strConfigFolder;
    if (path.back() != '/') {
        path += '/';
    }
    return path + kConfigFileName;
}

std::string AppSettings::defaultConfigFolder()
{
    if (std::string dir = environment("PHONAXIS_CONFIG_DIR"); !dir.empty()) {
        return dir;
    }
    // A relative XDG_CONFIG_HOME is invalid and must be ignored.
    if (std::string xdg = environment("XDG_CONFIG_HOME"); !xdg.empty() && xdg.front() == '/') {
        return xdg + "/Phonaxis";
    }
    if (std::string home = environment("HOME"); !home.empty()) {
        return home + "/.config/Phonaxis";
    }
    return {};
}

AppSettings& AppSettings::instance()
{
    static AppSettings settings = [] {
        AppSettings s;
        s.m_strConfigFolder = defaultConfigFolder();
        return s;
    }();
    return settings;
}

} // namespace phonaxis
