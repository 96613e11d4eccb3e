#include "hardware/FirmwareImage.h"

#include "hardware/BoxRequests.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace phonaxis {

namespace {

// An image fills at most the controller's 64 KiB address space; even written
// twice over in 16-byte records that is under 400 KB of text. A larger file
// is not an image, and is declined before it is read.
constexpr std::uintmax_t kLargestHexFile = std::uintmax_t{4} << 20;

constexpr std::size_t kMaxRecordBytes = 16;
constexpr std::uint32_t kAddressSpace = 0x10000;

enum RecordType : std::uint8_t {
    kData = 0x00,
    kEnd = 0x01,
    kSegmentBase = 0x02,
    kSegmentStart = 0x03,
    kLinearBase = 0x04,
    kLinearStart = 0x05,
};

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// The bytes of one record line after its ':', or a reason it has none.
bool decodeLine(std::string_view line, std::vector<std::uint8_t>& bytes, std::string& reason)
{
    if (line.empty() || line.front() != ':') {
        reason = "a record must start with \":\"";
        return false;
    }
    line.remove_prefix(1);
    bytes.clear();
    for (std::size_t i = 0; i < line.size(); i += 2) {
        const int high = hexDigit(line[i]);
        const int low = i + 1 < line.size() ? hexDigit(line[i + 1]) : 0;
        if (high < 0 || low < 0) {
            reason = "it holds a character that is not a hexadecimal digit";
            return false;
        }
        if (i + 1 >= line.size()) {
            reason = "it holds an odd number of hexadecimal digits";
            return false;
        }
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    // Byte count, two address bytes, type, checksum.
    if (bytes.size() < 5) {
        reason = "the record is too short";
        return false;
    }
    if (bytes.size() != std::size_t{bytes[0]} + 5) {
        reason = "its length does not match its byte count";
        return false;
    }
    std::uint8_t sum = 0;
    for (const std::uint8_t b : bytes) {
        sum = static_cast<std::uint8_t>(sum + b);
    }
    if (sum != 0) {
        reason = "its checksum is wrong";
        return false;
    }
    return true;
}

// Whether the data of a base-address record is all zero.
bool zeroBase(std::span<const std::uint8_t> data)
{
    return std::all_of(data.begin(), data.end(), [](std::uint8_t b) { return b == 0; });
}

std::string lineError(std::size_t lineNumber, const std::string& reason)
{
    return "The firmware image is damaged at line " + std::to_string(lineNumber) + ": " + reason +
           ".";
}

// "0D99": a 16-bit address in four upper-case hexadecimal digits.
std::string hexAddress(std::uint32_t address)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (int shift = 12; shift >= 0; shift -= 4) {
        text.push_back(kDigits[(address >> shift) & 0x0F]);
    }
    return text;
}

void appendHexByte(std::string& out, std::uint8_t byte)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out.push_back(kDigits[byte >> 4]);
    out.push_back(kDigits[byte & 0x0F]);
}

} // namespace

