// Firmware image reader on arbitrary text. A text that parses gives data
// records of at most 16 bytes inside the controller's RAM (0x0000..0x3FFF,
// so never over the CPU control register at 0xE600), at least one byte in
// all, then exactly one end record; written back as HEX it reads again to
// the same records.
// A text that does not parse gives a message.

#include "hardware/BoxRequests.h"
#include "hardware/FirmwareImage.h"

#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using phonaxis::FirmwareImage;
using phonaxis::FirmwareRecord;

bool sameRecords(const FirmwareImage& a, const FirmwareImage& b)
{
    if (a.records.size() != b.records.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.records.size(); ++i) {
        const FirmwareRecord& x = a.records[i];
        const FirmwareRecord& y = b.records[i];
        if (x.Length != y.Length || x.Address != y.Address || x.Type != y.Type ||
            x.Data != y.Data) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto image = FirmwareImage::parseHex(text, error);
    if (!image) {
        if (error.empty()) {
            std::abort();
        }
        return 0;
    }
    if (image->records.empty() || image->records.back().Type != 1) {
        std::abort();
    }
    std::size_t bytes = 0;
    for (std::size_t i = 0; i + 1 < image->records.size(); ++i) {
        const FirmwareRecord& record = image->records[i];
        if (record.Type != 0 || record.Length > 16 || record.Address + record.Length > phonaxis::box::kRamBytes) {
            std::abort();
        }
        bytes += record.Length;
    }
    if (bytes == 0 || bytes != image->dataBytes()) {
        std::abort();
    }
    std::string again;
    const auto reread = FirmwareImage::parseHex(image->toHex(), again);
    if (!reread || !sameRecords(*image, *reread)) {
        std::abort();
    }
    return 0;
}
