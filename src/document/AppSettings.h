#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace phonaxis {

// The kind of save a save context is waiting for.
struct SaveContext {
    std::string kind;            // "selection", "export" or "exportsel"
    std::int32_t channel = -1;   // -1 for all channels
};

// The acquisition set-up of one hardware channel, laid out as the recording
// controller keeps it in memory (304 bytes with natural alignment). The
// configuration file stores some of these fields in a layout of its own.
struct ChannelInfo {
    std::int8_t bOnOff = 0;        // 1: channel enabled
    std::int32_t nSampleRate = 0;  // Hz
    std::int32_t nFilterRate = 0;  // low-pass setting, Hz
    std::int32_t nGain = 0;        // 100..800 (audio) or 1..20 (analog)
    char cSource[32] = {};         // "Mask" or "Panel", NUL-terminated
    char cTitle[256] = {};         // NUL-terminated

    // cSource up to its terminating NUL.
    std::string source() const;
    // Stores `name` in cSource, cut to 31 bytes at a UTF-8 character boundary.
    void setSource(std::string_view name);

    friend bool operator==(const ChannelInfo&, const ChannelInfo&) = default;
};
static_assert(sizeof(ChannelInfo) == 304, "ChannelInfo keeps the controller's memory layout");

// A window's frame as the configuration stores it: four int32 screen
// coordinates.
struct WindowRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;

    friend bool operator==(const WindowRect&, const WindowRect&) = default;
};

// The application windows whose frames are remembered, in the order the
// configuration stores them.
enum class AppWindow : std::size_t {
    Main,
    Spectrum,
    Spectrogram,
    Pitch,
    Log,
    Label,
    Status,
    Record,
    Scope,
    ScopeDsp,
    FormantPlot,
};
inline constexpr std::size_t kAppWindowCount = 11;

// Process-wide settings shared by every document: the sound sources, the
// acquisition channel table, window frames, scope settings, the record time
// and the configuration folder. One object per process (instance()); tests
// make their own, point it at a private folder and hand it to a document.
// Main thread only.
struct AppSettings {
    static constexpr std::size_t kChannelInfoEntries = 20;
    static constexpr std::size_t kDspSettingCount = 17;
    static constexpr const char* kConfigFileName = "PhonaxisConf.cfg";

    // Launch defaults and no configuration folder: the environment is not
    // consulted, so a default-constructed object never touches a real
    // configuration file.
    AppSettings();

    // The sources and the channel table as the application sets them before
    // the configuration is read: input "Mic", play "Computer"; entry 0 =
    // {1, 22050, 500, 200, "Mask"}, entries 1..15 = {1, 22050, 150, 1, "Mask"},
    // entry 16 = {1, 11025, 150, 1, "Mask"}, entries 17..19 zero.
    void setLaunchDefaults();

    // The analysis sample rate for which the rate-dependent settings were
    // last computed: adopted by the readers that recompute those settings (a
    // file at the same rate leaves them alone), and the process-wide analysis
    // rate that the application configuration keeps at offset 1032 and from
    // which the launch rewrite derives its rate-dependent defaults.
    double m_dLastAnalysisSampleRate = 11025.0;

    // Save context reused by the save-selection and export commands.
    SaveContext saveContext;

    // Selected sound input source ("Mic", "Line", …) and playback
    // destination ("Computer", "Hardware", …).
    std::string g_strInputSource;
    std::string g_strPlaySource;

    // The sample rate of the next sound-card recording, Hz: 11025 at launch,
    // then what the record/play settings last chose. Not stored in the
    // configuration.
    std::int32_t g_nRecordSampleRate = 11025;

    // Acquisition set-up per hardware channel.
    std::array<ChannelInfo, kChannelInfoEntries> g_ChannelInfo{};

    // Remembered window frames, indexed by AppWindow.
    std::array<WindowRect, kAppWindowCount> m_rWindows{};
    WindowRect& windowRect(AppWindow window) { return m_rWindows[static_cast<std::size_t>(window)]; }
    const WindowRect& windowRect(AppWindow window) const
    {
        return m_rWindows[static_cast<std::size_t>(window)];
    }

    // The record time of the record/play settings, in seconds.
    std::int32_t m_nRecordingTimeSeconds = 0;

    // Scope settings, in the order the configuration stores them.
    std::int32_t g_nDSPSampleRate = 0;
    std::int32_t g_nDSPMonoStereo = 0;
    std::int32_t g_nDSPMicLine = 0;
    std::int32_t g_nDSPSampleGain = 0;
    std::int32_t g_nDSPSampleGainIndex = 0;
    std::int32_t g_nDSPPhantomPwr = 0;
    std::int32_t g_nDSPBalUnbal = 0;
    std::int32_t g_nDSPFFTPts = 0;
    std::int32_t g_nDSPDisplayDynamicRange = 0;
    std::int32_t g_nDSPDisplayFreqRange = 0;
    std::int32_t g_nDSPAbsoluteRelative = 0;
    std::int32_t g_nDSPACCoupled = 0;
    std::int32_t g_nDSPFeedThru = 0;
    std::int32_t g_nDSPPlayGainIndex = 0;
    std::int32_t g_nDSPPlayGain = 0;
    std::int32_t g_nDSPPlayCount = 0;
    std::int32_t g_nDSPPlayHardware = 0;

    // The seventeen scope settings above, in stored order.
    std::array<std::int32_t*, kDspSettingCount> dspSettings();
    std::array<const std::int32_t*, kDspSettingCount> dspSettings() const;

    // Folder of the application configuration; empty for none (then there
    // is no application configuration to read, patch or remove).
    std::string m_strConfigFolder;

    // m_strConfigFolder + "/PhonaxisConf.cfg", or "" without a folder.
    std::string configPath() const;

    // The folder the environment names: $PHONAXIS_CONFIG_DIR when set and
    // not empty, else $XDG_CONFIG_HOME/Phonaxis (an absolute
    // XDG_CONFIG_HOME only), else $HOME/.config/Phonaxis; "" when none of
    // them is usable.
    static std::string defaultConfigFolder();

    // The process-wide object, its folder taken from the environment on
    // first use.
    static AppSettings& instance();
};

} // namespace phonaxis
