#include "cli/CliAnalysis.h"

#include "analysis/CMathFunc.h"
#include "analysis/PreciseFormants.h"
#include "cli/CliCommands.h"
#include "cli/CliFormantTrack.h"
#include "cli/CliLabels.h"
#include "cli/CliSession.h"
#include "cli/CliSettings.h"
#include "cli/CliSpectrogramRows.h"
#include "cli/CliTable.h"
#ifdef PHONAXIS_HAVE_DISPLAY
#include "cli/CliPitchPicture.h"
#include "cli/CliSpectrogramPicture.h"
#endif
#include "cli/PngWriter.h"
#include "document/AutomaticPrompts.h"
#include "document/Configuration.h"
#include "document/DocumentSettings.h"
#include "document/FileIO.h"
#include "document/MyDocument.h"
#include "log/EggLogEntries.h"
#include "log/LogTable.h"
#include "windows/PitchAnalysis.h"
#include "windows/SpectrogramAnalysis.h"
#include "windows/SpectrumAnalysis.h"

#ifdef PHONAXIS_HAVE_DISPLAY
#include "cli/CliPicture.h"
#include "cli/CliSpectrumPicture.h"
#include "display/GraphAxes.h"
#endif

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace phonaxis::cli {

namespace {

constexpr const char* kPrefix = "phonaxis-cli: ";

constexpr int kDefaultColumns = 1000;
constexpr int kDefaultRows = 256;
// The computed spectrogram holds a double per cell: 128 MB at most.
constexpr std::int64_t kMaxCells = 16 * 1024 * 1024;
// Rows one spectrogram run may print (time span / log step). The rows are
// streamed, so memory does not bound them; the bound keeps each row's time
// (start + i·step, i counted in a double) exact and the output finite.
constexpr double kMaxFormantRows = 1.0e12;
// Rows of the spectrogram's log formatted (and held) at a time.
constexpr std::size_t kRecordBlock = 8192;
// Text of the spectrogram's rows held while its picture is being made.
constexpr std::size_t kHeldRecordBytes = std::size_t{64} << 20;
// Formants a spectrum or a spectrogram column reports.
constexpr int kFormants = SpectrumAnalysis::kFormantsShown;

std::string msText(double ms)
{
    return messageNumber(ms) + " ms";
}

// The stretch --from/--to as far as it can be checked without the file.
int checkStretchForm(const Options& options, std::ostream& err)
{
    if (options.fromMs.has_value() != options.toMs.has_value()) {
        return usage(err, "--from and --to go together");
    }
    if (options.fromMs && !(*options.fromMs < *options.toMs)) {
        return usage(err, "--from must be earlier than --to");
    }
    return kExitOk;
}

// Opens the FILE of an analysis and applies the settings.
int openSession(const Options& options, const std::string& command, Session& session,
                std::ostream& err)
{
    if (options.positional.size() != 1) {
        return usage(err, command + " takes one FILE (phonaxis-cli --help tells more)");
    }
    if (const int status = checkAssignments(options, command, err)) {
        return status;
    }
    session.path = options.positional[0];
    session.displayName = std::filesystem::path(session.path).filename().string();
    session.prompts = std::make_unique<AutomaticPrompts>(&err, kPrefix, options.aiffChannel);
    session.batch = std::make_unique<BatchDocument>(*session.prompts);
    session.reader = std::make_unique<RecordingReader>();
    if (!openRecording(session.path, *session.reader, session.document(), err)) {
        return kExitFailure;
    }
    return applySettings(options, *session.batch, err);
}

// Reads the samples of the channel the command analyses (--channel N, else
// the audio channel) from `fromMs` to `toMs`, or all of them, when the file
// was opened from its header. A channel that does not exist is left to the
// checks that word it for the user. 0, or kExitFailure after a message.
int readAnalysedChannel(Session& session, const Options& options, std::optional<double> fromMs,
                        std::optional<double> toMs, std::ostream& err)
{
    MyDocument& document = session.document();
    if (!session.reader || !session.reader->headerOnly()) {
        return kExitOk;
    }
    const int channel = options.channel ? *options.channel : document.audioChannelIndex();
    if (channel < 0 || channel >= document.channelsInUse()) {
        return kExitOk;
    }
    const Channels& c = document.getChannel(channel);
    std::int64_t from = 0;
    std::int64_t to = std::numeric_limits<std::int64_t>::max();
    if (fromMs && toMs) {
        const double samplesPerMs = c.m_dSampleRate / 1000.0;
        const double context = analysisContextMs(document, c);
        from = static_cast<std::int64_t>(std::max(0.0, std::floor((*fromMs - context) * samplesPerMs)));
        to = static_cast<std::int64_t>(
            std::min(c.m_dwFileLength, std::ceil((*toMs + context) * samplesPerMs) + 1.0));
    }
    std::string error;
    if (!session.reader->readSamples(document, channel, from, to, error)) {
        return failure(err, error);
    }
    return kExitOk;
}

// Channel `channel` of the file: 0, kExitUsage when the file has no such
// channel, kExitFailure when it holds no samples.
int checkChannel(Session& session, int channel, std::ostream& err)
{
    const int count = session.document().channelsInUse();
    if (channel >= count) {
        return usage(err, "--channel " + std::to_string(channel) + " is beyond the file's " +
                              std::to_string(count) + " channels (counted from 0)");
    }
    if (session.document().getChannel(channel).samples().empty()) {
        return failure(err, "channel " + std::to_string(channel) + " of \"" + session.path +
                                "\" holds no samples");
    }
    return kExitOk;
}

// The channel the audio analyses read, with its index: --channel N, which
// becomes the batch document's audio channel (so that every engine and
// picture takes it), or else the file's audio channel. 0, or the exit status
// after a message.
int audioChannel(Session& session, const Options& options, Channels*& audio, int& index,
                 std::ostream& err)
{
    MyDocument& document = session.document();
    if (options.channel) {
        if (const int status = checkChannel(session, *options.channel, err)) {
            return status;
        }
        for (int i = 0; i < document.channelsInUse(); ++i) {
            Channels& channel = document.getChannel(i);
            if (channel.m_nChannelType == 1) {
                channel.m_nChannelType = 0;
            }
        }
        document.getChannel(*options.channel).m_nChannelType = 1;
    }
    index = document.audioChannelIndex();
    if (index < 0 || document.getChannel(index).samples().empty()) {
        return failure(err, "\"" + session.path + "\" has no audio channel with samples");
    }
    audio = &document.getChannel(index);
    return kExitOk;
}

} // namespace

double analysisContextMs(const MyDocument& document, const Channels& channel)
{
    const double rate = channel.m_dSampleRate;
    const auto samplesMs = [rate](double samples) {
        return rate > 0.0 && std::isfinite(samples) ? std::abs(samples) * 1000.0 / rate : 0.0;
    };
    const auto ms = [](double value) { return std::isfinite(value) ? std::abs(value) : 0.0; };
    double windows = ms(document.m_dPitchWindowLength) + ms(channel.m_dIntensityWindowLengthMS) +
                     samplesMs(document.m_nFFTWindowLength) +
                     samplesMs(document.m_nSpecWindowLength) +
                     ms(document.m_nFFTAverageStepSize) + ms(document.m_dLogStepSize) +
                     PreciseFormants::kWindowMs +
                     // The precise pitch track of a stretch searches its path
                     // over frames either side of it.
                     ms(document.m_dPitchStepSize) * (PitchAnalysis::kStretchContextFrames + 3);
    // Three periods of the pitch floor, the precise pitch window.
    if (document.m_dCalculationLow > 0.0) {
        windows += ms(3000.0 / document.m_dCalculationLow);
    }
    return 1000.0 + 2.0 * windows;
}

int openAudioAnalysis(const Options& options, const char* command, Session& session,
                      Channels*& audio, int& index, std::ostream& err, StretchReading reading)
{
    if (const int status = checkStretchForm(options, err)) {
        return status;
    }
    if (const int status = openSession(options, command, session, err)) {
        return status;
    }
    std::optional<double> fromMs;
    std::optional<double> toMs;
    if (reading == StretchReading::Stretch ||
        (reading == StretchReading::StretchWhenPrecise && session.document().m_bPreciseAnalysis)) {
        fromMs = options.atMs ? options.atMs : options.fromMs;
        toMs = options.atMs ? options.atMs : options.toMs;
    }
    if (const int status = readAnalysedChannel(session, options, fromMs, toMs, err)) {
        return status;
    }
    if (const int status = audioChannel(session, options, audio, index, err)) {
        return status;
    }
    if (const int status = checkTimesInside(options, audio->m_dLengthMS, err)) {
        return status;
    }
    return attachLabels(options, session, index, err);
}

int printRecords(const std::vector<LogRecord>& records, const std::function<Table()>& named,
                 const Options& options, std::ostream& out)
{
    if (!options.table && !options.csv && !options.json) {
        writeLogText(records, out);
        return kExitOk;
    }
    const Table table = named();
    if (options.table) {
        writeTsv(table, out);
    } else if (options.csv) {
        writeCsv(table, out);
    } else {
        writeLogJson(records, out, &table);
    }
    return kExitOk;
}

Table namedTable(std::vector<std::string> columns)
{
    Table table;
    table.columns = {"file", "channel"};
    table.columns.insert(table.columns.end(), columns.begin(), columns.end());
    return table;
}

std::vector<Table::Cell>& addRow(Table& table, const Session& session, int channel)
{
    table.rows.push_back({session.path, static_cast<double>(channel)});
    return table.rows.back();
}

std::vector<std::string> numberedColumns(char letter, int count)
{
    std::vector<std::string> names;
    for (int i = 1; i <= count; ++i) {
        std::string name(1, letter);
        name.append(std::to_string(i)).append("_hz");
        names.push_back(std::move(name));
    }
    return names;
}

Table::Cell formantCell(double value)
{
    return cellIf(value > 0.0, value);
}

namespace {

// Intensity of `channel` in dB relative to full scale at `timeMs`, the level
// the log records give (Channels::intensityDbfsAt); missing where digitally
// silent (the log format gives the floor, CMathFunc::kIntensityFloorDb).
Table::Cell intensityDbfs(const Channels& channel, double timeMs)
{
    const double level = channel.intensityDbfsAt(timeMs);
    return cellIf(level > CMathFunc::kIntensityFloorDb, level);
}

// The spectrum's records as named rows: the time (--at) or the stretch
// averaged (--from/--to), then the formants and bandwidths, or with --frame
// the level of the spectrum (and the LPC envelope) at each frequency step.
Table spectrumTable(const std::vector<LogRecord>& records, const Options& options,
                    const Session& session, int channel)
{
    std::vector<std::string> columns;
    std::vector<Table::Cell> place;
    if (options.atMs) {
        columns = {"time_ms"};
        place = {numberCell(*options.atMs)};
    } else {
        columns = {"from_ms", "to_ms"};
        place = {numberCell(options.fromMs.value_or(0.0)), numberCell(options.toMs.value_or(0.0))};
    }
    // A precise model's envelope ends at its ceiling: the records above it
    // carry no LPC level, and their cell stays empty.
    const bool withLpc = std::any_of(records.begin(), records.end(),
                                     [](const LogRecord& record) { return record.count > 2; });
    if (options.frame) {
        columns.insert(columns.end(), {"frequency_hz", "fft_rel_db"});
        if (withLpc) {
            columns.push_back("lpc_rel_db");
        }
    } else {
        for (const char letter : {'F', 'B'}) {
            const std::vector<std::string> names = numberedColumns(letter, kFormants);
            columns.insert(columns.end(), names.begin(), names.end());
        }
    }
    Table table = namedTable(std::move(columns));
    for (const LogRecord& record : records) {
        std::vector<Table::Cell>& row = addRow(table, session, channel);
        row.insert(row.end(), place.begin(), place.end());
        const int count = std::clamp(record.count, 0, LogRecord::kValueSlots);
        for (int v = 0; v < count; ++v) {
            const double value = record.values[static_cast<std::size_t>(v)];
            if (options.frame) {
                row.push_back(numberCell(value));
            } else {
                // A bandwidth belongs to the formant kFormants slots before it.
                const double formant = record.values[static_cast<std::size_t>(v % kFormants)];
                row.push_back(formant > 0.0 ? formantCell(value) : Table::Cell{});
            }
        }
        row.resize(table.columns.size());
    }
    return table;
}

// The pitch rows, written a block of frames at a time so that a long
// recording's output is never held whole. A row is a frame: the named
// table's time of frame k is k × the pitch step, where its window starts
// (its centre in the precise mode), so frames line up across files and
// rates; the intensity is measured from that time. The log records are
// timed as the pitch window logs them (PitchAnalysis::frameTime) and
// measure the intensity at that time. Rows are the frames whose time (the
// table's, or the logged one for the log format and JSON) lies within
// [fromMs, toMs]. Blocks are formatted on every core, intensities
// included, while the block before is written; the text does not depend on
// how many cores there are.
class PitchRowWriter {
public:
    PitchRowWriter(const PitchAnalysis& pitch, const Channels& audio, int channel,
                   const Session& session, const Options& options, double fromMs, double toMs)
        : m_pitch(pitch), m_audio(audio), m_channel(channel), m_session(session),
          m_options(options), m_fromMs(fromMs), m_toMs(toMs)
    {
    }

    int write(std::ostream& out)
    {
        const int frames = static_cast<int>(std::min<std::size_t>(
            static_cast<std::size_t>(std::max(m_pitch.m_bHavePitch ? m_pitch.m_nFrameCount : 0, 0)),
            m_pitch.m_hdPitchFile.size()));
        const int blocks = (frames + kFramesPerBlock - 1) / kFramesPerBlock;
        const int threads = static_cast<int>(
            std::clamp(std::thread::hardware_concurrency(), 1U, kMaxFormatThreads));
        const int wave = 2 * threads;
        if (m_options.json) {
            out << "[";
        } else if (m_options.table || m_options.csv) {
            Table header = namedTable({"time_ms", "f0_hz", "intensity_dbfs"});
            addLabelColumn(header, m_session);
            m_options.table ? writeTsv(header, out) : writeCsv(header, out);
        }
        std::vector<std::string> current;
        std::vector<std::string> next;
        std::thread writer;
        const auto finishWriting = [&] {
            if (writer.joinable()) {
                writer.join();
            }
        };
        for (int firstBlock = 0; firstBlock < blocks; firstBlock += wave) {
            const int count = std::min(wave, blocks - firstBlock);
            next.assign(static_cast<std::size_t>(count), std::string());
            std::atomic<int> nextBlock{0};
            const auto format = [&] {
                for (int b = nextBlock.fetch_add(1); b < count; b = nextBlock.fetch_add(1)) {
                    const int first = (firstBlock + b) * kFramesPerBlock;
                    next[static_cast<std::size_t>(b)] =
                        blockText(first, std::min(frames, first + kFramesPerBlock));
                }
            };
            std::vector<std::thread> helpers;
            for (int t = 1; t < std::min(threads, count); ++t) {
                try {
                    helpers.emplace_back(format);
                } catch (const std::system_error&) {
                    break; // the threads that started, and this one, do the rest
                }
            }
            format();
            for (std::thread& helper : helpers) {
                helper.join();
            }
            finishWriting();
            current.swap(next);
            const auto writeCurrent = [this, &current, &out] {
                for (const std::string& text : current) {
                    put(text, out);
                }
            };
            try {
                writer = std::thread(writeCurrent);
            } catch (const std::system_error&) {
                writeCurrent(); // no thread to spare: written before the next wave
            }
        }
        finishWriting();
        if (m_options.json) {
            out << (m_anyRecord ? "\n]\n" : "]\n");
        } else if (!m_options.table && !m_options.csv && !m_anyRecord) {
            writeLogText({}, out);
        }
        return kExitOk;
    }

private:
    static constexpr int kFramesPerBlock = 2048;
    static constexpr unsigned kMaxFormatThreads = 16;

    // The block's text. The log format's begins with its header line, which
    // only the first block that has records writes; JSON objects each begin
    // with ",\n  ".
    std::string blockText(int first, int last) const
    {
        const bool named = m_options.table || m_options.csv;
        const bool withIntensity = m_pitch.m_parameters.m_bPitchDrawIntensity;
        const double stepMs = m_pitch.m_parameters.m_dPitchStepSize;
        std::vector<LogRecord> records;
        Table table = namedTable({"time_ms", "f0_hz", "intensity_dbfs"});
        for (int k = first; k < last; ++k) {
            const double timeMs = (m_pitch.m_nFirstFrame + k) * stepMs;
            const double loggedMs = m_pitch.frameTime(k);
            const double selectedBy = named ? timeMs : loggedMs;
            if (selectedBy < m_fromMs || selectedBy > m_toMs) {
                continue;
            }
            const double f0 = m_pitch.m_hdPitchFile[static_cast<std::size_t>(k)];
            if (named || m_options.json) {
                std::vector<Table::Cell>& row = addRow(table, m_session, m_channel);
                row.push_back(numberCell(timeMs));
                row.push_back(cellIf(f0 > 0.0, f0));
                row.push_back(withIntensity ? intensityDbfs(m_audio, timeMs) : Table::Cell{});
            }
            if (!named) {
                LogRecord record;
                record.name = m_session.displayName;
                record.definition = PitchAnalysis::kSelectionHeader;
                record.append(loggedMs);
                record.append(f0);
                record.append(withIntensity ? m_audio.intensityDbfsAt(loggedMs) : 0.0);
                records.push_back(std::move(record));
            }
        }
        addLabelColumn(table, m_session);
        std::ostringstream text;
        if (m_options.table) {
            writeTsv(table, text);
        } else if (m_options.csv) {
            writeCsv(table, text);
        } else if (m_options.json) {
            for (std::size_t i = 0; i < records.size(); ++i) {
                const LogRecord& record = records[i];
                text << ",\n  {\"name\": " << jsonString(record.name)
                     << ", \"definition\": " << jsonString(record.definition) << ", \"values\": [";
                for (int v = 0; v < record.count; ++v) {
                    text << (v ? ", " : "")
                         << jsonNumber(record.values[static_cast<std::size_t>(v)]);
                }
                text << "]" << jsonFields(table.columns, table.rows[i]) << "}";
            }
            return text.str();
        } else if (!records.empty()) {
            writeLogText(records, text);
        }
        return text.str();
    }

    // Writes a block's text: without the header line that every named
    // table block and every log block begins with, except the log's first.
    void put(const std::string& text, std::ostream& out)
    {
        if (text.empty()) {
            return;
        }
        std::size_t from = 0;
        if (m_options.json) {
            from = m_anyRecord ? 0 : 1; // the first object follows "[" directly
        } else if (m_options.table || m_options.csv || m_anyRecord) {
            const std::size_t lineEnd = text.find('\n');
            from = lineEnd == std::string::npos ? text.size() : lineEnd + 1;
        }
        m_anyRecord = true;
        out.write(text.data() + from, static_cast<std::streamsize>(text.size() - from));
    }

    const PitchAnalysis& m_pitch;
    const Channels& m_audio;
    int m_channel;
    const Session& m_session;
    const Options& m_options;
    double m_fromMs;
    double m_toMs;
    bool m_anyRecord = false; // a record (a row) has been written
};

#ifndef PHONAXIS_HAVE_DISPLAY
// Without the display library --png writes the spectrogram image alone, in
// grey with the formant dots in red, as the windows draw them: for each
// column and each of its formants above 50 Hz, a 3 × 3 dot at the column's x,
// (int)(F·height/frequency range) above the bottom when that lies inside.
std::optional<RgbImage> spectrogramPicture(const SpectrogramResult& result, int frequencyRangeHz)
{
    const SpectrogramImage grey = DrawSpectrogramBMP(result, result.columns, result.rows);
    std::optional<RgbImage> picture = RgbImage::blank(grey.width, grey.height);
    if (!picture || grey.entries.size() != picture->pixels.size() / 3) {
        return std::nullopt;
    }
    for (int y = 0; y < grey.height; ++y) {
        for (int x = 0; x < grey.width; ++x) {
            const std::uint8_t g = SpectrogramImage::grey(
                grey.entries[static_cast<std::size_t>(y) * static_cast<std::size_t>(grey.width) +
                             static_cast<std::size_t>(x)]);
            picture->set(x, y, g, g, g);
        }
    }
    if (frequencyRangeHz <= 0 || result.columns <= 0) {
        return picture;
    }
    const int height = picture->height;
    for (std::size_t c = 0; c < result.formants.size(); ++c) {
        const int x =
            static_cast<int>(static_cast<std::int64_t>(c) * picture->width / result.columns);
        for (int k = 0; k < 5; ++k) {
            const int value = result.formants[c][static_cast<std::size_t>(k)];
            if (value <= 50) {
                continue;
            }
            const int h =
                static_cast<int>(static_cast<std::int64_t>(value) * height / frequencyRangeHz);
            if (h > 0 && h < height) {
                picture->fillSquare(x, height - 1 - h, 1, 255, 0, 0);
            }
        }
    }
    return picture;
}

#endif

} // namespace

void writeLogText(const std::vector<LogRecord>& records, std::ostream& out)
{
    LogTable table;
    for (const LogRecord& record : records) {
        table.AddLog(record, false);
    }
    out << table.toText();
}

void writeLogJson(const std::vector<LogRecord>& records, std::ostream& out, const Table* named)
{
    out << "[";
    for (std::size_t i = 0; i < records.size(); ++i) {
        const LogRecord& record = records[i];
        out << (i ? ",\n  " : "\n  ") << "{\"name\": " << jsonString(record.name)
            << ", \"definition\": " << jsonString(record.definition) << ", \"values\": [";
        const int count = std::clamp(record.count, 0, LogRecord::kValueSlots);
        for (int v = 0; v < count; ++v) {
            out << (v ? ", " : "") << jsonNumber(record.values[static_cast<std::size_t>(v)]);
        }
        out << "]";
        if (named != nullptr && i < named->rows.size()) {
            out << jsonFields(named->columns, named->rows[i]);
        }
        out << "}";
    }
    out << (records.empty() ? "]\n" : "\n]\n");
}

// --png OUT for an analysis' graph picture, with --width and --height,
// which size it: checked before any file is read. OUT must be a picture
// type and neither FILE nor the --config file.
int checkGraphPictureOptions(const Options& options, std::ostream& err)
{
    if (!options.pngPath) {
        if (options.widthPx || options.heightPx) {
            return usage(err, "--width and --height size the picture of --png OUT");
        }
        return kExitOk;
    }
#ifdef PHONAXIS_HAVE_DISPLAY
    const QSize sizePx(options.widthPx.value_or(kGraphPictureWidthPx),
                       options.heightPx.value_or(kGraphPictureHeightPx));
    if (!pictureSizeUsable(sizePx)) {
        return usage(err, "a picture of " + std::to_string(sizePx.width()) + " x " +
                              std::to_string(sizePx.height()) +
                              " pixels is larger than phonaxis-cli draws");
    }
    std::vector<std::string> inputs(options.positional);
    if (options.configPath) {
        inputs.push_back(*options.configPath);
    }
    return checkPictureOutput(*options.pngPath, inputs, err);
#else
    return usage(err, "this phonaxis-cli was built without the display library and draws "
                      "no pictures (--png)");
#endif
}

int spectrumCommand(const Options& options, std::ostream& out, std::ostream& err)
{
    if (options.atMs.has_value() == (options.fromMs.has_value() || options.toMs.has_value())) {
        return usage(err, "spectrum takes either --at MS or --from MS --to MS");
    }
    if (const int status = checkGraphPictureOptions(options, err)) {
        return status;
    }
    Session session;
    Channels* audio = nullptr;
    int index = -1;
    if (const int status = openAudioAnalysis(options, "spectrum", session, audio, index, err,
                                             StretchReading::Stretch)) {
        return status;
    }
    const double samplesPerMs = audio->m_dSampleRate / 1000.0;
    const double startPoint = options.atMs.value_or(options.fromMs.value_or(0.0)) * samplesPerMs;
    const double stopPoint = options.atMs.value_or(options.toMs.value_or(0.0)) * samplesPerMs;

    auto spectrum = std::make_unique<SpectrumAnalysis>();
    switch (spectrum->doPerformFFTLPC(session.document(), startPoint, stopPoint)) {
    case SpectrumStart::Computed:
        break;
    case SpectrumStart::NoData:
        return failure(err, "\"" + session.path + "\" has no samples to analyse");
    case SpectrumStart::Declined:
        return failure(err, "the spectrum settings or times cannot be analysed (see phonaxis-cli "
                            "settings)");
    case SpectrumStart::RangeBeyondAllowed:
        return failure(err, std::string(SpectrumAnalysis::kRangeAlertMessage) + " " +
                                SpectrumAnalysis::kRangeAlertInformative);
    case SpectrumStart::Cancelled: // nothing here asks to stop
        return failure(err, "the spectrum was not computed");
    }
#ifdef PHONAXIS_HAVE_DISPLAY
    if (options.pngPath) {
        if (const int status =
                writeSpectrumPicture(*options.pngPath, options.widthPx, options.heightPx, *spectrum,
                                     session.document(),
                                     GraphCaption{session.displayName, audio->GetTitle(), index,
                                                  options.atMs.value_or(options.fromMs.value_or(0.0)),
                                                  options.atMs.value_or(options.toMs.value_or(0.0)),
                                                  {}},
                                     err)) {
            return status;
        }
    }
#endif
    const std::vector<LogRecord> records =
        options.frame ? spectrum->frameLogRecords(session.displayName)
                      : std::vector<LogRecord>{spectrum->formantsLogRecord(session.displayName)};
    return printRecords(
        records,
        [&] {
            Table table = spectrumTable(records, options, session, index);
            addLabelColumn(table, session);
            return table;
        },
        options, out);
}

int spectrogramCommand(const Options& options, std::ostream& out, std::ostream& err)
{
    const int columns = options.columns.value_or(kDefaultColumns);
    const int rows = options.rows.value_or(kDefaultRows);
    if (static_cast<std::int64_t>(columns) * rows > kMaxCells) {
        return usage(err,
                     "--columns × --rows may be at most " + std::to_string(kMaxCells) + " cells");
    }
#ifdef PHONAXIS_HAVE_DISPLAY
    if (const int status = checkGraphPictureOptions(options, err)) {
        return status;
    }
#else
    // Without the display library --png writes the image alone, as a PNG.
    if ((options.widthPx || options.heightPx)) {
        return usage(err, "this phonaxis-cli was built without the display library and draws "
                          "only the spectrogram's image (--png), not a picture of a size");
    }
    if (options.pngPath) {
        if (fileExtension(*options.pngPath) != "png" ||
            writtenExtension(*options.pngPath) != "png") {
            return usage(err, "--png writes a PNG picture, to a name ending in .png (and not a "
                              "link to another kind of file), not \"" +
                                  *options.pngPath + "\"");
        }
        std::vector<std::string> inputs(options.positional);
        if (options.configPath) {
            inputs.push_back(*options.configPath);
        }
        if (const int status = checkOutputIsNoInput(*options.pngPath, inputs, err)) {
            return status;
        }
    }
#endif
    Session session;
    Channels* audio = nullptr;
    int index = -1;
    if (const int status = openAudioAnalysis(options, "spectrogram", session, audio, index, err,
                                             StretchReading::Stretch)) {
        return status;
    }
    MyDocument& document = session.document();
    const bool selection = options.fromMs.has_value();
    if (selection) {
        // The selection is made as the main view makes it: the marker at the
        // start, the cursor at the end.
        audio->SetMarkerValues_Time(*options.fromMs);
        audio->SetCursorInFile_Time(*options.toMs);
        audio->CalculateDuration();
        document.m_bHaveSelection = true;
    }
    SpectrogramInput input = SpectrogramInput::inPlace(document, selection, columns, rows);
    const double spanMs = input.stopTime - input.startTime;
    if (input.analysed().empty() || !(spanMs > 0.0)) {
        return failure(err, "\"" + session.path + "\" has no samples to analyse");
    }
    if (!(spanMs / document.m_dLogStepSize <= kMaxFormantRows)) {
        return usage(err, "a log step (m_dLogStepSize) of " + msText(document.m_dLogStepSize) +
                              " gives more than " + messageNumber(kMaxFormantRows) +
                              " rows over " + msText(spanMs) +
                              " (phonaxis-cli formant-track gives formants at a fixed step over "
                              "any length)");
    }
    Table named = namedTable({"time_ms"});
    for (const std::string& column : numberedColumns('F', kFormants)) {
        named.columns.push_back(column);
    }
    addLabelColumn(named, session);
    // Without formant tracking no formant records exist and the log gets no
    // rows. The rows are formatted directly from the columns' formants in
    // blocks, two at a time, and written as they are done, so that a long
    // recording at a fine step neither waits on one core nor holds its text.
    SpectrogramResult result;
    std::optional<SpectrogramRowsText> text;
    std::size_t blocks = 0;
    // Blocks formatted while the picture is still being drawn, held (up to
    // kHeldRecordBytes) until it is written.
    std::vector<std::string> held;
    std::atomic<bool> pictureDone{false};
    // The records' columns use every core when they are computed alone;
    // beside a picture they wait until its image is computed, then take the
    // one core its drawing and encoding leave.
    std::atomic<bool> pictureComputed{true};
    int rowThreads = 0;
    const auto computeRows = [&] {
        pictureComputed.wait(false);
        result = DoSpectrogram(input, nullptr, rowThreads);
        if (!result.m_bHaveSpectrogram || result.formants.empty()) {
            return;
        }
        const SpectrogramSelectionRows selectionRows{
            input.startTime, input.stopTime, 0.0, spanMs, document.m_dLogStepSize, result.columns};
        text.emplace(options, session.displayName, session.path, index, result, selectionRows,
                     named, session.labels.get());
        const double count = std::ceil(spanMs / document.m_dLogStepSize) + 1.0;
        blocks = static_cast<std::size_t>(std::ceil(count / static_cast<double>(kRecordBlock)));
        std::size_t heldBytes = 0;
        while (held.size() < blocks && heldBytes < kHeldRecordBytes && !pictureDone.load()) {
            held.push_back(text->block(held.size() * kRecordBlock, kRecordBlock));
            heldBytes += held.back().size();
        }
    };
#ifdef PHONAXIS_HAVE_DISPLAY
    // The records need the columns' formants only (--columns and --rows
    // shape them alone): the picture computes its own image, for its own
    // image area, on this thread while the records are computed on another.
    input.levels = false;
    if (options.pngPath) {
        std::exception_ptr failed;
        std::thread records;
        pictureComputed = false;
        rowThreads = 1;
        const auto computed = [&] {
            pictureComputed = true;
            pictureComputed.notify_all();
        };
        try {
            records = std::thread([&] {
                try {
                    computeRows();
                } catch (...) {
                    failed = std::current_exception();
                }
            });
        } catch (const std::system_error&) {
            // No thread to be had: one after the other.
            computed();
            pictureDone = true;
            rowThreads = 0;
            computeRows();
        }
        // However the picture ends (a throw included), the records' thread
        // is told and joined before anything it uses goes.
        struct Join {
            std::thread& thread;
            std::atomic<bool>& done;
            const std::function<void()> tell;
            ~Join()
            {
                tell();
                done = true;
                if (thread.joinable()) {
                    thread.join();
                }
            }
        };
        int status = kExitOk;
        {
            const Join join{records, pictureDone, computed};
            status = writeSpectrogramPicture(
                options, document, selection,
                GraphCaption{session.displayName, audio->GetTitle(), index, 0.0, 0.0, {}}, err,
                computed);
        }
        if (failed) {
            std::rethrow_exception(failed);
        }
        if (!result.m_bHaveSpectrogram) {
            return failure(err, "no spectrogram could be computed for \"" + session.path + "\"");
        }
        if (status) {
            return status;
        }
    } else {
        pictureDone = true;
        computeRows();
    }
#else
    input.levels = options.pngPath.has_value();
    pictureDone = true;
    computeRows();
#endif
    if (!result.m_bHaveSpectrogram) {
        return failure(err, "no spectrogram could be computed for \"" + session.path + "\"");
    }
#ifndef PHONAXIS_HAVE_DISPLAY
    if (options.pngPath) {
        const std::optional<RgbImage> image =
            spectrogramPicture(result, input.parameters.m_nFreqRange);
        // The image cannot carry a caption: its comment says which
        // analysis the formant dots are.
        const std::optional<Bytes> png =
            image ? encodePng(*image, spectrogramAnalysisCaption(input.parameters,
                                                                  input.sampleRate))
                  : std::nullopt;
        if (!png) {
            return failure(err, "the spectrogram image could not be drawn");
        }
        std::string error;
        if (!writeFileAtomically(*options.pngPath, *png, error)) {
            return failure(err, error);
        }
    }
#endif
    BlockWriter writer(options, out);
    for (const std::string& block : held) {
        if (!writer.put(block)) {
            return failure(err, "the spectrogram's records could not be written");
        }
    }
    const std::size_t next = held.size();
    held = {};
    const bool written = putBlocks(writer, blocks - next, [&](std::size_t block) {
        return text->block((next + block) * kRecordBlock, kRecordBlock);
    });
    if (!written || !writer.finish(named)) {
        return failure(err, "the spectrogram's records could not be written");
    }
    return kExitOk;
}

int pitchCommand(const Options& options, std::ostream& out, std::ostream& err)
{
    if (const int status = checkGraphPictureOptions(options, err)) {
        return status;
    }
    Session session;
    Channels* audio = nullptr;
    int index = -1;
    // A precise stretch is computed from its own samples (the picture shows
    // the whole track).
    if (const int status = openAudioAnalysis(options, "pitch", session, audio, index, err,
                                             options.pngPath ? StretchReading::Whole
                                                             : StretchReading::StretchWhenPrecise)) {
        return status;
    }
    const PitchParameters parameters = PitchParameters::fromDocument(session.document());
    if (!(parameters.m_dCalculationLow < parameters.m_dCalculationHigh)) {
        return usage(err, "m_dCalculationLow (" + messageNumber(parameters.m_dCalculationLow) +
                              " Hz) must be below m_dCalculationHigh (" +
                              messageNumber(parameters.m_dCalculationHigh) + " Hz)");
    }
    // Frames closer than one sample would start on the same sample.
    const double sampleMs = 1000.0 / audio->m_dSampleRate;
    if (parameters.m_dPitchStepSize < sampleMs) {
        return usage(err, "m_dPitchStepSize=" + messageNumber(parameters.m_dPitchStepSize, 6) +
                              " is shorter than one sample at " +
                              messageNumber(audio->m_dSampleRate) + " Hz (" + msText(sampleMs) +
                              ")");
    }
    auto pitch = std::make_unique<PitchAnalysis>();
    pitch->intilize(*audio, index, parameters);
    const double fromMs = options.fromMs.value_or(0.0);
    const double toMs = options.toMs.value_or(audio->m_dLengthMS);
    // A precise stretch is computed by itself, from the samples its frames
    // read, with its context (the picture shows the whole track).
    bool computed = false;
    if (parameters.m_bPreciseAnalysis && options.fromMs && !options.pngPath) {
        const double stepMs = parameters.m_dPitchStepSize;
        const int whole = pitch->wholeFrameCount();
        const auto frameNear = [&](double timeMs) {
            return static_cast<int>(std::clamp(std::floor(timeMs / stepMs), -1.0e9, 1.0e9));
        };
        const int first = std::clamp(
            frameNear(fromMs) - 1 - PitchAnalysis::kStretchContextFrames, 0, whole);
        const int last =
            std::clamp(frameNear(toMs) + 2 + PitchAnalysis::kStretchContextFrames, first, whole);
        std::int64_t firstSample = 0;
        std::int64_t endSample = 0;
        const std::span<const float> samples = audio->samples();
        if (last > first &&
            pitch->preciseStretchSamples(first, last - first, firstSample, endSample)) {
            endSample =
                std::min<std::int64_t>(endSample, static_cast<std::int64_t>(samples.size()));
            firstSample = std::min(firstSample, endSample);
            computed = pitch->DoPreciseStretch(
                samples.subspan(static_cast<std::size_t>(firstSample),
                                static_cast<std::size_t>(endSample - firstSample)),
                firstSample, first, last - first);
        }
    }
    if (!computed && !pitch->DoPitchCepstral(audio->samples())) {
        return failure(err, "no pitch track could be computed for \"" + session.path + "\"");
    }
    if (parameters.m_bPitchDrawIntensity && options.pngPath && !audio->CalculateIntensity()) {
        // The rows measure the level at their own times; only the picture's
        // intensity pane draws the channel's track.
        return failure(err, "no memory for the intensity track");
    }
#ifdef PHONAXIS_HAVE_DISPLAY
    if (options.pngPath) {
        if (const int status =
                writePitchPicture(
                    options, *audio, *pitch, session.document(),
                    GraphCaption{session.displayName, audio->GetTitle(), index, 0.0, 0.0, {}},
                    err)) {
            return status;
        }
    }
#endif
    PitchRowWriter rows(*pitch, *audio, index, session, options, fromMs, toMs);
    return rows.write(out);
}

int eggCommand(const Options& options, std::ostream& out, std::ostream& err)
{
    if (!options.channel) {
        return usage(err, "egg needs --channel N, the EGG channel counted from 0");
    }
    Session session;
    if (const int status = openSession(options, "egg", session, err)) {
        return status;
    }
    if (const int status = readAnalysedChannel(session, options, std::nullopt, std::nullopt, err)) {
        return status;
    }
    MyDocument& document = session.document();
    if (const int status = checkChannel(session, *options.channel, err)) {
        return status;
    }
    if (const int status = attachLabels(options, session, *options.channel, err)) {
        return status;
    }
    Channels& egg = document.getChannel(*options.channel);
    document.m_nEGGChannelIndex = *options.channel;
    if (!egg.EggAnalysisAll()) {
        return failure(err, "no EGG cycles could be computed for \"" + session.path + "\"");
    }
    const std::vector<LogRecord> records = eggCycleLogRecords(document, session.displayName, false);
    // The velocity track is in full scale per second; a quotient that could
    // not be measured is 0.
    const auto named = [&] {
        Table table = namedTable({"contact_ms", "decontact_ms", "next_contact_ms", "cq", "cq_hb",
                                  "cq_pm", "cq_ht", "peak_velocity_per_s", "peak_velocity_ms"});
        for (const LogRecord& record : records) {
            std::vector<Table::Cell>& row = addRow(table, session, *options.channel);
            for (std::size_t v = 0; v < 9; ++v) {
                const bool quotient = v >= 3 && v <= 6;
                row.push_back(quotient ? cellIf(record.values[v] > 0.0, record.values[v])
                                       : numberCell(record.values[v]));
            }
        }
        addLabelColumn(table, session);
        return table;
    };
    return printRecords(records, named, options, out);
}

} // namespace phonaxis::cli
