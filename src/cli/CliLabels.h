#pragma once

#include "cli/CliCommands.h"
#include "cli/CliTable.h"

#include <iosfwd>

namespace phonaxis {
class LabelsInForce;
class MyDocument;
} // namespace phonaxis

namespace phonaxis::cli {

struct Session;

// phonaxis-cli labels: lists a recording's labels, or writes them as a
// TextGrid file (--textgrid).
int labelsCommand(const Options& options, std::ostream& out, std::ostream& err);

// convert --labels GRID: adds the grid's labels to `document` before it is
// written, tiers to channels as convert's help tells. 0, or the exit status
// after a message.
int addGridLabels(const Options& options, MyDocument& document, std::ostream& err);

// With --labels, the labels an analysis's rows are looked up in: those of
// --textgrid's tier, else the analysed channel's, else the first channel's
// that has labels. Sets session.labels; 0, or the exit status after a
// message. Checks that --labels comes with a named table, and that
// --textgrid and --tier come with --labels.
int attachLabels(const Options& options, Session& session, int channel, std::ostream& err);

// Appends the label column to `table` when the session has labels: each
// row's label in force at its time_ms or contact_ms, or at the middle of its
// from_ms .. to_ms.
void addLabelColumn(Table& table, const Session& session);

} // namespace phonaxis::cli
