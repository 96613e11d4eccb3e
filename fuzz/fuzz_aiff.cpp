// AIFF/AIFC reader on arbitrary bytes; the chooser always takes the first
// channel.

#include "document/AutomaticPrompts.h"
#include "document/MyDocument.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static phonaxis::AutomaticPrompts prompts;
    phonaxis::AppSettings settings;
    phonaxis::MyDocument doc(prompts, settings);
    if (doc.Read_AIFF_FileType({data, size})) {
        const auto& channel = doc.getChannel(0);
        // Every frame taken must lie inside the buffer the reader made.
        if (doc.m_nNumofChannels != 1 || !channel.m_hData.present() ||
            channel.m_hData.size() < static_cast<std::size_t>(channel.m_dwFileLength) ||
            channel.m_dwFileLength > static_cast<double>(size)) {
            std::abort();
        }
    }
    return 0;
}
