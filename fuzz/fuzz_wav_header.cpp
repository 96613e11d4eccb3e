// The WAV reader that reads a header first and the samples afterwards, a
// block at a time from the file, on arbitrary bytes, against the reader of
// the whole file: the two accept the same files, and an accepted file gives
// the same channels, lengths, rate, resolution, note of a short file and
// samples, bit for bit.

#include "document/AutomaticPrompts.h"
#include "document/MyDocument.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

namespace {

void check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static phonaxis::AutomaticPrompts prompts;
    static const int fd = ::memfd_create("fuzz-wav", MFD_CLOEXEC);
    check(fd >= 0);
    check(::ftruncate(fd, 0) == 0);
    check(::pwrite(fd, data, size, 0) == static_cast<ssize_t>(size));

    phonaxis::AppSettings wholeSettings;
    phonaxis::MyDocument whole(prompts, wholeSettings);
    const bool wholeRead = whole.Read_WAVE_FileType({data, size});

    phonaxis::AppSettings settings;
    phonaxis::MyDocument doc(prompts, settings);
    phonaxis::MyDocument::WaveSamples where;
    const bool headerRead = doc.Read_WAVE_Header(fd, size, where);
    check(headerRead == wholeRead);
    if (!headerRead) {
        check(doc.m_nNumofChannels == 0);
        return 0;
    }
    check(doc.m_nNumofChannels == whole.m_nNumofChannels);
    check(doc.m_shortRecording.has_value() == whole.m_shortRecording.has_value());
    for (int c = 0; c < doc.m_nNumofChannels; ++c) {
        const auto& a = whole.getChannel(c);
        const auto& b = doc.getChannel(c);
        check(a.m_dwFileLength == b.m_dwFileLength && a.m_dSampleRate == b.m_dSampleRate &&
              a.m_nResolutionBits == b.m_nResolutionBits && b.m_hData.size() == 0);
        const auto frames = static_cast<std::size_t>(a.m_dwFileLength);
        std::vector<float> samples(frames);
        check(phonaxis::MyDocument::readWaveSamples(fd, where, static_cast<std::size_t>(c), 0,
                                                    frames, samples.data(), 2));
        check(frames == 0 ||
              std::memcmp(samples.data(), a.m_hData.data(), frames * sizeof(float)) == 0);
    }
    return 0;
}
