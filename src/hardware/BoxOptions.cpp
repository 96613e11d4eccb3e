#include "hardware/BoxOptions.h"

#include <filesystem>
#include <system_error>

namespace phonaxis {

std::optional<int> simulatedChannelsFrom(const std::string& text, std::string& error)
{
    if (text == "9" || text == "5" || text == "2") {
        return std::stoi(text);
    }
    if (!text.empty()) {
        error = "A simulated box has 9, 5 or 2 channels, not \"" + text + "\".";
    }
    return std::nullopt;
}

std::optional<FirmwareImage> firmwareFor(const BoxOptions& options, std::string& error)
{
    if (!options.firmwarePath.empty()) {
        return FirmwareImage::readHexFile(options.firmwarePath, error);
    }
    std::error_code ec;
    if (!options.defaultFirmwarePath.empty() &&
        std::filesystem::exists(options.defaultFirmwarePath, ec)) {
        return FirmwareImage::readHexFile(options.defaultFirmwarePath, error);
    }
    if (options.simulatedChannels != 0 && !options.builtFirmwarePath.empty()) {
        return FirmwareImage::readHexFile(options.builtFirmwarePath, error);
    }
    error = "No firmware image for the acquisition box: put it at \"" +
            options.defaultFirmwarePath +
            "\" or name it with --firmware FILE.hex or PHONAXIS_FIRMWARE.";
    return std::nullopt;
}

bool firmwareAskedFor(const BoxOptions& options)
{
    return !options.firmwarePath.empty() || options.simulatedChannels != 0;
}

} // namespace phonaxis
