// The whole open dispatch on arbitrary bytes: every reader in turn, as a
// file opened from disk would go.

#include "document/AutomaticPrompts.h"
#include "document/MyDocument.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static phonaxis::AutomaticPrompts prompts;
    phonaxis::AppSettings settings;
    phonaxis::MyDocument doc(prompts, settings);
    const bool opened = doc.readFromData({data, size}, "pmf");
    if (opened != doc.m_bHaveData) {
        std::abort();
    }
    if (opened) {
        const int channels = doc.m_nNumofChannels;
        if (channels < 1 || channels > phonaxis::MyDocument::kChannelSlots) {
            std::abort();
        }
        for (int c = 0; c < channels; ++c) {
            const auto& channel = doc.getChannel(c);
            if (channel.m_hData.present() &&
                channel.m_hData.size() < static_cast<std::size_t>(channel.m_dwFileLength)) {
                std::abort();
            }
        }
    }
    return 0;
}
