#include "cli/CliLabels.h"

#include "cli/CliSession.h"
#include "document/AutomaticPrompts.h"
#include "document/MyDocument.h"
#include "document/TextGrid.h"
#include "model/Channels.h"
#include "model/LabelTable.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace phonaxis::cli {

namespace {

// Label boxes without a display: the size the default label font gives a
// text, near enough for the desktop to place the label until it measures it.
class EstimatedTextMeasurer : public TextMeasurer {
public:
    RectD measure(const std::string& text, const LabelFont& font) const override
    {
        std::size_t characters = 0;
        for (const char c : text) {
            characters += (static_cast<unsigned char>(c) & 0xC0u) != 0x80u ? 1 : 0;
        }
        return RectD{0.0, 0.0, std::ceil(0.6 * font.pointSize * static_cast<double>(characters)),
                     std::ceil(1.25 * font.pointSize)};
    }
};

// The grid at `path`; nothing after a message.
std::optional<TextGrid> readGrid(const std::string& path, std::ostream& err)
{
    std::string error;
    std::optional<TextGrid> grid = readTextGridFile(path, error);
    if (!grid) {
        err << "phonaxis-cli: \"" << path << "\": " << error << "\n";
    }
    return grid;
}

// The tier --tier names: the first whose name it is, else the tier whose
// number (from 1) it is. -1 after a message when there is none.
int namedTier(const TextGrid& grid, const std::string& tier, const std::string& path,
              std::ostream& err)
{
    for (std::size_t i = 0; i < grid.tiers.size(); ++i) {
        if (grid.tiers[i].name == tier) {
            return static_cast<int>(i);
        }
    }
    int number = 0;
    const auto parsed = std::from_chars(tier.data(), tier.data() + tier.size(), number);
    if (parsed.ec == std::errc() && parsed.ptr == tier.data() + tier.size() && number >= 1 &&
        static_cast<std::size_t>(number) <= grid.tiers.size()) {
        return number - 1;
    }
    err << "phonaxis-cli: \"" << path << "\" has no tier \"" << tier << "\" (its "
        << grid.tiers.size() << " tiers:";
    for (std::size_t i = 0; i < grid.tiers.size(); ++i) {
        err << (i ? ", " : " ") << "\"" << grid.tiers[i].name << "\"";
    }
    err << ")\n";
    return -1;
}

Table labelTable(const MyDocument& document, const std::string& path, std::optional<int> only)
{
    Table table;
    table.columns = {"file", "channel", "channel_title", "time_ms", "end_ms", "label"};
    for (int i = 0; i < document.channelsInUse(); ++i) {
        if (only && i != *only) {
            continue;
        }
        const Channels& channel = document.getChannel(i);
        for (const Labels& label : channel.m_pArrayLabels) {
            table.rows.push_back(
                {path, static_cast<double>(i), channel.GetTitle(), numberCell(label.dTime),
                 cellIf(label.hasEndTime(), label.dEndTime), label.getLabelText()});
        }
    }
    return table;
}

// The label table as the desktop's label window shows it: a running number,
// the channel's title, the text and the time, tab-separated.
void writeLabelWindowTable(const MyDocument& document, std::optional<int> only, std::ostream& out)
{
    out << kLabelTableColumns[0].title << "\t" << kLabelTableColumns[1].title << "\t"
        << kLabelTableColumns[2].title << "\t" << kLabelTableColumns[3].title << "\n";
    const std::span<const Channels> channels(&document.getChannel(0),
                                             static_cast<std::size_t>(document.channelsInUse()));
    int shown = 0;
    for (const LabelTableRow& row : buildLabelTableRows(channels)) {
        if (only && row.channelIndex != *only) {
            continue;
        }
        // Tabs and line breaks in a text would break the row apart.
        std::string text = row.label;
        std::replace_if(
            text.begin(), text.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; },
            ' ');
        out << (only ? std::to_string(++shown) : row.row) << "\t" << row.name << "\t" << text
            << "\t" << row.time << "\n";
    }
}

} // namespace

