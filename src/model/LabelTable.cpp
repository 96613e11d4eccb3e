// The label table's rows as data, and reading a time cell back for the jump.

#include "model/LabelTable.h"

#include "model/Channels.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

namespace phonaxis {

namespace {

// `value` with "%.1f". Times come from files, so the text may be long
// (1e300 ms prints 302 characters): it is measured first.
std::string formatTimeMs(double value)
{
    const int length = std::snprintf(nullptr, 0, "%.1f", value);
    if (length <= 0) {
        return {};
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), "%.1f", value);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

} // namespace

std::vector<LabelTableRow> buildLabelTableRows(std::span<const Channels> channels)
{
    std::vector<LabelTableRow> rows;
    int number = 0;
    for (std::size_t c = 0; c < channels.size(); ++c) {
        const Channels& channel = channels[c];
        for (std::size_t l = 0; l < channel.m_pArrayLabels.size(); ++l) {
            const Labels& label = channel.m_pArrayLabels[l];
            ++number;
            rows.push_back(LabelTableRow{std::to_string(number), channel.GetTitle(),
                                         label.getLabelText(), formatTimeMs(label.dTime),
                                         static_cast<int>(c), static_cast<int>(l)});
        }
    }
    return rows;
}

std::optional<float> parseLabelTableTime(std::string_view text)
{
    std::size_t start = 0;
    while (start < text.size() && (text[start] == ' ' || text[start] == '\t')) {
        ++start;
    }
    const char* first = text.data() + start;
    const char* last = text.data() + text.size();
    float value = 0.0f;
    const auto [end, error] = std::from_chars(first, last, value, std::chars_format::general);
    if (error != std::errc{} || end == first || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<float> labelTableJumpTime(std::span<const LabelTableRow> rows, int selectedRow)
{
    if (selectedRow < 0 || static_cast<std::size_t>(selectedRow) >= rows.size()) {
        return std::nullopt;
    }
    return parseLabelTableTime(rows[static_cast<std::size_t>(selectedRow)].time);
}

} // namespace phonaxis
