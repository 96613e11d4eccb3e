// Labels to and from TextGrid tiers, and the label in force at a time.
#include "document/TextGrid.h"

#include "document/MyDocument.h"
#include "model/Channels.h"
#include "model/Functions.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace phonaxis {

namespace {

LabelTransfer labelRecord(const std::string& text, double timeMs, double endMs,
                          double verticalFactor, const TextMeasurer& measurer)
{
    LabelTransfer record;
    record.text = text;
    // The byte-string copy never splits a character.
    std::size_t count = std::min(text.size(), record.cText.size() - 1);
    while (count > 0 && count < text.size() &&
           (static_cast<unsigned char>(text[count]) & 0xC0) == 0x80) {
        --count;
    }
    std::memcpy(record.cText.data(), text.data(), count);
    record.nJustification = 0;
    record.dTime = timeMs;
    record.dEndTime = endMs;
    record.dVerticalFactor = verticalFactor;
    const RectD size = measurer.measure(text, record.font);
    record.rect = Rect{0, 0, truncToInt16(size.height), truncToInt16(size.width)};
    return record;
}

// A channel's labels in time order (list order among equal times), grouped by
// time: one text per time, the texts of labels at the same time joined by a
// space, and the latest end any of them has (NaN when none has one).
struct LabelGroup {
    double timeMs = 0.0;
    double endMs = std::numeric_limits<double>::quiet_NaN();
    bool anyPoint = false;
    std::string text;
};

// A channel's labels with a finite time, in time order (list order among
// equal times).
std::vector<const Labels*> labelsInTimeOrder(const Channels& channel)
{
    std::vector<const Labels*> sorted;
    for (const Labels& label : channel.m_pArrayLabels) {
        if (std::isfinite(label.dTime)) {
            sorted.push_back(&label);
        }
    }
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Labels* a, const Labels* b) { return a->dTime < b->dTime; });
    return sorted;
}

std::vector<LabelGroup> labelGroups(const Channels& channel)
{
    std::vector<LabelGroup> groups;
    for (const Labels* label : labelsInTimeOrder(channel)) {
        if (groups.empty() || groups.back().timeMs != label->dTime) {
            groups.push_back(LabelGroup{label->dTime, std::numeric_limits<double>::quiet_NaN(),
                                        false, label->getLabelText()});
        } else {
            groups.back().text += " " + label->getLabelText();
        }
        LabelGroup& group = groups.back();
        // An end that does not lie after the label's time opens no interval.
        if (std::isfinite(label->dEndTime) && label->dEndTime > label->dTime) {
            group.endMs =
                std::isnan(group.endMs) ? label->dEndTime : std::max(group.endMs, label->dEndTime);
        } else {
            group.anyPoint = true;
        }
    }
    return groups;
}

} // namespace

// --- labels to and from tiers ----------------------------------------------------

std::vector<LabelTransfer> labelsFromTier(const TextGridTier& tier, double verticalFactor,
                                          const TextMeasurer& measurer)
{
    std::vector<LabelTransfer> out;
    if (tier.isIntervalTier) {
        for (const TextGridInterval& interval : tier.intervals) {
            if (!interval.text.empty()) {
                out.push_back(labelRecord(interval.text, interval.xmin * 1000.0,
                                          interval.xmax * 1000.0, verticalFactor, measurer));
            }
        }
    } else {
        for (const TextGridPoint& point : tier.points) {
            out.push_back(labelRecord(point.mark, point.time * 1000.0,
                                      std::numeric_limits<double>::quiet_NaN(), verticalFactor,
                                      measurer));
        }
    }
    return out;
}

int importTextGridLabels(MyDocument& document, const TextGrid& grid,
                         const std::vector<TierToChannel>& assignments,
                         const TextMeasurer& measurer)
{
    const auto valid = [&](const TierToChannel& a) {
        return a.tier >= 0 && static_cast<std::size_t>(a.tier) < grid.tiers.size() &&
               a.channel >= 0 && a.channel < document.channelsInUse();
    };
    // Tiers that share a channel are stacked from the strip's top: the k-th
    // of n at 0.1 + 0.8 k / n of its height.
    std::array<int, MyDocument::kChannelSlots> perChannel{};
    for (const TierToChannel& a : assignments) {
        if (valid(a)) {
            ++perChannel[static_cast<std::size_t>(a.channel)];
        }
    }
    std::array<int, MyDocument::kChannelSlots> placed{};
    int added = 0;
    for (const TierToChannel& a : assignments) {
        if (!valid(a)) {
            continue;
        }
        const auto slot = static_cast<std::size_t>(a.channel);
        const double factor = 0.1 + 0.8 * placed[slot]++ / perChannel[slot];
        Channels& channel = document.getChannel(a.channel);
        for (const LabelTransfer& record :
             labelsFromTier(grid.tiers[static_cast<std::size_t>(a.tier)], factor, measurer)) {
            channel.Add_Label(record);
            ++added;
        }
    }
    if (added > 0) {
        document.setDirty();
    }
    return added;
}

