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
}

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

    MyDocument& document() { return batch->document; }
};

// The common start of the analyses of the audio channel: the stretch options
// are well formed, the file opens with its settings (`command` names the
// command for the settings it reads), it has an audio channel with samples
// (--channel N makes channel N the audio channel) and the stretch lies
// inside it. 0, or the exit status after a message.
int openAudioAnalysis(const Options& options, const char* command, Session& session,
                      Channels*& audio, int& index, std::ostream& err);

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
