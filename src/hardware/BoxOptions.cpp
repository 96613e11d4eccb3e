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

std::string builtFirmwareBeside(const std::string& executableFolder)
{
    if (executableFolder.empty()) {
        return {};
    }
    const std::filesystem::path folder(executableFolder);
    const std::filesystem::path built = (folder / ".." / "data" / "firmware.hex").lexically_normal();
    std::error_code ec;
    if (std::filesystem::exists(built, ec)) {
        return built.string();
    }
    return (folder / ".." / "share" / "phonaxis" / "firmware.hex").lexically_normal().string();
}

std::string firmwarePathFor(const BoxOptions& options)
{
    if (!options.firmwarePath.empty()) {
        return options.firmwarePath;
    }
    std::error_code ec;
    if (!options.defaultFirmwarePath.empty() &&
        std::filesystem::exists(options.defaultFirmwarePath, ec)) {
        return options.defaultFirmwarePath;
    }
    if (options.simulatedChannels != 0) {
        return options.builtFirmwarePath;
    }
    return {};
}

std::optional<FirmwareImage> firmwareFor(const BoxOptions& options, std::string& error)
{
    if (const std::string path = firmwarePathFor(options); !path.empty()) {
        return FirmwareImage::readHexFile(path, error);
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
