// phonaxis: the desktop application. Runs the launch sequence, then opens
// the status window and any files named on the command line.
#include "app/Application.h"
#include "app/Startup.h"
#include "document/AppSettings.h"
#include "document/EditClipboard.h"

#include <QApplication>
#include <QStandardPaths>
#include <QStringList>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication qtApplication(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Phonaxis"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(phonaxis::kApplicationVersion));

    phonaxis::StartupInputs inputs;
    inputs.executablePath = QCoreApplication::applicationFilePath().toStdString();
    inputs.configFolder = phonaxis::configurationFolder(
        QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation).toStdString());
    inputs.settings = &phonaxis::AppSettings::instance();
    inputs.clipboard = &phonaxis::EditClipboard::instance();
    // The acquisition box search goes here when the hardware layer lands:
    // inputs.findHardware = [] { usbHardware().findAndLoadDevice(); };
    const phonaxis::StartupReport report = phonaxis::runStartup(inputs);
    if (!report.configurationWritten && !inputs.configFolder.empty()) {
        std::fprintf(stderr, "phonaxis: configuration not written: %s\n",
                     report.configurationError.c_str());
    }

    phonaxis::Application application(*inputs.settings, report.globals);
    QStringList files = QCoreApplication::arguments();
    files.removeFirst();
    application.finishLaunching(files);
    return qtApplication.exec();
}
