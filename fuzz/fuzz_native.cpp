// The six native readers on arbitrary bytes, each on a fresh document. A
// file that opens is written back as KVQ_PC_FLOAT and read again: channel
// count, lengths, label counts and the samples (bit for bit) must survive.

#include "document/AutomaticPrompts.h"
#include "document/MyDocument.h"

#include <cstdlib>
#include <cstring>

namespace {

using phonaxis::MyDocument;

void checkOpened(MyDocument& doc, phonaxis::AutomaticPrompts& prompts,
                 phonaxis::AppSettings& settings)
{
    const int channels = doc.m_nNumofChannels;
    if (!doc.m_bHaveData || channels < 1 || channels > MyDocument::kChannelSlots) {
        std::abort();
    }
    for (int c = 0; c < channels; ++c) {
        const auto& channel = doc.getChannel(c);
        if (!channel.m_hData.present() ||
            channel.m_hData.size() < static_cast<std::size_t>(channel.m_dwFileLength)) {
            std::abort();
        }
    }
    const auto bytes = doc.Save_KVQ_PC_Float_FileType(false);
    if (!bytes) {
        std::abort();
    }
    MyDocument copy(prompts, settings);
    if (!copy.Read_KVQ_PC_Float_FileType(*bytes) || copy.m_nNumofChannels != channels) {
        std::abort();
    }
    for (int c = 0; c < channels; ++c) {
        const auto& a = doc.getChannel(c);
        const auto& b = copy.getChannel(c);
        if (a.m_dwFileLength != b.m_dwFileLength || a.m_nLabelCount != b.m_nLabelCount ||
            std::memcmp(a.m_hData.data(), b.m_hData.data(),
                        static_cast<std::size_t>(a.m_dwFileLength) * sizeof(float)) != 0) {
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using Reader = bool (MyDocument::*)(phonaxis::ByteView);
    static constexpr Reader kReaders[] = {
        &MyDocument::Read_KVQ_MAC_FileType,      &MyDocument::Read_KVQ_PC_FileType,
        &MyDocument::Read_KVQ_PC_Float_FileType, &MyDocument::Read_USB2_Float_FileType,
        &MyDocument::Read_OLD_PC_FileType,       &MyDocument::Read_OLD_MAC_FileType,
    };
    static phonaxis::AutomaticPrompts prompts;
    for (const Reader reader : kReaders) {
        phonaxis::AppSettings settings;
        MyDocument doc(prompts, settings);
        const bool opened = (doc.*reader)({data, size});
        if (opened != doc.m_bHaveData) {
            std::abort();
        }
        if (opened) {
            checkOpened(doc, prompts, settings);
        }
    }
    return 0;
}
