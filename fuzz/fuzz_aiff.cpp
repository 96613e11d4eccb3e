// AIFF/AIFC reader on arbitrary bytes; the chooser always takes the first
// channel.

#include "document/MyDocument.h"

#include <cstdlib>

namespace {

class AutoPrompts : public phonaxis::Prompts {
public:
    int alert(const std::string&, const std::string&, const std::string&, const std::string&,
              const std::string&) override
    {
        return 1;
    }
    int chooseChannel(const std::string&, const std::vector<std::string>&) override { return 0; }
    int selectItem(const std::string&, const std::vector<std::string>&) override { return 1; }
    std::optional<std::string> savePanel(const phonaxis::SavePanelRequest&) override
    {
        return std::nullopt;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static AutoPrompts prompts;
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
