#pragma once

#include "cli/CliCommands.h"
#include "cli/CliTable.h"
#include "document/AutomaticPrompts.h"

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace phonaxis {
class Channels;
class LabelsInForce;
} // namespace phonaxis

namespace phonaxis::cli {

// What the analysis commands share: opening FILE with its settings and the
// named table their --table, --csv and --json rows fill.

// One analysis run: the prompts that answer the readers, the document and
// the names the records carry.
struct Session {
    std::string path;
    std::string displayName; // the file name without its folders, as the log shows it
    std::unique_ptr<AutomaticPrompts> prompts;
    std::unique_ptr<BatchDocument> batch;
    // The file, open until the run ends: a WAV file's samples are read from
    // it only for the channel analysed, and only over the stretch the
    // command needs; the other channels hold none.
    std::unique_ptr<RecordingReader> reader;
    // With --labels: the labels the rows are looked up in.
    std::shared_ptr<const LabelsInForce> labels;

    MyDocument& document() { return batch->document; }
};

// What of the analysed channel an analysis reads from a WAV file: all of
// it, or only the stretch --at, or --from to --to, with the context its
// analysis windows need on either side (an analysis whose rows depend only
// on the samples around them), or that stretch when the document's settings
// ask for the precise analysis (the precise pitch track of a stretch).
enum class StretchReading { Whole, Stretch, StretchWhenPrecise };

// The common start of the analyses of the audio channel: the stretch options
// are well formed, the file opens with its settings (`command` names the
// command for the settings it reads), it has an audio channel with samples
// (--channel N makes channel N the audio channel) and the stretch lies
// inside it. 0, or the exit status after a message.
int openAudioAnalysis(const Options& options, const char* command, Session& session,
                      Channels*& audio, int& index, std::ostream& err,
                      StretchReading reading = StretchReading::Whole);

// The samples either side of a stretch that any analysis window of the
// document's settings may reach (ms): a second, and twice every window the
// settings give, so that a row near the stretch's ends is analysed from the
// same samples as in the whole file.
double analysisContextMs(const MyDocument& document, const Channels& channel);

// A table whose rows start with the file and the channel analysed.
Table namedTable(std::vector<std::string> columns);
// A new row of `table` holding the file and the channel.
std::vector<Table::Cell>& addRow(Table& table, const Session& session, int channel);
// `count` names "<letter>1_hz" … for formants and bandwidths.
std::vector<std::string> numberedColumns(char letter, int count);
// A formant frequency or bandwidth slot; slots without a formant hold -1,
// which is a missing value.
Table::Cell formantCell(double value);

} // namespace phonaxis::cli
