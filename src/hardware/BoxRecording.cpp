#include "hardware/BoxRecording.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace phonaxis {

namespace {

int clampPosition(int position)
{
    return std::clamp(position, 0, 7);
}

template <std::size_t N> int positionIn(const std::array<int, N>& table, std::int32_t value)
{
    const auto found = std::find(table.begin(), table.end(), value);
    return found == table.end() ? 0 : static_cast<int>(found - table.begin());
}

} // namespace

// --- the front end's settings ----------------------------------------------------

int filterPosition(std::int32_t filterRate)
{
    return positionIn(kFilterRates, filterRate);
}

int gainPosition(std::int32_t gain)
{
    return positionIn(kChannelGains, gain);
}

int audioGainPosition(std::int32_t gain)
{
    return clampPosition(gain / 100 - 1);
}

BoxControlBlock audioBlock(const AudioControls& audio)
{
    BoxControlBlock block{};
    block[0] = static_cast<std::uint8_t>(clampPosition(audio.gainBits) | (audio.maskPanelBit & 8) |
                                         (audio.micLineBit & 16) | (audio.filterBit & 32));
    return block;
}

std::uint8_t channelCode(const AnalogControls& channel)
{
    const int filter = clampPosition(channel.filterPosition);
    const int gain = clampPosition(channel.gainPosition);
    return static_cast<std::uint8_t>((7 - filter) | gain << 3 |
                                     (channel.sourcePosition == 0 ? 0x40 : 0));
}

std::array<AnalogControls, 4> analogControlsFrom(std::span<const ChannelInfo> table)
{
    std::array<AnalogControls, 4> channels{};
    for (std::size_t k = 1; k <= channels.size() && k < table.size(); ++k) {
        const ChannelInfo& entry = table[k];
        AnalogControls& channel = channels[k - 1];
        channel.on = entry.bOnOff != 0;
        channel.filterPosition = filterPosition(entry.nFilterRate);
        channel.sourcePosition = entry.source() == "Mask" ? 0 : 1;
        channel.gainPosition = gainPosition(entry.nGain);
    }
    return channels;
}

std::array<BoxControlBlock, 2> storeAnalogControls(const std::array<AnalogControls, 4>& channels,
                                                   std::span<ChannelInfo> table)
{
    std::array<BoxControlBlock, 2> blocks{};
    for (std::size_t k = 1; k <= channels.size(); ++k) {
        const AnalogControls& channel = channels[k - 1];
        if (k < table.size()) {
            ChannelInfo& entry = table[k];
            entry.bOnOff = channel.on ? 1 : 0;
            entry.nFilterRate =
                kFilterRates[static_cast<std::size_t>(clampPosition(channel.filterPosition))];
            entry.setSource(channel.sourcePosition == 0 ? "Mask" : "Panel");
            entry.nGain = kChannelGains[static_cast<std::size_t>(clampPosition(channel.gainPosition))];
        }
        // Block 1 holds channels 1 and 2, block 2 channels 3 and 4.
        blocks[(k - 1) / 2][(k - 1) % 2] = channelCode(channel);
    }
    return blocks;
}

AudioControls audioControlsFrom(const AppSettings& settings)
{
    const ChannelInfo& audio = settings.g_ChannelInfo[0];
    AudioControls controls;
    controls.gainBits = audioGainPosition(audio.nGain);
    controls.maskPanelBit = audio.source() == "Mask" ? 0 : 8;
    controls.micLineBit = settings.g_strInputSource == "Microphone" ? 16 : 0;
    controls.filterBit = 32;
    return controls;
}

std::string recordingTimeText(double seconds)
{
    // Beyond a year of recording the clock would be nonsense anyway; the
    // limit keeps the conversion defined for any double.
    constexpr double kLongestSeconds = 366.0 * 24 * 3600;
    const long whole = std::isfinite(seconds) && seconds > 0
                           ? static_cast<long>(std::min(seconds, kLongestSeconds))
                           : 0;
    char text[64];
    if (whole < 3600) {
        std::snprintf(text, sizeof text, "Recording %ld:%02ld", whole / 60, whole % 60);
    } else {
        std::snprintf(text, sizeof text, "Recording %ld:%02ld:%02ld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    }
    return text;
}

// --- frames and channels ------------------------------------------------------------

std::vector<int> enabledEntries(std::span<const ChannelInfo> table, int systemChannels)
{
    // Entry e > 0 is slot e + 3 of 16: entries past 12 have no slot.
    const int last = std::min({systemChannels, kLastBoxEntry + 1, static_cast<int>(table.size())});
    std::vector<int> entries;
    for (int e = 0; e < last; ++e) {
        if (table[static_cast<std::size_t>(e)].bOnOff != 0)
            entries.push_back(e);
    }
    return entries;
}

float entryValue(const std::uint8_t* frame, int entry)
{
    return boxEntryValue(frame, entry);
}

} // namespace phonaxis
