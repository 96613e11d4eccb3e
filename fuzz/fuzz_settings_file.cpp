// The settings file beside a configuration ("NAME.cfg.settings": one
// NAME=VALUE a line) on arbitrary bytes. Whatever it holds: every setting
// it sets is one the analyses can work with; the lines it refuses are
// quoted with no byte a terminal would act on; and the settings it leaves,
// written as a settings file again, read back to the same text.

#include "document/Configuration.h"
#include "document/DocumentSettings.h"
#include "document/MyDocument.h"

#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

// No control byte (escape sequences begin with one), no DEL, and no C1
// control as UTF-8 (U+0080..U+009F is 0xC2 0x80..0x9F).
bool safeForATerminal(std::string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            return false;
        }
        if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    phonaxis::DocumentFields fields;
    std::string refused;
    const bool whole = phonaxis::parseSupplement(text, fields, &refused);
    check(whole == refused.empty());
    check(safeForATerminal(refused));
    check(phonaxis::firstUnusableSetting(fields) == nullptr);

    const std::string written = phonaxis::supplementText(fields);
    phonaxis::DocumentFields again;
    check(phonaxis::parseSupplement(written, again));
    check(phonaxis::supplementText(again) == written);
    return 0;
}
