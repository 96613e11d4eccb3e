// WAV reader on arbitrary bytes. A file that opens is written back as float
// WAV and read again: the samples must survive bit for bit.

#include "document/AutomaticPrompts.h"
#include "document/MyDocument.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static phonaxis::AutomaticPrompts prompts;
    phonaxis::AppSettings settings;
    phonaxis::MyDocument doc(prompts, settings);
    if (!doc.Read_WAVE_FileType({data, size})) {
        return 0;
    }
    const int channels = doc.m_nNumofChannels;
    if (channels < 1 || channels > phonaxis::MyDocument::kChannelSlots) {
        std::abort();
    }
    const auto written = doc.Save_WAVE_FileType_float(false, -1, channels, false);
    if (!written) {
        std::abort();
    }
    phonaxis::MyDocument copy(prompts, settings);
    if (!copy.Read_WAVE_FileType(*written) || copy.m_nNumofChannels != channels) {
        std::abort();
    }
    for (int c = 0; c < channels; ++c) {
        const auto& a = doc.getChannel(c);
        const auto& b = copy.getChannel(c);
        if (a.m_dwFileLength != b.m_dwFileLength ||
            std::memcmp(a.m_hData.data(), b.m_hData.data(),
                        static_cast<std::size_t>(a.m_dwFileLength) * sizeof(float)) != 0) {
            std::abort();
        }
    }
    return 0;
}
