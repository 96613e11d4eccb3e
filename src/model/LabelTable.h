#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace phonaxis {

class Channels;

// One column of the label table as the window shows it.
struct LabelTableColumn {
    const char* identifier;
    const char* title;
    int width;
    bool rightAligned;
};

// The four columns, in order: running number, channel title, label text and
// time in ms.
inline constexpr LabelTableColumn kLabelTableColumns[] = {
    {"row", "", 10, false},
    {"name", "Signal Name", 100, false},
    {"label", "Label", 80, false},
    {"time", "Time (ms)", 80, true},
};

// One row of the label table: the cells as text, and which label it shows.
struct LabelTableRow {
    std::string row;   // running number from 1 over all labels ("%d")
    std::string name;  // the channel's title
    std::string label; // the label's text
    std::string time;  // the label's time in ms ("%.1f")
    int channelIndex = 0;
    int labelIndex = 0;
};

// The rows for the channels in use (a document's slots 0 .. count - 1):
// channel by channel in order, each channel's labels in list order, numbered
// 1, 2, 3 … across all of them.
std::vector<LabelTableRow> buildLabelTableRows(std::span<const Channels> channels);

// A time cell's text read as a 32-bit float, the way the zoom button reads
// it: leading blanks skipped, then the longest number; any text after it is
// ignored. Nothing when there is no number or it is not a finite float.
std::optional<float> parseLabelTableTime(std::string_view text);

// The time the zoom button jumps to for the selected row (-1: none):
// nothing without a selection or when the row's time cannot be read.
std::optional<float> labelTableJumpTime(std::span<const LabelTableRow> rows, int selectedRow);

} // namespace phonaxis