std::optional<FirmwareImage> FirmwareImage::parseHex(std::string_view text, std::string& error)
{
    FirmwareImage image;
    std::vector<std::uint8_t> bytes;
    std::size_t lineNumber = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        ++lineNumber;
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        // Blank lines between records carry nothing and are passed over.
        if (line.empty()) {
            continue;
        }
        std::string reason;
        if (!decodeLine(line, bytes, reason)) {
            error = lineError(lineNumber, reason);
            return std::nullopt;
        }
        const std::size_t count = bytes[0];
        const std::uint32_t address = std::uint32_t{bytes[1]} << 8 | bytes[2];
        const std::span<const std::uint8_t> data(bytes.data() + 4, count);
        switch (bytes[3]) {
        case kData: {
            if (count > kMaxRecordBytes) {
                error = lineError(lineNumber, "a data record holds " + std::to_string(count) +
                                                  " bytes, more than 16");
                return std::nullopt;
            }
            if (address + count > kAddressSpace) {
                error = lineError(lineNumber, "its data runs past address 0xFFFF");
                return std::nullopt;
            }
            // The download writes the CPU control register itself (hold in
            // reset, then run); an image writing it would start the
            // controller half loaded.
            if (address <= box::kCpuControl && box::kCpuControl < address + count) {
                error = lineError(lineNumber,
                                  "it writes the CPU control register at 0xE600, which only the "
                                  "download itself sets");
                return std::nullopt;
            }
            // Anything outside the RAM is refused by the loader, which would
            // leave the box held in reset halfway through the download.
            if (address + count > box::kRamBytes) {
                error = lineError(lineNumber, "its data at 0x" + hexAddress(address) +
                                                  " lies beyond the controller's RAM (0x0000 to "
                                                  "0x3FFF)");
                return std::nullopt;
            }
            FirmwareRecord record;
            record.Length = static_cast<std::uint32_t>(count);
            record.Address = address;
            record.Type = 0;
            std::copy(data.begin(), data.end(), record.Data.begin());
            image.records.push_back(record);
            break;
        }
        case kEnd: {
            if (count != 0) {
                error = lineError(lineNumber, "the end record holds data");
                return std::nullopt;
            }
            if (image.dataBytes() == 0) {
                error = lineError(lineNumber,
                                  "the image ends before any data: there is nothing to load");
                return std::nullopt;
            }
            FirmwareRecord record;
            record.Type = 1;
            image.records.push_back(record);
            return image;
        }
        case kSegmentBase:
        case kLinearBase:
            if (count != 2) {
                error = lineError(lineNumber, "an extended address record must hold 2 bytes");
                return std::nullopt;
            }
            if (!zeroBase(data)) {
                error = lineError(lineNumber,
                                  "it moves the base address past 0xFFFF, beyond the controller");
                return std::nullopt;
            }
            break;
        case kSegmentStart:
        case kLinearStart:
            if (count != 4) {
                error = lineError(lineNumber, "a start address record must hold 4 bytes");
                return std::nullopt;
            }
            break;
        default:
            error = lineError(lineNumber, "its record type " + std::to_string(bytes[3]) +
                                              " is not one of an image's");
            return std::nullopt;
        }
    }
    if (image.records.empty() && text.find(':') == std::string_view::npos) {
        error = "The firmware image is empty.";
        return std::nullopt;
    }
    error = "The firmware image ends at line " + std::to_string(lineNumber) +
            " without an end record; it may be truncated.";
    return std::nullopt;
}

std::optional<FirmwareImage> FirmwareImage::readHexFile(const std::string& path, std::string& error)
{
    const std::string what = "The firmware image \"" + path + "\"";
    auto unreadable = [&](const std::string& reason) {
        error = what + " could not be read: " + reason + ".";
        return std::nullopt;
    };
    std::error_code failed;
    const auto status = std::filesystem::status(path, failed);
    if (failed) {
        return unreadable(failed.message());
    }
    if (!std::filesystem::is_regular_file(status)) {
        return unreadable("it is not a regular file");
    }
    const std::uintmax_t size = std::filesystem::file_size(path, failed);
    if (failed) {
        return unreadable(failed.message());
    }
    if (size > kLargestHexFile) {
        return unreadable("at " + std::to_string(size) +
                          " bytes it is far too large for an image (4 MB at most)");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return unreadable(std::strerror(errno));
    }
    std::string text(static_cast<std::size_t>(size), '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.gcount() != static_cast<std::streamsize>(text.size())) {
        return unreadable("the file ended early while it was read");
    }
    std::string parseError;
    auto image = parseHex(text, parseError);
    if (!image) {
        // "The firmware image is damaged …" names the file it came from.
        error = what + parseError.substr(std::strlen("The firmware image"));
    }
    return image;
}

std::string FirmwareImage::toHex() const
{
    std::string out;
    for (const FirmwareRecord& record : records) {
        if (record.Type != 0) {
            break;
        }
        const std::size_t count = std::min<std::size_t>(record.Length, kMaxRecordBytes);
        const auto high = static_cast<std::uint8_t>(record.Address >> 8);
        const auto low = static_cast<std::uint8_t>(record.Address);
        std::uint8_t sum = static_cast<std::uint8_t>(count + high + low);
        out.push_back(':');
        appendHexByte(out, static_cast<std::uint8_t>(count));
        appendHexByte(out, high);
        appendHexByte(out, low);
        appendHexByte(out, kData);
        for (std::size_t i = 0; i < count; ++i) {
            appendHexByte(out, record.Data[i]);
            sum = static_cast<std::uint8_t>(sum + record.Data[i]);
        }
        appendHexByte(out, static_cast<std::uint8_t>(-sum));
        out.push_back('\n');
    }
    out += ":00000001FF\n";
    return out;
}

std::size_t FirmwareImage::dataBytes() const
{
    std::size_t total = 0;
    for (const FirmwareRecord& record : records) {
        if (record.Type != 0) {
            break;
        }
        total += std::min<std::size_t>(record.Length, kMaxRecordBytes);
    }
    return total;
}

} // namespace phonaxis
