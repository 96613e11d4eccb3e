#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace phonaxis {

struct AppSettings;
class EditClipboard;

// The application-wide values fixed at launch and kept until the
// application quits.
struct ApplicationGlobals {
    std::string gAppPath;    // directory holding the executable
    std::string appPathTemp; // this user's private folder for temporary files
    std::string gstrVersion; // shown by the about window
};

// The version string of this build of the application.
inline constexpr const char* kApplicationVersion = "1904";

// What the launch sequence works on. Tests hand their own settings and
// clipboard; the application passes the process-wide ones.
struct StartupInputs {
    std::string executablePath;  // argv[0] or QCoreApplication::applicationFilePath()
    // This user's private folder for temporary files; "" for the standard
    // one (privateTemporaryFolder).
    std::string temporaryFolder;
    std::string configFolder;    // where PhonaxisConf.cfg lives; "" for none
    AppSettings* settings = nullptr;
    EditClipboard* clipboard = nullptr;
    // Looks for an acquisition box and loads it; a missing box is not an
    // error. The application passes its box service's discovery; empty:
    // nothing is looked for.
    std::function<void()> findHardware;
};

// How the launch went. `steps` names each step in the order it ran
// ("paths", "clipboard", "defaults", "configuration", "hardware").
struct StartupReport {
    ApplicationGlobals globals;
    std::vector<std::string> steps;
    bool temporaryFolderReady = false;
    int staleBackupsRemoved = 0; // backups earlier runs left behind
    bool configurationWritten = false;
    std::string configurationError; // why the configuration rewrite failed
};

// The launch sequence, in its fixed order, before the first window opens:
// the application paths and version (creating the private temporary folder
// and removing the undo backups that runs which crashed left in it), the
// edit clipboard's channels, the sound sources and acquisition channel
// table defaults, the application configuration (which may overwrite all of
// them), then the hardware search. Failures are reported, never thrown: an
// unwritable configuration folder leaves the launch defaults in force.
StartupReport runStartup(const StartupInputs& inputs);

// What `phonaxis --help` prints: the command line, its options, the
// environment variables and the files the application uses.
std::string applicationHelpText();
// What `phonaxis --version` prints: the program, the release and the build
// shown in the about window ("phonaxis 0.1 (1904)").
std::string applicationVersionText();
// The answer to the options that only inform (--help, -h, --version, -v)
// among `arguments` (without the program name): the text to print and the
// exit status, or nothing when the application is to start.
struct InformationAnswer {
    std::string text;
    int status = 0;
};
std::optional<InformationAnswer> informationOption(const std::vector<std::string>& arguments);

// The configuration folder of the application: $PHONAXIS_CONFIG_DIR when set
// and not empty, else `standardLocation` (the platform's per-user
// application configuration folder).
std::string configurationFolder(const std::string& standardLocation);

} // namespace phonaxis