int labelsCommand(const Options& options, std::ostream& out, std::ostream& err)
{
    if (options.positional.size() != 1) {
        return usage(err, "labels takes one FILE (phonaxis-cli labels --help tells more)");
    }
    if (!options.textgridPath &&
        (options.points || options.intervals || options.shortForm || options.utf16)) {
        return usage(err, "--intervals, --points, --short and --utf16 say how --textgrid writes "
                          "its file");
    }
    if (options.points && options.intervals) {
        return usage(err, "--intervals and --points each choose the tiers' kind: give one");
    }
    if (options.textgridPath && (options.table || options.csv || options.json)) {
        return usage(err, "--textgrid writes a file; --table, --csv and --json list the labels: "
                          "give one or the other");
    }
    const std::string& path = options.positional[0];
    AutomaticPrompts prompts(&err, "phonaxis-cli: ", options.aiffChannel);
    auto batch = std::make_unique<BatchDocument>(prompts);
    MyDocument& document = batch->document;
    if (!openDocument(path, document, err)) {
        return kExitFailure;
    }
    if (options.channel && *options.channel >= document.channelsInUse()) {
        return usage(err, "--channel " + std::to_string(*options.channel) +
                              " is beyond the file's " + std::to_string(document.channelsInUse()) +
                              " channels (counted from 0)");
    }

    if (options.textgridPath) {
        const ExportedTierKind kind = options.points      ? ExportedTierKind::Points
                                      : options.intervals ? ExportedTierKind::Intervals
                                                          : ExportedTierKind::AsLabels;
        const TextGrid grid = options.channel
                                  ? textGridFromChannel(document.getChannel(*options.channel), kind)
                                  : textGridFromDocument(document, kind);
        std::string error;
        if (!writeTextGridFile(
                grid, *options.textgridPath,
                options.shortForm ? TextGridForm::Short : TextGridForm::Long,
                options.utf16 ? TextGridEncoding::Utf16BigEndian : TextGridEncoding::Utf8, error)) {
            return failure(err, error);
        }
        return kExitOk;
    }

    if (!options.table && !options.csv && !options.json) {
        writeLabelWindowTable(document, options.channel, out);
        return kExitOk;
    }
    const Table table = labelTable(document, path, options.channel);
    if (options.table) {
        writeTsv(table, out);
    } else if (options.csv) {
        writeCsv(table, out);
    } else {
        out << "[";
        for (std::size_t i = 0; i < table.rows.size(); ++i) {
            // jsonFields begins each field with ", ".
            out << (i ? ",\n  {" : "\n  {") << jsonFields(table.columns, table.rows[i]).substr(2)
                << "}";
        }
        out << (table.rows.empty() ? "]\n" : "\n]\n");
    }
    return kExitOk;
}

int addGridLabels(const Options& options, MyDocument& document, std::ostream& err)
{
    if (!options.labelsPath) {
        return kExitOk;
    }
    const std::optional<TextGrid> grid = readGrid(*options.labelsPath, err);
    if (!grid) {
        return kExitFailure;
    }
    const int count = document.channelsInUse();
    std::vector<TierToChannel> assignments;
    if (options.tier) {
        const int tier = namedTier(*grid, *options.tier, *options.labelsPath, err);
        if (tier < 0) {
            return kExitUsage;
        }
        const int channel =
            options.channel ? *options.channel : std::max(document.audioChannelIndex(), 0);
        assignments.push_back({tier, channel});
    } else {
        for (int tier = 0; tier < static_cast<int>(grid->tiers.size()); ++tier) {
            int channel = options.channel ? *options.channel : -1;
            for (int i = 0; i < count && channel < 0; ++i) {
                if (document.getChannel(i).GetTitle() ==
                    grid->tiers[static_cast<std::size_t>(tier)].name) {
                    channel = i;
                }
            }
            if (channel < 0 && tier < count) {
                channel = tier;
            }
            if (channel < 0) {
                err << "phonaxis-cli: \"" << *options.labelsPath << "\": tier " << tier + 1
                    << " (\"" << grid->tiers[static_cast<std::size_t>(tier)].name
                    << "\") matches no channel's title and the recording has only " << count
                    << " channels: choose it with --tier and --channel\n";
                return kExitUsage;
            }
            assignments.push_back({tier, channel});
        }
    }
    const EstimatedTextMeasurer measurer;
    importTextGridLabels(document, *grid, assignments, measurer);
    return kExitOk;
}

