#pragma once

#include "document/AppSettings.h"
#include "document/MyDocument.h"
#include "document/NumberText.h"
#include "document/RecordingReader.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace phonaxis::cli {

// Exit statuses of phonaxis-cli.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1; // the file could not be read or written
constexpr int kExitUsage = 2;   // the command line is wrong

// Runs phonaxis-cli with its arguments (without the program name). Results
// go to `out`, messages to `err`; returns the exit status.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The manual page phonaxis-cli(1) in the man macros: its name, synopsis,
// every command with its help text, the shared options, the columns of the
// tables, the exit statuses, the environment variables and the files. It is
// made from the same texts as `--help`, so the two never disagree.
std::string manualPage();

// The text of a JSON string literal for `text`, quotes included. Bytes that
// are not valid UTF-8 become U+FFFD.
std::string jsonString(const std::string& text);

// The shortest text that reads back as `value`; "null" when not finite.
std::string jsonNumber(double value);

// "phonaxis-cli: MESSAGE" on `err`; kExitUsage (a wrong command line) or
// kExitFailure (a file that cannot be read, analysed or written).
int usage(std::ostream& err, const std::string& message);
int failure(std::ostream& err, const std::string& message);

// --- shared by the commands ---------------------------------------------------

// The command line after the command name, checked for form: numbers are
// numbers, channels and sizes are in range. Whether a command takes an
// option is the command's decision (`given` names every option seen).
struct Options {
    std::vector<std::string> positional;
    std::vector<std::string> given;
    std::optional<int> channel;
    std::optional<int> eggChannel; // voice --egg-channel N
    std::optional<double> atMs;
    std::optional<double> fromMs;
    std::optional<double> toMs;
    std::optional<double> stepMs; // --step: a formant track's step, above 0
    std::optional<int> columns;
    std::optional<int> rows;
    std::optional<std::string> pngPath;
    std::optional<int> widthPx;  // --width: a graph picture's width
    std::optional<int> heightPx; // --height
    std::optional<int> plotType; // --plot-type: 0 F1/F2, 1 F1/F2', 2 F1/F3
    std::optional<std::string> configPath;
    std::optional<std::string> device; // --device: a sound-card device by name
    std::optional<double> seconds;     // --seconds: how long to record
    std::optional<int> rateHz;         // --rate: the recording rate
    std::vector<std::string> assignments; // --set NAME=VALUE, in order
    // record --box: the acquisition box instead of the sound card.
    bool box = false;
    std::optional<std::vector<int>> boxChannels; // --channels: entries to record
    std::optional<int> simulateBox;              // --simulate-box=N: 9, 5 or 2
    std::optional<std::string> firmwarePath;     // --firmware FILE.hex
    std::optional<std::string> saveConfigPath;   // settings --save-config FILE
    // Labels: --labels adds the label in force to an analysis's rows; convert
    // --labels GRID puts a TextGrid's labels into the file written; --textgrid
    // GRID is the grid an analysis takes its labels from, or the one the
    // labels command writes; --tier NAME picks a grid's tier by name or by
    // position (from 1).
    bool labels = false;
    std::optional<std::string> labelsPath;
    std::optional<std::string> textgridPath;
    std::optional<std::string> tier;
    bool points = false;    // labels --textgrid: point tiers for every channel
    bool intervals = false; // labels --textgrid: interval tiers for every channel
    bool shortForm = false; // labels --textgrid: the short text form
    bool utf16 = false;     // labels --textgrid: UTF-16 instead of UTF-8
    bool frame = false;
    bool json = false;
    bool table = false;   // --table: a header of named columns, tab-separated rows
    bool csv = false;     // --csv: the same table as comma-separated values
    bool precise = false; // --precise: the precise analysis mode (the default)
    bool classic = false; // --classic: the classic analyses
    int aiffChannel = 1;

    bool has(std::string_view option) const;
};

// A document for batch work. Results must not depend on the desktop settings
// of whoever runs them: it starts at a new document's defaults, without the
// application configuration.
struct BatchDocument {
    explicit BatchDocument(Prompts& prompts) : document(prompts, settings) {}
    AppSettings settings;
    MyDocument document;
};

// Opens `path` into `document`; on failure writes a message and returns false.
bool openDocument(const std::string& path, MyDocument& document, std::ostream& err);

// Opens `path` into `document` through `reader`: a WAV file from its
// header alone (its samples then read with reader.readSamples), any other
// recording whole. On failure writes a message and returns false.
bool openRecording(const std::string& path, RecordingReader& reader, MyDocument& document,
                   std::ostream& err);

// Times given on the command line (--at, --from, --to) must lie inside a
// recording `lengthMs` long: 0, or kExitUsage after a message.
int checkTimesInside(const Options& options, double lengthMs, std::ostream& err);

// The lower-case extension of the file a write to `path` changes: that of
// `path`, or, when `path` is a symbolic link, that of the file it leads to
// (so a picture named .png cannot land in a recording through a link).
std::string writtenExtension(const std::string& path);

// The record commands' common line: one OUT file, --seconds, and OUT
// ending in `extension` ("a WAV file" / "a native file" says what is
// written there). 0, or kExitUsage after a message.
int checkRecordLine(const Options& options, const std::string& extension, const std::string& what,
                    std::ostream& err);

// No output replaces an input: `output` must not be the same file as any of
// `inputs` (compared by device and inode, so that another spelling, a hard
// link or a symbolic link is caught). 0, or kExitUsage after a message.
int checkOutputIsNoInput(const std::string& output, const std::vector<std::string>& inputs,
                         std::ostream& err);

} // namespace phonaxis::cli
