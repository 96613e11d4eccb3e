#pragma once

// A small firmware image of the tests' own for the simulated box: twenty
// data records of sixteen bytes (record i filled with i) and the end record,
// written as Intel HEX to `folder`/box.hex.

#include "hardware/FirmwareImage.h"

#include <filesystem>
#include <fstream>

namespace phonaxis::test {

inline std::filesystem::path writeTestFirmware(const std::filesystem::path& folder)
{
    FirmwareImage image;
    for (std::uint32_t i = 0; i < 20; ++i) {
        FirmwareRecord record;
        record.Length = 16;
        record.Address = i * 16;
        record.Data.fill(static_cast<std::uint8_t>(i));
        image.records.push_back(record);
    }
    FirmwareRecord end;
    end.Type = 1;
    image.records.push_back(end);
    const std::filesystem::path hex = folder / "box.hex";
    std::ofstream(hex) << image.toHex();
    return hex;
}

} // namespace phonaxis::test
