#include "app/Startup.h"

#include "document/AppSettings.h"
#include "document/Configuration.h"
#include "document/EditClipboard.h"
#include "document/EditSession.h"
#include "document/PrivateFiles.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <unistd.h>

namespace phonaxis {

namespace {

std::string directoryOf(const std::string& executablePath)
{
    if (executablePath.empty()) {
        return {};
    }
    std::error_code error;
    std::filesystem::path path = std::filesystem::absolute(executablePath, error);
    if (error) {
        path = executablePath;
    }
    return path.parent_path().string();
}

} // namespace

std::string applicationHelpText()
{
    return "usage: phonaxis [FILE ...] [--simulate-box=N] [--firmware FILE.hex]\n"
           "       phonaxis --help | --version\n"
           "\n"
           "Records, shows and analyses speech, EGG and transducer channels. Opens each\n"
           "recording FILE given (.pmf and older native files, .wav, .aif/.aiff/.aifc) in\n"
           "its own window; without FILE it starts with the status window.\n"
           "\n"
           "options:\n"
           "  --simulate-box=N      plugs in a simulated acquisition box of N channels\n"
           "                        (9, 5 or 2) at launch\n"
           "  --firmware FILE.hex   the box's firmware image (Intel HEX)\n"
           "  -h, --help            this text\n"
           "  -v, --version         the program's name and version\n"
           "  Qt's own options (-platform NAME, -style NAME, ...) are accepted too.\n"
           "\n"
           "environment:\n"
           "  PHONAXIS_SIMULATE_BOX  as --simulate-box\n"
           "  PHONAXIS_FIRMWARE      as --firmware\n"
           "  PHONAXIS_CONFIG_DIR    the folder of the configuration (PhonaxisConf.cfg)\n"
           "                         instead of ~/.config/Phonaxis\n"
           "  PHONAXIS_FFT_LANES     2, 4 or 8: the widest vector lanes the FFT uses\n"
           "\n"
           "files:\n"
           "  ~/.config/Phonaxis/PhonaxisConf.cfg   the application configuration\n"
           "  ~/.local/share/Phonaxis/firmware.hex  the box's firmware when no other\n"
           "                                        is named\n"
           "  ~/.cache/Phonaxis/tmp                 undo backups and recordings in\n"
           "                                        progress (offered back after a crash)\n"
           "\n"
           "exit status: 0 when the application quits normally, 2 for a wrong option.\n";
}

std::string applicationVersionText()
{
    return std::string("phonaxis ") + PHONAXIS_VERSION + " (" + kApplicationVersion + ")\n";
}

std::optional<InformationAnswer> informationOption(const std::vector<std::string>& arguments)
{
    for (const std::string& argument : arguments) {
        if (argument == "--help" || argument == "-h") {
            return InformationAnswer{applicationHelpText(), 0};
        }
        if (argument == "--version" || argument == "-v") {
            return InformationAnswer{applicationVersionText(), 0};
        }
    }
    return std::nullopt;
}

std::string configurationFolder(const std::string& standardLocation)
{
    const char* fromEnvironment = std::getenv("PHONAXIS_CONFIG_DIR");
    if (fromEnvironment != nullptr && *fromEnvironment != '\0') {
        return fromEnvironment;
    }
    return standardLocation;
}

StartupReport runStartup(const StartupInputs& inputs)
{
    StartupReport report;

    // 1. Where the application lives, its version and its temporary folder,
    // with what runs that crashed left in it cleared away.
    report.globals.gAppPath = directoryOf(inputs.executablePath);
    report.globals.gstrVersion = kApplicationVersion;
    const std::filesystem::path temporary = inputs.temporaryFolder.empty()
                                                ? privateTemporaryFolder()
                                                : std::filesystem::path(inputs.temporaryFolder);
    report.globals.appPathTemp = temporary.string();
    std::string folderError;
    const int folder = openPrivateFolder(temporary, folderError);
    report.temporaryFolderReady = folder >= 0;
    if (folder >= 0) {
        ::close(folder);
        report.staleBackupsRemoved = EditSession::removeStaleBackups(temporary);
    }
    report.steps.emplace_back("paths");

    // 2. The edit clipboard's twenty channels exist from here on.
    EditClipboard& clipboard = inputs.clipboard ? *inputs.clipboard : EditClipboard::instance();
    (void)clipboard;
    report.steps.emplace_back("clipboard");

    // 3. Sound sources and the acquisition channel table.
    AppSettings& settings = inputs.settings ? *inputs.settings : AppSettings::instance();
    settings.setLaunchDefaults();
    report.steps.emplace_back("defaults");

    // 4. The application configuration may replace everything above.
    settings.m_strConfigFolder = inputs.configFolder;
    if (!settings.m_strConfigFolder.empty()) {
        report.configurationWritten = ReadConfig(settings, &report.configurationError);
    }
    report.steps.emplace_back("configuration");

    // 5. Acquisition hardware: the box service's discovery (the USB bus or
    // a simulated box) arrives as findHardware and is armed here, after the
    // configuration; a missing device is never an error. Without one (tests
    // of the launch alone) nothing is looked for.
    if (inputs.findHardware) {
        inputs.findHardware();
    }
    report.steps.emplace_back("hardware");
    return report;
}

} // namespace phonaxis
