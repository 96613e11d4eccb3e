// phonaxis: the desktop application. Runs the launch sequence, then opens
// the status window and any files named on the command line.
#include "app/Application.h"
#include "app/QtPrompts.h"
#include "app/Startup.h"
#include "document/AppSettings.h"
#include "document/EditClipboard.h"
#include "hardware/ui/BoxService.h"

#include <QApplication>
#include <QDir>
#include <QStandardPaths>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

// The value of option `name` in `arguments` ("--name=VALUE" or "--name
// VALUE"), taken out of them; nothing when absent. `missing` is set when the
// option is given without a value.
std::optional<std::string> takeOption(QStringList& arguments, const QString& name, bool& missing)
{
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument.startsWith(name + QLatin1Char('='))) {
            const std::string value = argument.mid(name.size() + 1).toStdString();
            arguments.removeAt(i);
            return value;
        }
        if (argument == name) {
            if (i + 1 >= arguments.size()) {
                missing = true;
                arguments.removeAt(i);
                return std::nullopt;
            }
            const std::string value = arguments[i + 1].toStdString();
            arguments.remove(i, 2);
            return value;
        }
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv)
{
    // Answered before Qt starts, so that they work without a display.
    if (const std::optional<phonaxis::InformationAnswer> answer =
            phonaxis::informationOption(std::vector<std::string>(argv + 1, argv + argc))) {
        std::fputs(answer->text.c_str(), stdout);
        return answer->status;
    }
    QApplication qtApplication(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Phonaxis"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(phonaxis::kApplicationVersion));

    phonaxis::StartupInputs inputs;
    inputs.executablePath = QCoreApplication::applicationFilePath().toStdString();
    inputs.configFolder = phonaxis::configurationFolder(
        QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation).toStdString());
    inputs.settings = &phonaxis::AppSettings::instance();
    inputs.clipboard = &phonaxis::EditClipboard::instance();

    // The acquisition box: the USB bus, or a simulated box plugged in at
    // launch (--simulate-box=9|5|2 or PHONAXIS_SIMULATE_BOX), loaded with
    // the firmware named by --firmware FILE.hex or PHONAXIS_FIRMWARE, else
    // the one in the application's data folder.
    QStringList files = QCoreApplication::arguments();
    files.removeFirst();
    bool missing = false;
    std::optional<std::string> simulate =
        takeOption(files, QStringLiteral("--simulate-box"), missing);
    std::optional<std::string> firmware = takeOption(files, QStringLiteral("--firmware"), missing);
    if (missing) {
        std::fprintf(stderr, "phonaxis: --simulate-box and --firmware take a value\n");
        return 2;
    }
    if (!simulate) {
        if (const char* value = std::getenv("PHONAXIS_SIMULATE_BOX"); value && *value) {
            simulate = value;
        }
    }
    if (!firmware) {
        if (const char* value = std::getenv("PHONAXIS_FIRMWARE"); value && *value) {
            firmware = value;
        }
    }
    phonaxis::BoxOptions boxOptions;
    if (simulate) {
        std::string error;
        const std::optional<int> channels = phonaxis::simulatedChannelsFrom(*simulate, error);
        if (!channels) {
            std::fprintf(stderr, "phonaxis: %s\n", error.c_str());
            return 2;
        }
        boxOptions.simulatedChannels = *channels;
    }
    boxOptions.firmwarePath = firmware.value_or(std::string());
    boxOptions.defaultFirmwarePath =
        (QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
         QStringLiteral("/firmware.hex"))
            .toStdString();
    boxOptions.builtFirmwarePath =
        phonaxis::builtFirmwareBeside(QCoreApplication::applicationDirPath().toStdString());
    phonaxis::QtPrompts boxPrompts;
    phonaxis::BoxService box(boxOptions, boxPrompts);
    inputs.findHardware = [&box] { box.findHardware(); };

    const phonaxis::StartupReport report = phonaxis::runStartup(inputs);
    if (!report.configurationWritten && !inputs.configFolder.empty()) {
        std::fprintf(stderr, "phonaxis: configuration not written: %s\n",
                     report.configurationError.c_str());
    }

    phonaxis::Application application(*inputs.settings, report.globals);
    application.setBoxService(&box);
    application.finishLaunching(files);
    return qtApplication.exec();
}
