#include "cli/CliCommands.h"

#include "cli/CliAnalysis.h"
#include "cli/CliAudio.h"
#include "cli/CliBoxRecord.h"
#include "cli/CliFormantTrack.h"
#include "cli/CliLabels.h"
#include "cli/CliSettings.h"
#include "cli/CliVoice.h"
#ifdef PHONAXIS_HAVE_DISPLAY
#include "cli/CliFormantPicture.h"
#include "cli/CliPicture.h"
#endif

#include "document/AutomaticPrompts.h"
#include "document/Configuration.h"
#include "document/FileIO.h"
#include "document/MyDocument.h"
#include "document/RecordingSignature.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <memory>
#include <optional>
#include <ostream>
#include <string_view>
#include <utility>
#include <vector>

namespace phonaxis::cli {

namespace {

// One command's lines of the usage text.
struct CommandHelp {
    std::string_view command;
    const char* text;
};

constexpr CommandHelp kCommandHelp[] = {
    {"info", "  phonaxis-cli info FILE [--aiff-channel K] [--json]\n"
             "      channels, rates, lengths and units of a recording, as JSON (with or\n"
             "      without --json)\n"},
    {"convert",
     "  phonaxis-cli convert IN OUT [--channel N] [--from MS --to MS] [--aiff-channel K]\n"
     "                       [--labels GRID.TextGrid [--tier NAME]]\n"
     "      writes IN (all channels, or channel N) as OUT, whole or from MS to MS:\n"
     "      a 32-bit float WAV file (.wav) or a native float file (.pmf); --labels\n"
     "      adds the labels of a TextGrid file (a .pmf OUT only: a WAV file keeps no\n"
     "      labels): a tier named as a channel's title goes to that channel, any\n"
     "      other tier K (from 1) to channel K - 1; --tier NAME (or a number from 1)\n"
     "      takes that tier alone, to channel N or the audio channel; with --channel\n"
     "      N every tier goes to channel N. The labels join those IN already has\n"},
    {"spectrum",
     "  phonaxis-cli spectrum FILE (--at MS | --from MS --to MS) [--frame] [--classic]\n"
     "                        [--channel N] [--png OUT [--width W --height H]]\n"
     "      formants and bandwidths of the audio channel's (or channel N's) FFT/LPC\n"
     "      spectrum at a time or over a stretch; --frame gives the spectrum level per\n"
     "      frequency; --png also draws the spectrum window's graph as OUT (.png,\n"
     "      .tif/.tiff, .pdf or .svg). Times: the FFT frames start at MS (every\n"
     "      m_nFFTAverageStepSize ms over a stretch, averaged); the formants are those\n"
     "      of a window centred on MS (on the stretch's middle), with --classic those\n"
     "      of the LPC window that starts at MS (the mean of the stretch's first and\n"
     "      last frames)\n"},
    {"spectrogram",
     "  phonaxis-cli spectrogram FILE [--from MS --to MS] [--columns N] [--rows N] [--classic]\n"
     "                           [--channel N] [--png OUT [--width W --height H]]\n"
     "      formant tracks of the audio channel (or channel N) every log step\n"
     "      (m_dLogStepSize ms), computed with N columns and rows (defaults: 1000\n"
     "      columns, 256 rows); a row holds only the formants inside the frequency\n"
     "      range shown (m_nSpecfrequencyRange: 5000 Hz, or half the sample rate\n"
     "      when lower; --set m_nSpecfrequencyRange=22000 shows the whole band of a\n"
     "      44.1 kHz file), and none where the column's formant\n"
     "      frame is quieter than m_dFormantSilenceLevel (-50 dBFS by default); --png\n"
     "      also draws the spectrogram window's picture as OUT (.png, .tif/.tiff, .pdf\n"
     "      or .svg), its image computed for the picture's own size. Times: a row at time\n"
     "      T holds the formants of the image column T falls in, analysed in a window\n"
     "      centred on the column's middle (--classic: the LPC window that starts\n"
     "      where the column starts); for a track at a fixed step whatever the\n"
     "      length, use formant-track\n"},
    {"formant-track",
     "  phonaxis-cli formant-track FILE [--step MS] [--from MS --to MS] [--classic]\n"
     "                             [--channel N]\n"
     "      F1-F5 and their bandwidths of the audio channel (or channel N) every MS ms\n"
     "      (default 10) over the whole file, by the formant analysis alone (no\n"
     "      spectrogram image), at any length. Times: row k is timed at k x MS from\n"
     "      the file's start, the centre of the window it is analysed in (--classic:\n"
     "      the spectrogram's LPC window centred there). --from/--to keep the rows\n"
     "      with from <= time < to, exactly those of the whole file. A frame quieter\n"
     "      than m_dFormantSilenceLevel (-50 dBFS by default) has no formants\n"},
    {"pitch", "  phonaxis-cli pitch FILE [--from MS --to MS] [--classic] [--channel N]\n"
              "                     [--png OUT [--width W --height H]]\n"
              "      time, pitch and intensity (dBFS at that time, -200 for digital\n"
              "      silence) of every pitch frame of the audio channel (or channel N);\n"
              "      --png also draws the pitch window's graph (over MS to\n"
              "      MS) as OUT (.png, .tif/.tiff, .pdf or .svg). Times: frame k is centred on\n"
              "      k x m_dPitchStepSize ms (--classic: its window starts there; the log\n"
              "      format then times it at k x the recording's length / the frame count);\n"
              "      the intensity is that of the m_dIntensityWindowLengthMS window that\n"
              "      starts at the row's time. With --from/--to the precise track is\n"
              "      computed for the stretch alone, its frames those of the whole file:\n"
              "      the path that keeps octave jumps out is searched over the stretch and\n"
              "      50 frames on each side (0.5 s at the default step), and voicing\n"
              "      weighs each frame against the loudest frame there, so rows near the\n"
              "      stretch's ends, or in a stretch much quieter than the file's loudest\n"
              "      part, may differ from the whole file's; the cepstral track (--classic)\n"
              "      and a --png picture are always computed over the whole file\n"},
    {"egg", "  phonaxis-cli egg FILE --channel N\n"
            "      glottal cycles and closed quotients of EGG channel N; each row is timed\n"
            "      by the cycle's own contact instants\n"},
    {"voice",
     "  phonaxis-cli voice FILE [--from MS --to MS] [--channel N] [--egg-channel N]\n"
     "      the voice report of a sustained vowel over MS to MS (default: the whole\n"
     "      file), from the audio channel (or channel N) and from the EGG channel\n"
     "      (N, else the file's own EGG channel), side by side: F0 mean and SD,\n"
     "      jitter, shimmer, HNR, CPPS, unvoiced frames, voice breaks and, from the\n"
     "      EGG, the closed quotients' mean and SD. A source whose report cannot be\n"
     "      made (too few cycles, no voiced stretch) says why instead of a number.\n"
     "      Audio cycles: the precise pitch track finds the voiced stretches (up to\n"
     "      50 ms of unvoiced or wrong-F0 frames in a steady F0 bridged) and the\n"
     "      expected period; each stretch is inverse filtered by its own LPC filter\n"
     "      (order rate/1 kHz + 2, from the pre-emphasised stretch) into the glottal\n"
     "      excitation, where marks one period apart are placed by waveform matching\n"
     "      (normalised cross-correlation of 0.7-period segments over 0.8-1.25\n"
     "      periods, refined below a sample by sinc interpolation; Milenkovic 1987,\n"
     "      Titze & Liang 1993, Ananthapadmanabha & Yegnanarayana 1979); an amplitude\n"
     "      is the least-squares gain of the cycle's excitation pulse against the\n"
     "      stretch's mean pulse, times the median waveform peak. EGG cycles: the EGG\n"
     "      analysis's, each contact refined below a sample at its level crossing;\n"
     "      amplitudes valley to peak. A gap longer than 1.25 / m_dCalculationLow\n"
     "      between cycles is a voice break; differences never span one. Jitter local\n"
     "      = mean |T(i) - T(i+1)| / mean T; RAP, PPQ5 against the mean of 3 and 5\n"
     "      periods; DDP = mean |second difference| / mean T; shimmer local, local dB,\n"
     "      APQ3/5/11 and DDA likewise of the amplitudes (Baken & Orlikoff 2000). HNR:\n"
     "      normalised autocorrelation at the period lag in a Hann window of three\n"
     "      periods, corrected for the window, averaged over the voiced frames,\n"
     "      10 log10(r / (1 - r)) (Boersma 1993). CPPS: 40 ms Hamming frames every\n"
     "      2 ms, the dB power cepstrum averaged over 10 frames and 0.5 ms of\n"
     "      quefrency, its peak over the pitch range above the regression line from\n"
     "      1 ms (Hillenbrand et al. 1994, Hillenbrand & Houde 1996)\n"},
    {"labels",
     "  phonaxis-cli labels FILE [--channel N] [--textgrid OUT.TextGrid [--intervals|--points]\n"
     "                      [--short] [--utf16]] [--table|--csv|--json]\n"
     "      lists the labels of FILE (of channel N) as the label table shows them, or\n"
     "      as named columns; --textgrid writes them as a TextGrid file instead: one\n"
     "      tier per channel that has labels, named after the channel's title, over\n"
     "      the recording's time span: an interval tier for a channel whose labels\n"
     "      came from intervals, a point tier for the others, or with --intervals or\n"
     "      --points that kind for every channel. In an interval tier each label\n"
     "      opens an interval that ends where its interval ended when it came from a\n"
     "      grid, else at the next label; gaps are empty intervals; labels at one time\n"
     "      share an interval (a point), their texts joined by a space;\n"
     "      the long text form in UTF-8, or --short and --utf16. A grid read and\n"
     "      written again keeps its tiers' times and texts; it does not keep the\n"
     "      tiers' names when they differ from the channels' titles, nor do grids\n"
     "      carry the labels' fonts, colours and heights in their strip\n"},
    {"picture",
     "  phonaxis-cli picture FILE --out OUT [--from MS --to MS] [--width W --height H] [--fit]\n"
     "      the main view of FILE (whole, or from MS to MS) as OUT: .png, .tif/.tiff, or\n"
     "      a vector .pdf or .svg, drawn in a view of W x H pixels (default 1600 x 900);\n"
     "      --fit shares the height out among the shown channels' strips, so that\n"
     "      they fill the picture however many there are\n"},
    {"formants",
     "  phonaxis-cli formants TABLE.txt --png OUT [--plot-type N] [--width W --height H]\n"
     "      the vowel chart of a saved formant table as OUT (.png, .tif/.tiff, .pdf or\n"
     "      .svg): titled axes in Hz, a mean and 2-SD ellipse for every label that at\n"
     "      least 3 rows carry (wherever they stand; unlabelled rows get none):\n"
     "      F1 against F2 (N = 0, the default), F2' (1) or F3 (2), in a view of\n"
     "      W x H pixels (default 640 x 560)\n"},
    {"play", "  phonaxis-cli play FILE [--from MS --to MS] [--device NAME]\n"
             "      plays the audio channel of FILE (whole, or from MS to MS) on the sound card\n"
             "      (the default output, or the device NAME)\n"},
    {"record",
     "  phonaxis-cli record OUT.wav --seconds S [--rate R] [--device NAME]\n"
     "      records S seconds from the sound card (the default input, or the device\n"
     "      NAME) at R Hz (44100, 22050 or 11025; default 11025) into a float WAV file\n"
     "  phonaxis-cli record OUT.pmf --box --seconds S [--channels LIST] [--simulate-box=N]\n"
     "                     [--firmware FILE.hex]\n"
     "      records S seconds from the acquisition box into a native multichannel file:\n"
     "      the entries of LIST (0 the audio, 1.. the analog channels; default all),\n"
     "      from a simulated box of N channels (9, 5 or 2; or PHONAXIS_SIMULATE_BOX)\n"
     "      when asked; the box's firmware is FILE.hex, else PHONAXIS_FIRMWARE, else\n"
     "      the application's data folder's\n"
     "      OUT is checked before recording (a folder, a missing folder or a disk\n"
     "      without room: exit 1, nothing recorded); should it still fail at the end,\n"
     "      the recording is kept in the temporary folder and the message says where.\n"
     "      Ctrl+C ends a recording early with what was recorded written (exit 1)\n"},
    {"box", "  phonaxis-cli box [--simulate-box=N] [--firmware FILE.hex]\n"
            "      finds the acquisition box (10 s at most), loads its firmware into a bare\n"
            "      box (FILE.hex, else PHONAXIS_FIRMWARE, else the application's data\n"
            "      folder's) and tells what answered: its channel count, USB identity,\n"
            "      interface and pipes; or why none did (none found, no permission on its\n"
            "      device node, the image refused, the download failed or did not finish);\n"
            "      exit 0 when a box answered, 1 otherwise; a simulated box of N channels\n"
            "      (9, 5 or 2; or PHONAXIS_SIMULATE_BOX) when asked\n"},
    {"settings", "  phonaxis-cli settings [--json] [--save-config FILE]\n"
                 "      every document setting --set accepts, one a line as\n"
                 "      NAME=VALUE<TAB># unit; range; meaning (the text before the tab is --set\n"
                 "      text), with the values of a new document after --config and --set;\n"
                 "      --json gives the same as a JSON array of objects; --save-config FILE\n"
                 "      writes them as a user configuration, as the application's Save\n"
                 "      Configuration does, for --config\n"},
};

constexpr const char* kOtherUsage = "  phonaxis-cli --version\n"
                                    "      the program's name and version\n"
                                    "  phonaxis-cli COMMAND --help\n"
                                    "      the help of one command\n";

// An option several commands share, with the commands it is told for.
struct OptionHelp {
    std::string_view commands;
    const char* text;
};

constexpr OptionHelp kOptionHelp[] = {
    {"spectrum spectrogram formant-track pitch egg voice",
     "  --json             the records as a JSON array instead of the log file format;\n"
     "                     each also has the named fields of --table (null where a\n"
     "                     value is missing)\n"},
    {"spectrum spectrogram formant-track pitch egg voice",
     "  --table            a header row of named columns with their units, then one\n"
     "                     tab-separated row per record; a missing value is an empty\n"
     "                     cell\n"},
    {"spectrum spectrogram formant-track pitch egg voice",
     "  --csv              the same table as comma-separated values (a file name\n"
     "                     holding a comma, quote or line break is quoted)\n"},
    {"spectrum spectrogram formant-track pitch egg voice settings",
     "  --config FILE      the settings of a saved user configuration\n"},
    {"spectrum spectrogram formant-track pitch egg",
     "  --labels           adds a label column to --table, --csv and --json: the label\n"
     "                     in force at the row's time (at the middle of a stretch's\n"
     "                     row; at the contact of an EGG cycle): the last label at or\n"
     "                     before it, while its interval lasts when it came from an\n"
     "                     interval tier, else until the next label; empty where none\n"
     "                     is. The labels are the analysed channel's, else those of the\n"
     "                     first channel that has labels\n"},
    {"spectrum spectrogram formant-track pitch egg",
     "  --textgrid GRID    with --labels, the labels of a TextGrid file instead of the\n"
     "                     recording's own (a WAV file has none): its first tier, or\n"
     "  --tier NAME        the tier NAME (or a number from 1)\n"},
    {"spectrum spectrogram formant-track pitch egg voice settings",
     "  --set NAME=VALUE   one document setting, after --config (repeatable);\n"
     "                     phonaxis-cli settings lists them\n"},
    {"spectrum spectrogram formant-track pitch",
     "  --channel N        analyses channel N instead of the audio channel\n"},
    {"spectrum spectrogram formant-track pitch",
     "  --classic          the classic analyses: LPC formants of order\n"
     "                     m_nLPCNumberofCoefficients (m_nSpecLPCNumberofCoefficients\n"
     "                     in the spectrogram and the formant track) and the cepstral\n"
     "                     pitch track\n"},
    {"spectrum spectrogram formant-track pitch",
     "  --precise          the precise analyses, the default (m_bPreciseAnalysis):\n"
     "                     formants up to a ceiling of m_dFormantCeiling Hz (5000; 5500\n"
     "                     suits higher voices), pitch refined below a sample and\n"
     "                     tracked without octave jumps\n"},
};

// The columns of --table and --csv, per command.
constexpr CommandHelp kColumnHelp[] = {
    {"spectrum", "  spectrum: file, channel, time_ms (--at) or from_ms, to_ms (--from/--to),\n"
                 "    F1_hz .. F5_hz, B1_hz .. B5_hz (formants and their bandwidths);\n"
                 "    with --frame: file, channel, time_ms or from_ms, to_ms, frequency_hz,\n"
                 "    fft_rel_db and, when the LPC spectrum is drawn, lpc_rel_db: levels in dB\n"
                 "    relative to that spectrum's peak (to its minimum with m_bFFTAbsolute)\n"},
    {"spectrogram", "  spectrogram: file, channel, time_ms, F1_hz .. F5_hz; a row holds only the\n"
                    "    formants inside the frequency range shown, the others are empty\n"},
    {"formant-track", "  formant-track: file, channel, time_ms (k x the step: the centre of the\n"
                      "    analysis window), F1_hz .. F5_hz, B1_hz .. B5_hz (formants and their\n"
                      "    bandwidths; empty where fewer were found or the frame is quieter than\n"
                      "    m_dFormantSilenceLevel); the log format's rows hold -1 there\n"},
    {"pitch", "  pitch: file, channel, time_ms, f0_hz (empty where unvoiced), intensity_dbfs;\n"
              "    time_ms is k x m_dPitchStepSize: the centre of the frame's window (its\n"
              "    start with --classic);\n"
              "    intensity_dbfs: dB relative to full scale (a full-scale sine reads -3.01);\n"
              "    empty where the frame is digitally silent or m_bPitchDrawIntensity is off\n"},
    {"voice", "  voice: file, channel, source (audio or egg), from_ms, to_ms, f0_mean_hz,\n"
              "    f0_sd_hz, jitter_local_pct, jitter_local_abs_us, jitter_rap_pct,\n"
              "    jitter_ppq5_pct, jitter_ddp_pct, shimmer_local_pct, shimmer_local_db,\n"
              "    shimmer_apq3_pct, shimmer_apq5_pct, shimmer_apq11_pct, shimmer_dda_pct,\n"
              "    hnr_db, cpps_db, unvoiced_pct (audio only), voice_breaks, cycles,\n"
              "    cq_mean, cq_sd, cq_hb_mean, cq_hb_sd, cq_pm_mean, cq_pm_sd, cq_ht_mean,\n"
              "    cq_ht_sd (EGG only); the log format writes -1 where a value is missing\n"},
    {"labels", "  labels: file, channel, channel_title, time_ms, end_ms (the end of the\n"
               "    interval the label opens, empty for a point), label\n"},
    {"egg", "  egg: file, channel, contact_ms, decontact_ms, next_contact_ms (the cycle's\n"
            "    closing, opening and the next closing), cq, cq_hb, cq_pm, cq_ht (its\n"
            "    closed quotients by the four methods of the log format, empty where not\n"
            "    found), peak_velocity_per_s, peak_velocity_ms (the peak of the EGG's\n"
            "    velocity, in full scale per second, and its time)\n"},
};

constexpr const char* kColumnsHeading =
    "Named columns of --table and --csv (a missing value is an empty cell, null in\n"
    "--json; the analyses' label column, when asked for, follows the others):\n";

constexpr const char* kUsageFooter =
    "Channels are counted from 0, times are in ms. --aiff-channel picks the\n"
    "channel (counted from 1) of a multichannel AIFF file; the default is 1.\n"
    "Of a WAV file, info reads the header alone, and the analyses read the\n"
    "samples of the channel they analyse only: with --at or --from/--to,\n"
    "spectrum, spectrogram, formant-track and the precise pitch read only that\n"
    "stretch and the context their analysis windows need. Other formats are\n"
    "read whole.\n";

bool isCommand(std::string_view word)
{
    return std::any_of(std::begin(kCommandHelp), std::end(kCommandHelp),
                       [&](const CommandHelp& help) { return help.command == word; });
}

// Whether `command` is one of the space-separated words of `commands`.
bool namesCommand(std::string_view commands, std::string_view command)
{
    std::size_t start = 0;
    while (start < commands.size()) {
        const std::size_t end = std::min(commands.find(' ', start), commands.size());
        if (commands.substr(start, end - start) == command) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

// The whole usage text: every command, the shared options and the columns.
std::string fullUsage()
{
    std::string text = "usage:\n";
    for (const CommandHelp& help : kCommandHelp) {
        text += help.text;
    }
    text += kOtherUsage;
    text += "\nThe analyses also take:\n";
    for (const OptionHelp& option : kOptionHelp) {
        text += option.text;
    }
    text += std::string("\n") + kColumnsHeading;
    for (const CommandHelp& columns : kColumnHelp) {
        text += columns.text;
    }
    return text + "\n" + kUsageFooter;
}

// `text` for the man macros: a backslash written as one, a hyphen as a
// minus sign, and a line that starts with a dot or an apostrophe kept from
// being read as a request.
std::string roffText(std::string_view text)
{
    std::string out;
    bool lineStart = true;
    for (const char c : text) {
        if (lineStart && (c == '.' || c == '\'')) {
            out += "\\&";
        }
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else {
            out += c;
        }
        lineStart = c == '\n';
    }
    return out;
}

// `text` as a block set line for line as written.
std::string roffBlock(std::string_view text)
{
    return ".PP\n.nf\n" + roffText(text) + ".fi\n";
}

// `command`'s part of the usage text, with the shared options it takes and
// its columns.
std::string commandUsage(std::string_view command)
{
    std::string text = "usage:\n";
    for (const CommandHelp& help : kCommandHelp) {
        if (help.command == command) {
            text += help.text;
        }
    }
    std::string options;
    for (const OptionHelp& option : kOptionHelp) {
        if (namesCommand(option.commands, command)) {
            options += option.text;
        }
    }
    if (!options.empty()) {
        text.append("\n").append(command).append(" also takes:\n").append(options);
    }
    for (const CommandHelp& columns : kColumnHelp) {
        if (columns.command == command) {
            text += std::string("\n") + kColumnsHeading + columns.text;
        }
    }
    return text + "\n" + kUsageFooter;
}

bool parseDouble(const std::string& text, double& value)
{
    const char* first = text.data();
    const char* last = first + text.size();
    const auto result = std::from_chars(first, last, value);
    return result.ec == std::errc() && result.ptr == last && std::isfinite(value);
}

bool parseInt(const std::string& text, int& value)
{
    const char* first = text.data();
    const char* last = first + text.size();
    const auto result = std::from_chars(first, last, value);
    return result.ec == std::errc() && result.ptr == last;
}

// Sizes of a computed spectrogram: its cells are held as doubles.
constexpr int kMaxColumns = 20000;
constexpr int kMaxRows = 8192;
// The longest side of a graph picture, pixels.
constexpr int kMaxPictureSide = 16384;
// The longest recording phonaxis-cli makes, seconds (an hour).
constexpr double kMaxRecordSeconds = 3600.0;

enum class Takes {
    Nothing,
    Channel,
    Time,
    Count,
    Path,
    Assignment,
    PlotType,
    Seconds,
    Rate,
    ChannelList,
    BoxChannels,
    Name,
};

struct KnownOption {
    const char* name;
    Takes takes;
};

constexpr KnownOption kKnownOptions[] = {
    {"--channel", Takes::Channel},
    {"--egg-channel", Takes::Channel},
    {"--aiff-channel", Takes::Channel},
    {"--at", Takes::Time},
    {"--from", Takes::Time},
    {"--to", Takes::Time},
    {"--step", Takes::Time},
    {"--columns", Takes::Count},
    {"--rows", Takes::Count},
    {"--png", Takes::Path},
    {"--width", Takes::Count},
    {"--height", Takes::Count},
    {"--config", Takes::Path},
    {"--set", Takes::Assignment},
    {"--frame", Takes::Nothing},
    {"--json", Takes::Nothing},
    {"--precise", Takes::Nothing},
    {"--classic", Takes::Nothing},
    {"--plot-type", Takes::PlotType},
    {"--device", Takes::Path},
    {"--seconds", Takes::Seconds},
    {"--rate", Takes::Rate},
    {"--box", Takes::Nothing},
    {"--channels", Takes::ChannelList},
    {"--simulate-box", Takes::BoxChannels},
    {"--firmware", Takes::Path},
    {"--table", Takes::Nothing},
    {"--csv", Takes::Nothing},
    {"--save-config", Takes::Path},
    {"--labels", Takes::Nothing}, // convert: Takes::Path (the grid)
    {"--textgrid", Takes::Path},
    {"--tier", Takes::Name},
    {"--points", Takes::Nothing},
    {"--intervals", Takes::Nothing},
    {"--short", Takes::Nothing},
    {"--utf16", Takes::Nothing},
};

// "0,1,2,4": entry numbers, each once; false for anything else.
bool parseChannelList(const std::string& text, std::vector<int>& entries)
{
    entries.clear();
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        int entry = 0;
        if (!parseInt(text.substr(start, comma - start), entry) || entry < 0 ||
            std::find(entries.begin(), entries.end(), entry) != entries.end()) {
            return false;
        }
        entries.push_back(entry);
        start = comma + 1;
    }
    return !entries.empty();
}

bool parseSplitOptions(const std::vector<std::string>& args, std::size_t first, Options& options,
                       std::ostream& err);

// Parses the options; on a mistake writes a message and returns false.
bool parseOptions(const std::vector<std::string>& args, std::size_t first, Options& options,
                  std::ostream& err)
{
    std::vector<std::string> split;
    for (std::size_t i = 0; i < args.size(); ++i) {
        // "--simulate-box=N" and "--firmware=FILE" are written as the
        // desktop application takes them.
        const std::string& arg = args[i];
        const std::size_t equals = arg.find('=');
        if (i >= first && equals != std::string::npos &&
            (arg.starts_with("--simulate-box=") || arg.starts_with("--firmware="))) {
            split.push_back(arg.substr(0, equals));
            split.push_back(arg.substr(equals + 1));
        } else {
            split.push_back(arg);
        }
    }
    return parseSplitOptions(split, first, options, err);
}

bool parseSplitOptions(const std::vector<std::string>& args, std::size_t first, Options& options,
                       std::ostream& err)
{
    for (std::size_t i = first; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const KnownOption* known = nullptr;
        for (const KnownOption& candidate : kKnownOptions) {
            if (arg == candidate.name) {
                known = &candidate;
            }
        }
        if (!known) {
            if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
                err << "phonaxis-cli: unknown option " << arg << "\n";
                return false;
            }
            options.positional.push_back(arg);
            continue;
        }
        options.given.push_back(arg);
        // convert --labels names the grid whose labels go into the file.
        const Takes takes =
            arg == "--labels" && args[0] == "convert" ? Takes::Path : known->takes;
        if (takes == Takes::Nothing) {
            (arg == "--frame"     ? options.frame
             : arg == "--labels"  ? options.labels
             : arg == "--points"  ? options.points
             : arg == "--intervals" ? options.intervals
             : arg == "--short"   ? options.shortForm
             : arg == "--utf16"   ? options.utf16
             : arg == "--json"    ? options.json
             : arg == "--table"   ? options.table
             : arg == "--csv"     ? options.csv
             : arg == "--box"     ? options.box
             : arg == "--classic" ? options.classic
                                  : options.precise) = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            err << "phonaxis-cli: " << arg << " needs a value\n";
            return false;
        }
        const std::string& value = args[++i];
        switch (takes) {
        case Takes::Channel: {
            int n = 0;
            if (!parseInt(value, n) || n < (arg == "--aiff-channel" ? 1 : 0)) {
                err << "phonaxis-cli: " << arg << " takes a channel number, not \"" << value
                    << "\"\n";
                return false;
            }
            if (arg == "--channel") {
                options.channel = n;
            } else if (arg == "--egg-channel") {
                options.eggChannel = n;
            } else {
                options.aiffChannel = n;
            }
            break;
        }
        case Takes::Time: {
            double ms = 0.0;
            if (!parseDouble(value, ms) || ms < 0.0) {
                err << "phonaxis-cli: " << arg << " takes a time in ms, not \"" << value << "\"\n";
                return false;
            }
            if (arg == "--step" && !(ms > 0.0)) {
                err << "phonaxis-cli: --step takes a time in ms above 0, not \"" << value << "\"\n";
                return false;
            }
            (arg == "--at"     ? options.atMs
             : arg == "--from" ? options.fromMs
             : arg == "--to"   ? options.toMs
                               : options.stepMs) = ms;
            break;
        }
        case Takes::Count: {
            const int limit = arg == "--columns" ? kMaxColumns
                              : arg == "--rows"  ? kMaxRows
                                                 : kMaxPictureSide;
            int n = 0;
            if (!parseInt(value, n) || n < 1 || n > limit) {
                err << "phonaxis-cli: " << arg << " takes a whole number from 1 to " << limit
                    << ", not \"" << value << "\"\n";
                return false;
            }
            (arg == "--columns" ? options.columns
             : arg == "--rows"  ? options.rows
             : arg == "--width" ? options.widthPx
                                : options.heightPx) = n;
            break;
        }
        case Takes::Path:
            if (value.empty()) {
                err << "phonaxis-cli: " << arg << " needs a file name\n";
                return false;
            }
            (arg == "--png"           ? options.pngPath
             : arg == "--labels"      ? options.labelsPath
             : arg == "--textgrid"    ? options.textgridPath
             : arg == "--device"      ? options.device
             : arg == "--firmware"    ? options.firmwarePath
             : arg == "--save-config" ? options.saveConfigPath
                                      : options.configPath) = value;
            break;
        case Takes::Seconds: {
            double seconds = 0.0;
            if (!parseDouble(value, seconds) || !(seconds > 0.0) || seconds > kMaxRecordSeconds) {
                err << "phonaxis-cli: " << arg << " takes a time in seconds above 0 and at most "
                    << kMaxRecordSeconds << ", not \"" << value << "\"\n";
                return false;
            }
            options.seconds = seconds;
            break;
        }
        case Takes::Rate: {
            int rate = 0;
            if (!parseInt(value, rate) || (rate != 44100 && rate != 22050 && rate != 11025)) {
                err << "phonaxis-cli: " << arg << " takes 44100, 22050 or 11025, not \"" << value
                    << "\"\n";
                return false;
            }
            options.rateHz = rate;
            break;
        }
        case Takes::Assignment:
            options.assignments.push_back(value);
            break;
        case Takes::Name:
            if (value.empty()) {
                err << "phonaxis-cli: " << arg << " needs a tier's name or number\n";
                return false;
            }
            options.tier = value;
            break;
        case Takes::ChannelList: {
            std::vector<int> entries;
            if (!parseChannelList(value, entries)) {
                err << "phonaxis-cli: " << arg
                    << " takes entry numbers separated by commas, each once (0 the audio, 1.. "
                       "the analog channels), not \"" << value << "\"\n";
                return false;
            }
            options.boxChannels = std::move(entries);
            break;
        }
        case Takes::BoxChannels: {
            int channels = 0;
            if (!parseInt(value, channels) || (channels != 9 && channels != 5 && channels != 2)) {
                err << "phonaxis-cli: " << arg << " takes 9, 5 or 2 (channels), not \"" << value
                    << "\"\n";
                return false;
            }
            options.simulateBox = channels;
            break;
        }
        case Takes::PlotType: {
            int type = 0;
            if (!parseInt(value, type) || type < 0 || type > 2) {
                err << "phonaxis-cli: " << arg
                    << " takes 0 (F1/F2), 1 (F1/F2') or 2 (F1/F3), not \"" << value << "\"\n";
                return false;
            }
            options.plotType = type;
            break;
        }
        case Takes::Nothing:
            break;
        }
    }
    return true;
}

// The options `command` takes besides its files.
std::vector<std::string_view> optionsOf(const std::string& command)
{
    // One list per command, appended in one go (GCC 12 reports a false array
    // bound at -O3 for repeated insertions of initializer lists).
    static const std::vector<std::pair<std::string_view, std::vector<std::string_view>>> table = {
        {"info", {"--aiff-channel", "--json"}},
        {"convert", {"--aiff-channel", "--channel", "--from", "--to", "--labels", "--tier"}},
        {"labels",
         {"--aiff-channel", "--channel", "--textgrid", "--points", "--intervals", "--short",
          "--utf16", "--json",
          "--table", "--csv"}},
        {"settings", {"--config", "--set", "--json", "--save-config"}},
        {"spectrum",
         {"--labels", "--textgrid", "--tier", "--aiff-channel", "--json", "--table", "--csv", "--channel", "--config", "--set", "--at",
          "--from", "--to", "--frame", "--png", "--width", "--height", "--precise",
          "--classic"}},
        {"spectrogram",
         {"--labels", "--textgrid", "--tier", "--aiff-channel", "--json", "--table", "--csv", "--channel", "--config", "--set",
          "--from", "--to", "--columns", "--rows", "--png", "--width", "--height", "--precise",
          "--classic"}},
        {"formant-track",
         {"--labels", "--textgrid", "--tier", "--aiff-channel", "--json", "--table", "--csv", "--channel", "--config", "--set",
          "--from", "--to", "--step", "--precise", "--classic"}},
        {"pitch",
         {"--labels", "--textgrid", "--tier", "--aiff-channel", "--json", "--table", "--csv", "--channel", "--config", "--set",
          "--from", "--to", "--png", "--width", "--height", "--precise", "--classic"}},
        {"egg",
         {"--aiff-channel", "--json", "--table", "--csv", "--config", "--set", "--channel",
          "--labels", "--textgrid", "--tier"}},
        {"formants", {"--png", "--plot-type", "--width", "--height"}},
        {"voice",
         {"--aiff-channel", "--json", "--table", "--csv", "--channel", "--egg-channel", "--config",
          "--set", "--from", "--to"}},
        {"play", {"--aiff-channel", "--from", "--to", "--device"}},
        {"record",
         {"--seconds", "--rate", "--device", "--box", "--channels", "--simulate-box",
          "--firmware"}},
        {"box", {"--simulate-box", "--firmware"}},
    };
    for (const auto& [name, options] : table) {
        if (name == command) {
            return options;
        }
    }
    return {"--aiff-channel", "--json", "--config", "--set"};
}

// A cut-off file is still worth analysing, but not without saying so.
void noteShortRecording(const std::string& path, const MyDocument& document, std::ostream& err)
{
    if (const auto& shortfall = document.m_shortRecording) {
        err << "phonaxis-cli: \"" << path << "\": " << shortfall->text() << "\n";
    }
}

} // namespace

std::string manualPage()
{
    std::string page = ".TH PHONAXIS\\-CLI 1 \"\" \"Phonaxis " PHONAXIS_VERSION "\" \"User Commands\"\n"
                       ".SH NAME\n"
                       "phonaxis\\-cli \\- measurements, pictures and recordings of speech, EGG\n"
                       "and transducer channels without a display\n"
                       ".SH SYNOPSIS\n"
                       ".B phonaxis\\-cli\n"
                       ".I COMMAND\n"
                       "[\n"
                       ".I OPTIONS\n"
                       "]\n"
                       ".SH DESCRIPTION\n"
                       "phonaxis\\-cli produces every measurement the Phonaxis desktop application\n"
                       "logs, its pictures, and recordings from the sound card or an acquisition\n"
                       "box, in a terminal or a script. Each command is told below as\n"
                       ".B phonaxis\\-cli COMMAND \\-\\-help\n"
                       "tells it.\n"
                       ".SH COMMANDS\n";
    for (const CommandHelp& help : kCommandHelp) {
        page += roffBlock(help.text);
    }
    page += roffBlock(kOtherUsage);
    page += ".SH OPTIONS\nThe analyses also take:\n";
    for (const OptionHelp& option : kOptionHelp) {
        page += roffBlock(option.text);
    }
    page += ".SH COLUMNS\n" + roffText(kColumnsHeading);
    for (const CommandHelp& columns : kColumnHelp) {
        page += roffBlock(columns.text);
    }
    page += ".SH NOTES\n" + roffBlock(kUsageFooter);
    page += ".SH EXIT STATUS\n"
            ".TP\n.B 0\nthe command did what it was asked\n"
            ".TP\n.B 1\na file could not be read, analysed or written, no box answered, or a\n"
            "recording was ended early\n"
            ".TP\n.B 2\nthe command line is wrong (the message says how), or the command\n"
            "needs the display library this build was made without\n"
            ".SH ENVIRONMENT\n"
            ".TP\n.B PHONAXIS_SIMULATE_BOX\nas \\-\\-simulate\\-box: 9, 5 or 2 channels\n"
            ".TP\n.B PHONAXIS_FIRMWARE\nthe box's firmware image, as \\-\\-firmware\n"
            ".TP\n.B PHONAXIS_CONFIG_DIR\nthe folder of the application configuration\n"
            "instead of ~/.config/Phonaxis\n"
            ".TP\n.B PHONAXIS_FFT_LANES\n2, 4 or 8: the widest vector lanes the FFT uses\n"
            ".TP\n.B QT_QPA_PLATFORM\nthe Qt platform pictures are drawn on; offscreen when unset\n"
            ".SH FILES\n"
            ".TP\n.I ~/.config/Phonaxis/PhonaxisConf.cfg\nthe application configuration\n"
            ".TP\n.I ~/.local/share/Phonaxis/firmware.hex\nthe box's firmware when none is named\n"
            ".TP\n.I ~/.cache/Phonaxis/tmp\nrecordings in progress, kept there when they\n"
            "cannot be written to OUT\n"
            ".TP\n.I /usr/share/phonaxis\nthe demo recording, the simulated box's firmware\n"
            "image and the udev rule for the boxes\n"
            ".SH SEE ALSO\n"
            ".BR phonaxis (1)\n";
    return page;
}

bool Options::has(std::string_view option) const
{
    return std::find(given.begin(), given.end(), option) != given.end();
}

bool openDocument(const std::string& path, MyDocument& document, std::ostream& err)
{
    FileContents file;
    std::string error;
    // A file without a recording's signature is declined before it is read.
    if (!file.open(path, kRecordingFile, error) && !file.declined()) {
        err << "phonaxis-cli: " << error << "\n";
        return false;
    }
    if (file.declined() || !document.readFromData(file.bytes(), fileExtension(path))) {
        err << "phonaxis-cli: \"" << path
            << "\" is not a recording Phonaxis can open (pmf, WAV or AIFF/AIFC), or it is "
               "damaged\n";
        return false;
    }
    noteShortRecording(path, document, err);
    return true;
}

bool openRecording(const std::string& path, RecordingReader& reader, MyDocument& document,
                   std::ostream& err)
{
    std::string error;
    if (!reader.open(path, document, error)) {
        err << "phonaxis-cli: " << error << "\n";
        return false;
    }
    noteShortRecording(path, document, err);
    return true;
}

int checkTimesInside(const Options& options, double lengthMs, std::ostream& err)
{
    for (const auto& [option, value] :
         {std::pair{"--at", options.atMs}, std::pair{"--from", options.fromMs},
          std::pair{"--to", options.toMs}}) {
        if (value && *value > lengthMs) {
            err << "phonaxis-cli: " << option << " " << messageNumber(*value)
                << " ms is beyond the recording's " << messageNumber(lengthMs) << " ms\n";
            return kExitUsage;
        }
    }
    return kExitOk;
}

std::string writtenExtension(const std::string& path)
{
    std::error_code ec;
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec))) {
        const std::filesystem::path reached = std::filesystem::weakly_canonical(path, ec);
        return ec ? std::string() : fileExtension(reached.string());
    }
    return fileExtension(path);
}