TextGridTier tierFromChannel(const Channels& channel, ExportedTierKind kind, double xminS,
                             double xmaxS)
{
    TextGridTier tier;
    tier.isIntervalTier = kind == ExportedTierKind::Intervals ||
                          (kind == ExportedTierKind::AsLabels &&
                           std::any_of(channel.m_pArrayLabels.begin(), channel.m_pArrayLabels.end(),
                                       [](const Labels& label) { return label.hasEndTime(); }));
    tier.name = channel.GetTitle();
    tier.xmin = xminS;
    tier.xmax = xmaxS;
    std::vector<LabelGroup> groups = labelGroups(channel);
    // Labels outside the tier's range are left out.
    std::erase_if(groups, [&](const LabelGroup& g) {
        return g.timeMs / 1000.0 < xminS || g.timeMs / 1000.0 > xmaxS;
    });
    if (!tier.isIntervalTier) {
        // Labels at the same time share one point: a reader keeps only one
        // point per time.
        for (const LabelGroup& group : groups) {
            tier.points.push_back(TextGridPoint{group.timeMs / 1000.0, group.text});
        }
        return tier;
    }
    double cursor = xminS;
    for (std::size_t i = 0; i < groups.size(); ++i) {
        const double start = groups[i].timeMs / 1000.0;
        const double next = i + 1 < groups.size() ? groups[i + 1].timeMs / 1000.0 : xmaxS;
        // A label at the very end of the range opens no interval of its own:
        // its text joins the interval before it.
        if (start >= xmaxS && !tier.intervals.empty()) {
            std::string& text = tier.intervals.back().text;
            text += text.empty() ? groups[i].text : " " + groups[i].text;
            continue;
        }
        double end = next;
        if (!std::isnan(groups[i].endMs)) {
            end = std::min(groups[i].endMs / 1000.0, next);
        }
        if (start > cursor) {
            tier.intervals.push_back(TextGridInterval{cursor, start, ""});
        }
        tier.intervals.push_back(TextGridInterval{start, end, groups[i].text});
        cursor = end;
    }
    if (tier.intervals.empty() || cursor < xmaxS) {
        tier.intervals.push_back(TextGridInterval{cursor, xmaxS, ""});
    }
    return tier;
}

namespace {

// Widens [firstMs, lastMs] to hold every label of `channel` and the ends of
// the intervals they open.
void widenToLabels(const Channels& channel, double& firstMs, double& lastMs)
{
    for (const Labels& label : channel.m_pArrayLabels) {
        if (std::isfinite(label.dTime)) {
            firstMs = std::min(firstMs, label.dTime);
            lastMs = std::max(lastMs, label.dTime);
        }
        if (std::isfinite(label.dEndTime) && label.dEndTime > label.dTime) {
            lastMs = std::max(lastMs, label.dEndTime);
        }
    }
}

} // namespace

TextGrid textGridFromDocument(const MyDocument& document, ExportedTierKind kind)
{
    TextGrid grid;
    double lengthMs = 0.0;
    double firstMs = 0.0;
    for (int i = 0; i < document.channelsInUse(); ++i) {
        const Channels& channel = document.getChannel(i);
        if (channel.m_bShow && std::isfinite(channel.m_dLengthMS)) {
            lengthMs = std::max(lengthMs, channel.m_dLengthMS);
        }
        widenToLabels(channel, firstMs, lengthMs);
    }
    grid.xmin = firstMs / 1000.0;
    grid.xmax = lengthMs / 1000.0;
    for (int i = 0; i < document.channelsInUse(); ++i) {
        const Channels& channel = document.getChannel(i);
        if (!channel.m_pArrayLabels.empty()) {
            grid.tiers.push_back(tierFromChannel(channel, kind, grid.xmin, grid.xmax));
        }
    }
    return grid;
}

TextGrid textGridFromChannel(const Channels& channel, ExportedTierKind kind)
{
    double firstMs = 0.0;
    double lengthMs = std::isfinite(channel.m_dLengthMS) ? std::max(channel.m_dLengthMS, 0.0) : 0.0;
    widenToLabels(channel, firstMs, lengthMs);
    TextGrid grid;
    grid.xmin = firstMs / 1000.0;
    grid.xmax = lengthMs / 1000.0;
    grid.tiers.push_back(tierFromChannel(channel, kind, grid.xmin, grid.xmax));
    return grid;
}

// --- labels in force ---------------------------------------------------------------

LabelsInForce::LabelsInForce(const Channels& channel)
{
    for (const LabelGroup& group : labelGroups(channel)) {
        m_starts.push_back(group.timeMs);
        // A point label among those at the same time holds until the next
        // label; otherwise the latest end holds.
        m_ends.push_back(group.anyPoint || std::isnan(group.endMs)
                             ? std::numeric_limits<double>::infinity()
                             : group.endMs);
        m_texts.push_back(group.text);
    }
}

const std::string& LabelsInForce::at(double timeMs) const
{
    static const std::string kNone;
    const auto after = std::upper_bound(m_starts.begin(), m_starts.end(), timeMs);
    if (after == m_starts.begin()) {
        return kNone;
    }
    const auto index = static_cast<std::size_t>(after - m_starts.begin() - 1);
    return timeMs < m_ends[index] ? m_texts[index] : kNone;
}

} // namespace phonaxis
