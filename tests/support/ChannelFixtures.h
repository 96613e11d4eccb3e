#pragma once

#include "model/Channels.h"

#include <gtest/gtest.h>

#include <vector>

namespace phonaxis::test {

// Gives `channel` the samples at `rateHz`, with its length and duration, as a
// reader would.
inline void loadChannel(Channels& channel, const std::vector<float>& samples, double rateHz)
{
    const auto n = static_cast<double>(samples.size());
    ASSERT_TRUE(channel.setData(samples.data(), n));
    channel.m_dwFileLength = n;
    channel.m_dSampleRate = rateHz;
    channel.m_dLengthMS = n * 1000.0 / rateHz;
}

} // namespace phonaxis::test