int checkRecordLine(const Options& options, const std::string& extension, const std::string& what,
                    std::ostream& err)
{
    if (options.positional.size() != 1) {
        err << "phonaxis-cli: "
            << "record takes one OUT file (phonaxis-cli --help tells more)\n";
        return kExitUsage;
    }
    if (!options.seconds) {
        err << "phonaxis-cli: "
            << "record needs --seconds S, how long to record\n";
        return kExitUsage;
    }
    if (writtenExtension(options.positional[0]) != extension) {
        err << "phonaxis-cli: " << what << ", to a name ending in ." << extension << "\n";
        return kExitUsage;
    }
    return 0;
}

int checkOutputIsNoInput(const std::string& output, const std::vector<std::string>& inputs,
                         std::ostream& err)
{
    for (const std::string& input : inputs) {
        // False (with ec set) when either does not exist: a new file is no input.
        std::error_code ec;
        if (std::filesystem::equivalent(output, input, ec)) {
            err << "phonaxis-cli: \"" << output << "\" is the input file \"" << input
                << "\": an output never replaces an input, choose another name\n";
            return kExitUsage;
        }
    }
    return kExitOk;
}

namespace {

// The files a command line reads and writes. Whatever the command, no
// output may be one of its inputs: a configuration and its settings file,
// a recording or table analysed, the firmware image a box gets.
struct RequestFiles {
    std::vector<std::string> inputs;
    std::vector<std::string> outputs;
};

RequestFiles requestFiles(const std::string& command, const Options& options)
{
    RequestFiles files;
    if (command == "record") {
        files.outputs = options.positional;
    } else if (command == "convert") {
        if (!options.positional.empty()) {
            files.inputs.push_back(options.positional[0]);
        }
        files.outputs.assign(options.positional.begin() + std::min<std::ptrdiff_t>(
                                                              1, std::ssize(options.positional)),
                             options.positional.end());
    } else {
        files.inputs = options.positional;
    }
    if (options.configPath) {
        files.inputs.push_back(*options.configPath);
        files.inputs.push_back(supplementPath(*options.configPath));
    }
    if (command == "record" || command == "box") {
        for (const std::string& input : boxInputs(options)) {
            files.inputs.push_back(input);
        }
    }
    if (options.pngPath) {
        files.outputs.push_back(*options.pngPath);
    }
    if (options.labelsPath) {
        files.inputs.push_back(*options.labelsPath);
    }
    if (options.textgridPath) {
        (command == "labels" ? files.outputs : files.inputs).push_back(*options.textgridPath);
    }
    if (options.saveConfigPath) {
        files.outputs.push_back(*options.saveConfigPath);
        files.outputs.push_back(supplementPath(*options.saveConfigPath));
    }
    return files;
}

int info(const Options& options, std::ostream& out, std::ostream& err)
{
    if (options.positional.size() != 1) {
        err << fullUsage();
        return kExitUsage;
    }
    const std::string& path = options.positional[0];
    AutomaticPrompts prompts(&err, "phonaxis-cli: ", options.aiffChannel);
    auto batch = std::make_unique<BatchDocument>(prompts);
    MyDocument* document = &batch->document;
    // A WAV file's header says all that is printed: its samples stay unread.
    RecordingReader reader;
    if (!openRecording(path, reader, *document, err)) {
        return kExitFailure;
    }
    out << "{\n  \"file\": " << jsonString(path) << ",\n  \"format\": " << document->m_nFileFormat
        << ",\n  \"channelCount\": " << document->m_nNumofChannels << ",\n  \"channels\": [";
    for (int i = 0; i < document->m_nNumofChannels; ++i) {
        const Channels& c = document->getChannel(i);
        out << (i ? ",\n" : "\n") << "    {\"index\": " << i
            << ", \"title\": " << jsonString(c.GetTitle())
            << ", \"unit\": " << jsonString(c.GetUnit()) << ", \"type\": " << c.m_nChannelType
            << ", \"sampleRate\": " << jsonNumber(c.m_dSampleRate)
            << ", \"samples\": " << jsonNumber(c.m_dwFileLength)
            << ", \"ms\": " << jsonNumber(c.m_dLengthMS)
            << ", \"resolution\": " << c.m_nResolutionBits << "}";
    }
    out << "\n  ]\n}\n";
    return kExitOk;
}

int convert(const Options& options, std::ostream& err)
{
    if (options.positional.size() != 2 || options.fromMs.has_value() != options.toMs.has_value()) {
        err << fullUsage();
        return kExitUsage;
    }
    const std::string& inPath = options.positional[0];
    const std::string& outPath = options.positional[1];
    const std::string type = fileExtension(outPath);
    if (type != "wav" && type != "pmf") {
        err << "phonaxis-cli: cannot write \"" << outPath
            << "\": phonaxis-cli writes .wav and .pmf files\n";
        return kExitUsage;
    }
    if (options.fromMs && *options.fromMs >= *options.toMs) {
        err << "phonaxis-cli: --from must be earlier than --to\n";
        return kExitUsage;
    }
    if (options.labelsPath && type != "pmf") {
        return usage(err, "--labels needs a .pmf OUT: a WAV file keeps no labels");
    }
    if (options.tier && !options.labelsPath) {
        return usage(err, "--tier picks a tier of --labels GRID");
    }
    if (const int status = checkOutputIsNoInput(outPath, {inPath}, err)) {
        return status;
    }

    AutomaticPrompts prompts(&err, "phonaxis-cli: ", options.aiffChannel);
    auto batch = std::make_unique<BatchDocument>(prompts);
    MyDocument* document = &batch->document;
    if (!openDocument(inPath, *document, err)) {
        return kExitFailure;
    }
    const int count = document->m_nNumofChannels;
    if (options.channel && *options.channel >= count) {
        err << "phonaxis-cli: --channel " << *options.channel << " is beyond the file's " << count
            << " channels (counted from 0)\n";
        return kExitUsage;
    }
    // The grid's times are the recording's: its labels go in before a
    // stretch is cut, which moves them with the samples.
    if (const int status = addGridLabels(options, *document, err)) {
        return status;
    }

    const bool selection = options.fromMs.has_value();
    if (selection) {
        // The stretch lies inside the recording, the longest of the channels
        // written: a shorter channel gives what it holds of it.
        double lengthMs = 0.0;
        for (int i = 0; i < count; ++i) {
            if (!options.channel || i == *options.channel) {
                lengthMs = std::max(lengthMs, document->getChannel(i).m_dLengthMS);
            }
        }
        if (const int status = checkTimesInside(options, lengthMs, err)) {
            return status;
        }
        // The selection is made as the main view makes it: the marker at the
        // start, the cursor at the end.
        for (int i = 0; i < count; ++i) {
            Channels& channel = document->getChannel(i);
            channel.SetMarkerValues_Time(*options.fromMs);
            channel.SetCursorInFile_Time(*options.toMs);
            channel.CalculateDuration();
            // Every channel written gets at least one sample.
            if ((!options.channel || i == *options.channel) &&
                !(channel.m_dDurationStopFile - channel.m_dDurationStartFile >= 1.0)) {
                err << "phonaxis-cli: the stretch from " << messageNumber(*options.fromMs)
                    << " ms to " << messageNumber(*options.toMs)
                    << " ms holds no sample of channel " << i << "\n";
                return kExitUsage;
            }
        }
        document->m_bHaveSelection = true;
    }

    std::optional<Bytes> bytes;
    if (type == "wav" && !options.channel) {
        // A WAV file holds every channel over channel 0's frames: a longer
        // channel would lose its samples beyond them.
        if (const std::vector<int> cut = document->wavCutChannels(selection); !cut.empty()) {
            err << "phonaxis-cli: cannot write \"" << outPath << "\": a WAV file holds every "
                << "channel over the length of channel 0, which would cut channel"
                << (cut.size() > 1 ? "s" : "");
            for (std::size_t k = 0; k < cut.size(); ++k) {
                err << (k == 0 ? " " : k + 1 == cut.size() ? " and " : ", ") << cut[k];
            }
            err << "; write a .pmf file, or each channel with --channel N\n";
            return kExitFailure;
        }
    }
    if (type == "wav") {
        bytes = options.channel
                    ? document->Save_WAVE_FileType_float(selection, *options.channel, 1, true)
                    : document->Save_WAVE_FileType_float(selection, -1, count, false);
    } else {
        // The native files hold the shown channels: one channel is written by
        // showing only it. A recording read from a USB2 float file stays one.
        if (options.channel) {
            for (int i = 0; i < count; ++i) {
                document->getChannel(i).m_bShow = i == *options.channel;
            }
        }
        bytes = document->m_nFileFormat == FileFormat::kUsb2Float
                    ? document->Save_KVQ_PC_USB2_Float_FileType(selection)
                    : document->Save_KVQ_PC_Float_FileType(selection);
    }
    if (!bytes) {
        err << "phonaxis-cli: \"" << outPath << "\" was not written\n";
        return kExitFailure;
    }
    std::string error;
    if (!writeFileAtomically(outPath, *bytes, error)) {
        err << "phonaxis-cli: " << error << "\n";
        return kExitFailure;
    }
    return kExitOk;
}

} // namespace