int attachLabels(const Options& options, Session& session, int channel, std::ostream& err)
{
    if (!options.labels) {
        if (options.textgridPath || options.tier) {
            return usage(err, "--textgrid and --tier give --labels its labels: add --labels");
        }
        return kExitOk;
    }
    if (!options.table && !options.csv && !options.json) {
        return usage(err, "--labels adds a label column to --table, --csv or --json: give one");
    }
    if (options.tier && !options.textgridPath) {
        return usage(err, "--tier picks a tier of --textgrid GRID");
    }
    if (options.textgridPath) {
        const std::optional<TextGrid> grid = readGrid(*options.textgridPath, err);
        if (!grid) {
            return kExitFailure;
        }
        if (grid->tiers.empty()) {
            return failure(err, "\"" + *options.textgridPath + "\" has no tiers");
        }
        const int tier =
            options.tier ? namedTier(*grid, *options.tier, *options.textgridPath, err) : 0;
        if (tier < 0) {
            return kExitUsage;
        }
        Channels scratch;
        const EstimatedTextMeasurer measurer;
        for (const LabelTransfer& label :
             labelsFromTier(grid->tiers[static_cast<std::size_t>(tier)], 0.0, measurer)) {
            scratch.Add_Label(label);
        }
        session.labels = std::make_shared<const LabelsInForce>(scratch);
        return kExitOk;
    }
    MyDocument& document = session.document();
    const Channels* labelled = &document.getChannel(channel);
    for (int i = 0; i < document.channelsInUse() && labelled->m_pArrayLabels.empty(); ++i) {
        labelled = &document.getChannel(i);
    }
    if (labelled->m_pArrayLabels.empty()) {
        err << "phonaxis-cli: \"" << session.path
            << "\" has no labels: the label column is empty (--textgrid GRID takes a grid's)\n";
    }
    session.labels = std::make_shared<const LabelsInForce>(*labelled);
    return kExitOk;
}

void addLabelColumn(Table& table, const Session& session)
{
    if (!session.labels) {
        return;
    }
    const auto column = [&table](const char* name) -> std::ptrdiff_t {
        const auto found = std::find(table.columns.begin(), table.columns.end(), name);
        return found == table.columns.end() ? -1 : found - table.columns.begin();
    };
    std::ptrdiff_t at = column("time_ms");
    if (at < 0) {
        at = column("contact_ms");
    }
    const std::ptrdiff_t from = column("from_ms");
    const std::ptrdiff_t to = column("to_ms");
    const auto number = [](const std::vector<Table::Cell>& row, std::ptrdiff_t index) {
        const double* value = index >= 0 && static_cast<std::size_t>(index) < row.size()
                                  ? std::get_if<double>(&row[static_cast<std::size_t>(index)])
                                  : nullptr;
        return value ? *value : std::nan("");
    };
    table.columns.emplace_back("label");
    for (std::vector<Table::Cell>& row : table.rows) {
        const double timeMs =
            at >= 0 ? number(row, at) : 0.5 * (number(row, from) + number(row, to));
        const std::string& text =
            std::isfinite(timeMs) ? session.labels->at(timeMs) : std::string();
        row.resize(table.columns.size() - 1);
        row.push_back(text.empty() ? Table::Cell{} : Table::Cell{text});
    }
}

} // namespace phonaxis::cli
