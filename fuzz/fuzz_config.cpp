// Configuration records from arbitrary bytes, loaded as a user configuration
// and as the application configuration at launch.
//
// The input is taken two ways: as the whole file, and as a splice into a
// valid current-version record (the first two bytes give the offset, the
// rest the bytes written there), so that every field is reached without the
// fuzzer first having to grow a 2,912-byte file that starts with "1904".
//
// What must hold: nothing crashes; what the launch rules take and rewrite
// comes back unchanged from the next launch; a user record saved from what
// was loaded loads and saves again to the same bytes; gains keep their
// minimum and launch sample rates are 22050.

#include "document/AutomaticPrompts.h"
#include "document/Configuration.h"
#include "document/MyDocument.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using phonaxis::AppSettings;
using phonaxis::Configuration;
using phonaxis::MyDocument;

phonaxis::AutomaticPrompts& prompts()
{
    static phonaxis::AutomaticPrompts p;
    return p;
}

void check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

void checkChannelTable(const AppSettings& settings, bool launch)
{
    for (std::size_t k = 0; k <= 16; ++k) {
        const auto& entry = settings.g_ChannelInfo[k];
        check(entry.nGain >= 1);
        check(entry.bOnOff == 0 || entry.bOnOff == 1);
        check(!launch || entry.nSampleRate == 22050);
        check(entry.cSource[sizeof entry.cSource - 1] == 0);
    }
}

void asApplicationConfiguration(phonaxis::ByteView bytes)
{
    AppSettings settings;
    const bool taken = phonaxis::takeLaunchSettings(bytes, settings);
    checkChannelTable(settings, taken);
    const Configuration rewritten = phonaxis::applicationDefaults(settings);

    // A rewritten record is taken at the next launch; from then on the
    // record stays the same (after the first one when nothing was taken,
    // since the sample rates are forced only when a record is taken).
    AppSettings next;
    check(phonaxis::takeLaunchSettings(rewritten.bytes(), next));
    const Configuration second = phonaxis::applicationDefaults(next);
    check(!taken || second == rewritten);
    AppSettings third;
    check(phonaxis::takeLaunchSettings(second.bytes(), third));
    check(phonaxis::applicationDefaults(third) == second);

    MyDocument document(prompts(), settings);
    if (const auto record = Configuration::fromBytes(bytes)) {
        phonaxis::applyNewDocumentSettings(*record, document);
        check(document.m_bTrackMouse);
    }
}

void asUserConfiguration(phonaxis::ByteView bytes)
{
    const auto record = Configuration::fromBytes(bytes);
    if (!record) {
        return;
    }
    AppSettings settings;
    MyDocument document(prompts(), settings);
    phonaxis::applyUserConfiguration(*record, document, settings);
    checkChannelTable(settings, false);
    check(settings.g_strInputSource == "Mic" || settings.g_strInputSource == "Line");

    const Configuration saved = phonaxis::userConfiguration(document, settings);
    AppSettings settingsAgain;
    MyDocument documentAgain(prompts(), settingsAgain);
    phonaxis::applyUserConfiguration(saved, documentAgain, settingsAgain);
    check(phonaxis::userConfiguration(documentAgain, settingsAgain) == saved);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const phonaxis::ByteView whole(data, size);
    asApplicationConfiguration(whole);
    asUserConfiguration(whole);

    if (size >= 2) {
        const std::size_t offset = (std::size_t{data[0]} | std::size_t{data[1]} << 8) %
                                   Configuration::kSize;
        const Configuration base = phonaxis::applicationDefaults(AppSettings{});
        std::vector<std::uint8_t> spliced(base.bytes().begin(), base.bytes().end());
        const std::size_t count = std::min(size - 2, Configuration::kSize - offset);
        std::memcpy(spliced.data() + offset, data + 2, count);
        asApplicationConfiguration(spliced);
        asUserConfiguration(spliced);
    }
    return 0;
}