std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
            ++i;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else {
            // Copy a well-formed UTF-8 sequence; anything else becomes U+FFFD.
            std::size_t len = 0;
            unsigned min = 0;
            unsigned cp = 0;
            if ((c & 0xE0) == 0xC0) {
                len = 2, min = 0x80, cp = c & 0x1F;
            } else if ((c & 0xF0) == 0xE0) {
                len = 3, min = 0x800, cp = c & 0x0F;
            } else if ((c & 0xF8) == 0xF0) {
                len = 4, min = 0x10000, cp = c & 0x07;
            }
            bool ok = len > 0 && i + len <= n;
            for (std::size_t k = 1; ok && k < len; ++k) {
                ok = (p[i + k] & 0xC0) == 0x80;
                cp = (cp << 6) | (p[i + k] & 0x3F);
            }
            ok = ok && cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
            if (ok) {
                out.append(text, i, len);
                i += len;
            } else {
                out += "\xEF\xBF\xBD";
                ++i;
            }
        }
    }
    out += '"';
    return out;
}

int usage(std::ostream& err, const std::string& message)
{
    err << "phonaxis-cli: " << message << "\n";
    return kExitUsage;
}

int failure(std::ostream& err, const std::string& message)
{
    err << "phonaxis-cli: " << message << "\n";
    return kExitFailure;
}

