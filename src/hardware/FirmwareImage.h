#pragma once

// The box controller's firmware, as the download writes it: a table of
// records, each at most 16 bytes for one RAM address, in file order, ending
// at the end record. The image is not part of this program: it is read at
// run time from an Intel HEX file.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace phonaxis {

// One record of the table (28 bytes, as the download reads it).
struct FirmwareRecord {
    std::uint32_t Length = 0;   // data bytes in this record, 0..16
    std::uint32_t Address = 0;  // RAM address (the low 16 bits are used)
    std::uint32_t Type = 0;     // 0 data, 1 end
    std::array<std::uint8_t, 16> Data{};
};

struct FirmwareImage {
    std::vector<FirmwareRecord> records;  // data records in file order, then one end record

    // Parses Intel HEX text: data records (type 00) of at most 16 bytes and
    // the end-of-file record (01), each ":"-prefixed with its byte count,
    // 16-bit address, type, data and checksum in hexadecimal, CR/LF or LF
    // line ends; nothing after the end record counts. Extended address
    // records (02, 04) with a zero base and start records (03, 05) are
    // accepted and ignored; anything else (a bad checksum, a record longer
    // than 16 bytes, a non-zero extended base, a missing end record, stray
    // characters, data outside the controller's RAM 0x0000..0x3FFF, data
    // over the CPU control register 0xE600, an image without data) gives
    // nothing and a sentence naming the line in `error`: what the loader
    // cannot take is refused here, before a box is held in reset for it.
    static std::optional<FirmwareImage> parseHex(std::string_view text, std::string& error);
    // Reads and parses the file at `path` ("The firmware image … could not
    // be read: …" when it cannot be read).
    static std::optional<FirmwareImage> readHexFile(const std::string& path, std::string& error);

    // Intel HEX text of this image (16-byte data records, then the end
    // record): what tools write and the tests read back.
    std::string toHex() const;

    std::size_t dataBytes() const;
};

} // namespace phonaxis
