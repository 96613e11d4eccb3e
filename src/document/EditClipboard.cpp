#include "document/EditClipboard.h"

#include "document/MyDocument.h"
#include "model/Functions.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace phonaxis {

namespace {

// trunc(value) as a double; NaN gives 0.
double truncOrZero(double value)
{
    return std::isnan(value) ? 0.0 : std::trunc(value);
}

// Time in ms of sample `index` of a channel at `rateHz`.
double timeOfIndex(std::size_t index, double rateHz)
{
    return rateHz > 0.0 ? static_cast<double>(index) * 1000.0 / rateHz : 0.0;
}

// Settings of a channel that travel with its copied samples.
void copyChannelSettings(const Channels& source, Channels& target)
{
    target.SetTitle(source.GetTitle());
    target.SetUnit(source.GetUnit());
    target.m_dFilterRate = source.m_dFilterRate;
    target.m_dGain = source.m_dGain;
    target.m_dReference = source.m_dReference;
    target.m_bDrawReference = source.m_bDrawReference;
    target.m_dADInputVoltageRangeMV = source.m_dADInputVoltageRangeMV;
    target.m_dMaxRangeBits = source.m_dMaxRangeBits;
    target.m_dA3Cal = source.m_dA3Cal;
    target.m_dB2Cal = source.m_dB2Cal;
    target.m_dC1Cal = source.m_dC1Cal;
    target.m_dD0Cal = source.m_dD0Cal;
    target.m_dSampleRate = source.m_dSampleRate;
    target.m_rLocation = source.m_rLocation;
    target.m_nChannelType = source.m_nChannelType;
    target.m_bAnchorChannel = source.m_bAnchorChannel;
    target.m_bShow = source.m_bShow;
    target.m_nOrder = source.m_nOrder;
    target.m_nDataType = source.m_nDataType;
    target.m_nHeigth = source.m_nHeigth;
    target.m_nResolutionBits = source.m_nResolutionBits;
    target.m_nColorRed = source.m_nColorRed;
    target.m_nColorGreen = source.m_nColorGreen;
    target.m_nColorBlue = source.m_nColorBlue;
}

// Fills `target` with the selection of `source`: settings, selection bounds
// and lengths, the labels strictly inside the selection (times relative to
// its start) and the selected samples. False when the samples cannot be
// allocated.
bool copyChannelSelection(Channels& source, Channels& target)
{
    copyChannelSettings(source, target);

    const SampleSpan span =
        selectionSpan(source, source.m_dDurationStartFile, source.m_dDurationStopFile);
    double startMs = source.m_dDurationStartTime;
    double stopMs = source.m_dDurationStopTime;
    // A selection reaching past the samples the channel holds is cut to
    // them; its times follow, so that lengths in ms and in samples agree
    // when the copy is pasted.
    if (static_cast<double>(span.startIndex) != truncOrZero(source.m_dDurationStartFile)) {
        startMs = timeOfIndex(span.startIndex, source.m_dSampleRate);
    }
    if (static_cast<double>(span.stopIndex) != truncOrZero(source.m_dDurationStopFile)) {
        stopMs = timeOfIndex(span.stopIndex, source.m_dSampleRate);
    }
    if (!(stopMs >= startMs)) {
        stopMs = startMs;
    }

    const auto length = static_cast<double>(span.length());
    target.m_dDurationStartTime = startMs;
    target.m_dDurationStopTime = stopMs;
    target.m_dDurationStartFile = static_cast<double>(span.startIndex);
    target.m_dDurationStopFile = static_cast<double>(span.stopIndex);
    target.m_dDurationTime = stopMs - startMs;
    target.m_dLengthMS = stopMs - startMs;
    target.m_dwFileLength = length;
    target.m_dDurationFile = length;
    target.m_dPageMax = length;
    target.m_dPageSize = length;

    target.RemoveAllLabels();
    const int labelCount = static_cast<int>(source.m_pArrayLabels.size());
    for (int i = 0; i < labelCount; ++i) {
        // The selection is placed as a page: only labels the view would show
        // on it (strictly inside) are copied.
        if (const Labels* placed = source.GetLabelZoomed(i, startMs, stopMs, 0.0)) {
            Labels copy;
            copy.Duplicate(*placed);
            copy.dTime -= startMs;
            copy.dEndTime -= startMs;
            target.Add_Label_Cocoa(copy);
        }
    }

    if (!target.m_hData.allocate(span.length() + Channels::kSlackFloats)) {
        return false;
    }
    if (span.length() > 0) {
        std::memcpy(target.m_hData.data(), source.m_hData.data() + span.startIndex,
                    span.length() * sizeof(float));
    }
    return true;
}

} // namespace

std::size_t heldSampleCount(const Channels& channel)
{
    if (!channel.m_hData.present()) {
        return 0;
    }
    return truncWithin(channel.m_dwFileLength, channel.m_hData.size());
}

SampleSpan selectionSpan(const Channels& channel, double startFile, double stopFile)
{
    SampleSpan span;
    span.sampleCount = heldSampleCount(channel);
    span.startIndex = truncWithin(startFile, span.sampleCount);
    span.stopIndex = std::max(span.startIndex, truncWithin(stopFile, span.sampleCount));
    return span;
}

EditClipboard& EditClipboard::instance()
{
    static EditClipboard clipboard;
    return clipboard;
}

bool EditClipboard::copySelection(MyDocument& document)
{
    const int count = document.channelsInUse();
    // Built aside and moved in at the end, so that a copy that runs out of
    // memory leaves the previous clipboard intact.
    std::vector<Channels> staged;
    try {
        staged.resize(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            if (!copyChannelSelection(document.getChannel(i), staged[static_cast<std::size_t>(i)])) {
                return false;
            }
        }
    } catch (const std::bad_alloc&) {
        return false;
    }

    for (int i = 0; i < count; ++i) {
        m_Channel[static_cast<std::size_t>(i)] = std::move(staged[static_cast<std::size_t>(i)]);
    }
    m_bHaveContent = true;
    m_nNumofChannels = count;
    m_nFileFormat = document.m_nFileFormat;
    return true;
}

} // namespace phonaxis