std::string jsonNumber(double value)
{
    if (!std::isfinite(value)) {
        return "null";
    }
    char buf[64];
    const auto result = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, result.ptr);
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    if (args.empty()) {
        err << fullUsage();
        return kExitUsage;
    }
    const std::string& command = args[0];
    if (command == "--version") {
        out << "phonaxis-cli " << PHONAXIS_VERSION << "\n";
        return kExitOk;
    }
    if (command == "--help" || command == "-h" || command == "help") {
        // "help COMMAND" is COMMAND's help, as "COMMAND --help" is.
        out << (args.size() == 2 && isCommand(args[1]) ? commandUsage(args[1]) : fullUsage());
        return kExitOk;
    }
    if (!isCommand(command)) {
        err << "phonaxis-cli: unknown command \"" << command << "\"\n" << fullUsage();
        return kExitUsage;
    }
    // Any word after the command that asks for help is answered before the
    // command line is checked, for every command, picture's own options too.
    if (std::any_of(args.begin() + 1, args.end(),
                    [](const std::string& arg) { return arg == "--help" || arg == "-h"; })) {
        out << commandUsage(command);
        return kExitOk;
    }
    if (command == "picture") {
        // The picture command reads its own options (--out, --width, --height).
#ifdef PHONAXIS_HAVE_DISPLAY
        return pictureCommand(std::vector<std::string>(args.begin() + 1, args.end()), out, err);
#else
        err << "phonaxis-cli was built without the display library\n";
        return kExitUsage;
#endif
    }
    Options options;
    if (!parseOptions(args, 1, options, err)) {
        return kExitUsage;
    }
    const std::vector<std::string_view> taken = optionsOf(command);
    for (const std::string& option : options.given) {
        if (std::find(taken.begin(), taken.end(), option) == taken.end()) {
            err << "phonaxis-cli: " << command << " does not take " << option << "\n";
            return kExitUsage;
        }
    }
    if (int(options.json) + int(options.table) + int(options.csv) > 1) {
        return usage(err, "--json, --table and --csv each choose the output's form: give one");
    }
    if (options.precise && options.classic) {
        return usage(err, "--classic and --precise each choose the analysis: give one");
    }
    // Checked once for every command, before any work: nothing is read,
    // recorded or written for a line whose output is one of its inputs.
    const RequestFiles files = requestFiles(command, options);
    for (const std::string& output : files.outputs) {
        if (const int status = checkOutputIsNoInput(output, files.inputs, err)) {
            return status;
        }
    }
    if (command == "info") {
        return info(options, out, err);
    }
    if (command == "box") {
        return boxCommand(options, out, err);
    }
    if (command == "convert") {
        return convert(options, err);
    }
    if (command == "labels") {
        return labelsCommand(options, out, err);
    }
    if (command == "voice") {
        return voiceCommand(options, out, err);
    }
    if (command == "settings") {
        return runSettings(options, out, err);
    }
    if (command == "formants") {
#ifdef PHONAXIS_HAVE_DISPLAY
        return formantsCommand(options, out, err);
#else
        err << "phonaxis-cli was built without the display library\n";
        return kExitUsage;
#endif
    }
    if (command == "play") {
        return playCommand(options, out, err);
    }
    if (command == "record") {
        // The sound card and the box take options of their own.
        for (const std::string& option : options.given) {
            const bool boxOnly =
                option == "--channels" || option == "--simulate-box" || option == "--firmware";
            const bool cardOnly = option == "--rate" || option == "--device";
            if ((boxOnly && !options.box) || (cardOnly && options.box)) {
                err << "phonaxis-cli: record " << (options.box ? "--box" : "without --box")
                    << " does not take " << option << "\n";
                return kExitUsage;
            }
        }
        return options.box ? boxRecordCommand(options, out, err)
                           : recordCommand(options, out, err);
    }
    if (command == "spectrum") {
        return spectrumCommand(options, out, err);
    }
    if (command == "spectrogram") {
        return spectrogramCommand(options, out, err);
    }
    if (command == "formant-track") {
        return formantTrackCommand(options, out, err);
    }
    return command == "pitch" ? pitchCommand(options, out, err) : eggCommand(options, out, err);
}

} // namespace phonaxis::cli
