#pragma once

// TextGrid annotation files: the text form phonetics tools exchange tiers of
// labels in. A grid spans a time range (seconds) and holds tiers; an interval
// tier covers its range with contiguous intervals, each with a text (often
// empty), and a point ("text") tier holds marks at single times.
//
// Both text forms are read and written: the long one ("xmin = 0", "item
// [1]:", "intervals [1]:") and the short one (the bare values in the same
// order). Files come in UTF-8 or UTF-16 of either byte order, with or
// without a byte-order mark. Texts keep quotes (doubled in the file), line
// breaks and any character.

#include "model/Labels.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace phonaxis {

class Channels;
class MyDocument;

enum class TextGridForm { Long, Short };
enum class TextGridEncoding { Utf8, Utf16BigEndian, Utf16LittleEndian };

struct TextGridInterval {
    double xmin = 0.0; // s
    double xmax = 0.0; // s
    std::string text;  // UTF-8

    friend bool operator==(const TextGridInterval&, const TextGridInterval&) = default;
};

struct TextGridPoint {
    double time = 0.0; // s
    std::string mark;  // UTF-8

    friend bool operator==(const TextGridPoint&, const TextGridPoint&) = default;
};

struct TextGridTier {
    bool isIntervalTier = true; // false: a point ("TextTier") tier
    std::string name;
    double xmin = 0.0;                       // s
    double xmax = 0.0;                       // s
    std::vector<TextGridInterval> intervals; // interval tiers only
    std::vector<TextGridPoint> points;       // point tiers only

    friend bool operator==(const TextGridTier&, const TextGridTier&) = default;
};

struct TextGrid {
    double xmin = 0.0; // s
    double xmax = 0.0; // s
    std::vector<TextGridTier> tiers;

    friend bool operator==(const TextGrid&, const TextGrid&) = default;
};

// How a file was written, as the reader found it.
struct TextGridFileForm {
    TextGridForm form = TextGridForm::Long;
    TextGridEncoding encoding = TextGridEncoding::Utf8;
    bool byteOrderMark = false;
};

// The largest TextGrid file read (a grid of a day's speech is a few MB).
inline constexpr std::uint64_t kLargestTextGridBytes = std::uint64_t{256} << 20;

// Reads a grid from a file's bytes. A damaged or hostile file (not a
// TextGrid, counts that do not match, times out of order or outside the
// grid, a count larger than the file could hold, a file cut short, text that
// is not valid in its encoding) gives nothing and `error` a sentence naming
// the line ("line 12: …"); no half-read grid is ever returned.
// Times that should meet (an interval's end and the next one's start, the
// first and last intervals and the tier's edges, a tier's edges inside the
// grid, points inside their tier) may differ by 1e-9 of their magnitude, at
// least 1 ns, as boundaries computed in floating point by other tools do;
// the times are kept as read. Points at the same time and intervals of zero
// length are accepted.
std::optional<TextGrid> parseTextGrid(std::span<const std::uint8_t> bytes, std::string& error,
                                      TextGridFileForm* found = nullptr);
// Reads the file at `path` (at most kLargestTextGridBytes); errors as above,
// and "cannot open …" sentences for the file itself.
std::optional<TextGrid> readTextGridFile(const std::string& path, std::string& error,
                                         TextGridFileForm* found = nullptr);

// The file's bytes for `grid` in `form` and `encoding` (UTF-16 with a
// byte-order mark, UTF-8 without). Times are written with up to 15
// significant digits, so that a time read from a file and carried through
// milliseconds is written back as the file gave it.
std::vector<std::uint8_t> formatTextGrid(const TextGrid& grid, TextGridForm form,
                                         TextGridEncoding encoding);
// Writes `grid` to `path` in place of any file there, atomically; false and
// `error` on failure, with any old file untouched.
bool writeTextGridFile(const TextGrid& grid, const std::string& path, TextGridForm form,
                       TextGridEncoding encoding, std::string& error);

// --- labels to and from tiers --------------------------------------------------

// A point tier gives a label at each point's time. An interval tier gives a
// label at the start of each interval whose text is not empty, with the
// interval's end kept as the label's dEndTime, so that exporting it again
// gives the same intervals. Times in ms. Labels get the default font and
// colour, left justification, the vertical factor `verticalFactor`, and a
// box sized by `measurer`.
std::vector<LabelTransfer> labelsFromTier(const TextGridTier& tier, double verticalFactor,
                                          const TextMeasurer& measurer);

// One tier assigned to one channel, for an import.
struct TierToChannel {
    int tier = 0;    // index in the grid
    int channel = 0; // document channel, from 0
};

// Adds the labels of each assigned tier to its channel (keeping the labels
// already there). Tiers that share a channel are placed at different heights
// in its strip (the k-th of n at 0.1 + 0.8 k / n of its height). An
// assignment naming a tier or a channel in use that does not exist is
// skipped. Marks the document changed when labels were added; returns the
// number of labels added.
int importTextGridLabels(MyDocument& document, const TextGrid& grid,
                         const std::vector<TierToChannel>& assignments,
                         const TextMeasurer& measurer);

// Which kind of tier an export writes. AsLabels: an interval tier for a
// channel whose labels came from intervals (any of them has a dEndTime), a
// point tier for the others, so that a grid of both kinds comes back as it
// came in.
enum class ExportedTierKind { AsLabels, Intervals, Points };

// The grid for a document's labels: one tier per channel that has labels,
// in channel order, named after the channel's title, over the recording's
// time span (0 to the longest shown channel's length; widened when a label
// lies outside it). Labels at the same time count as one, their texts
// joined by a space (in list order).
// Points: one point per label time (readers keep one point per time).
// Intervals: each label opens an interval that ends at its dEndTime, or, for
// a label without one, at the next label's time (the grid's end for the
// last); an end past the next label's time is cut there; gaps become empty
// intervals; a label at the grid's very end, which could open only an empty
// interval, adds its text to the interval before it.
TextGrid textGridFromDocument(const MyDocument& document, ExportedTierKind kind);
// The grid for one channel's labels: its tier alone, over 0 to the
// channel's length, widened when a label lies outside it.
TextGrid textGridFromChannel(const Channels& channel, ExportedTierKind kind);
// The same for one channel's labels (a tier named after the channel's title);
// labels outside xminS .. xmaxS are left out.
TextGridTier tierFromChannel(const Channels& channel, ExportedTierKind kind, double xminS,
                             double xmaxS);

// The label in force at each time on a channel, for tables grouped by label:
// the last label at or before the time, while its interval (for a label with
// an end) still holds the time, or, for a point label, until the next label.
// Built once per channel; each look-up is a binary search.
class LabelsInForce {
public:
    explicit LabelsInForce(const Channels& channel);
    // The text in force at `timeMs`; empty when no label is.
    const std::string& at(double timeMs) const;
    bool empty() const { return m_starts.empty(); }

private:
    std::vector<double> m_starts; // sorted label times, ms
    std::vector<double> m_ends;   // the interval end, or +inf for a point label
    std::vector<std::string> m_texts;
};

} // namespace phonaxis
