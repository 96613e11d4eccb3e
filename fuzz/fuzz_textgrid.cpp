// TextGrid reader on arbitrary bytes. A declined file must say which line is
// at fault. A grid that reads is written in both forms and every encoding
// and read again: it must read, and writing it again must give the same
// bytes. Its tiers are turned into labels on a channel and exported again
// as interval and point tiers, which must read too, and the labels in force
// are looked up at each interval's edges.

#include "document/TextGrid.h"
#include "model/Channels.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace phonaxis;

struct ByteMeasurer : TextMeasurer {
    RectD measure(const std::string& text, const LabelFont& font) const override
    {
        return RectD{0, 0, 7.0 * double(text.size()), font.pointSize};
    }
};

void require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

void requireReads(const TextGrid& grid, TextGridForm form, TextGridEncoding encoding)
{
    const auto bytes = formatTextGrid(grid, form, encoding);
    std::string error;
    TextGridFileForm found;
    const auto back = parseTextGrid(bytes, error, &found);
    require(back.has_value());
    require(found.form == form && found.encoding == encoding);
    require(back->tiers.size() == grid.tiers.size());
    require(formatTextGrid(*back, form, encoding) == bytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string error;
    const auto grid = parseTextGrid({data, size}, error);
    if (!grid) {
        require(error.rfind("line ", 0) == 0);
        return 0;
    }
    for (const TextGridForm form : {TextGridForm::Long, TextGridForm::Short}) {
        for (const TextGridEncoding encoding :
             {TextGridEncoding::Utf8, TextGridEncoding::Utf16BigEndian,
              TextGridEncoding::Utf16LittleEndian}) {
            requireReads(*grid, form, encoding);
        }
    }

    const ByteMeasurer measurer;
    for (const TextGridTier& tier : grid->tiers) {
        Channels channel;
        channel.SetTitle(tier.name);
        for (const LabelTransfer& record : labelsFromTier(tier, 0.1, measurer)) {
            channel.Add_Label(record);
        }
        for (const ExportedTierKind kind :
             {ExportedTierKind::Intervals, ExportedTierKind::Points}) {
            const TextGrid exported{
                grid->xmin, grid->xmax, {tierFromChannel(channel, kind, grid->xmin, grid->xmax)}};
            requireReads(exported, TextGridForm::Short, TextGridEncoding::Utf8);
        }
        const LabelsInForce inForce(channel);
        for (const TextGridInterval& interval : tier.intervals) {
            const std::string& atStart = inForce.at(interval.xmin * 1000.0);
            require(interval.text.empty() || !atStart.empty());
            inForce.at(interval.xmax * 1000.0);
        }
    }
    return 0;
}
