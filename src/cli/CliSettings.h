#pragma once

#include <iosfwd>
#include <string_view>

namespace phonaxis::cli {

struct Options;
struct BatchDocument;

// Every --set is checked before a file is read, so that a mistake on the
// command line is told as one whatever the file holds. `command` is the
// command the settings are for: a --set of a setting that nothing the
// command prints or draws (its picture only with --png) reads is told on
// `err`, and the run goes on. 0, or kExitUsage after a message.
int checkAssignments(const Options& options, std::string_view command, std::ostream& err);

// --config, --classic or --precise, and then each --set, into a document
// already opened.
// 0, or kExitFailure after a message.
int applySettings(const Options& options, BatchDocument& batch, std::ostream& err);

// The settings command: every setting --set accepts, after --config and
// --set, one per line as NAME=VALUE, a tab and "# unit; range; meaning"
// (with --json an array of objects). With --save-config FILE it lists
// nothing and writes them as a user configuration, as the application
// saves one; each --set the file does not keep is told on `err`.
int runSettings(const Options& options, std::ostream& out, std::ostream& err);

} // namespace phonaxis::cli
