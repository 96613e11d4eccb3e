#include "cli/CliSettings.h"

#include "cli/CliCommands.h"
#include "document/AutomaticPrompts.h"
#include "document/Configuration.h"
#include "document/DocumentSettings.h"
#include "document/FileIO.h"
#include "document/MyDocument.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace phonaxis::cli {

namespace {

// What each analysing command shows: its records, and its picture with --png.
struct CommandReaders {
    std::string_view command;
    std::uint16_t records;
    std::uint16_t picture;
};

constexpr CommandReaders kCommandReaders[] = {
    {"spectrum", kReadBySpectrum, kReadBySpectrumPicture},
    {"spectrogram", kReadBySpectrogram, kReadBySpectrogramPicture},
    {"formant-track", kReadByFormantTrack, 0},
    {"pitch", kReadByPitch, kReadByPitchPicture},
    {"egg", kReadByEgg, 0},
};

// Each --set of a setting that nothing `command` prints or draws reads is
// told once: the run goes on, but the user learns that the setting changes
// nothing here (a display or print option, or one of another analysis).
void tellUnreadSettings(const Options& options, std::string_view command, std::ostream& err)
{
    const auto readers =
        std::find_if(std::begin(kCommandReaders), std::end(kCommandReaders),
                     [&](const CommandReaders& entry) { return entry.command == command; });
    if (readers == std::end(kCommandReaders)) {
        return;
    }
    const std::uint16_t shown = readers->records | (options.pngPath ? readers->picture : 0);
    std::vector<const DocumentSetting*> told;
    for (const std::string& assignment : options.assignments) {
        const DocumentSetting* setting = findDocumentSetting(splitAssignment(assignment)->first);
        if ((setting->readBy & shown) != 0 ||
            std::find(told.begin(), told.end(), setting) != told.end()) {
            continue;
        }
        told.push_back(setting);
        err << "phonaxis-cli: " << setting->name << " is read by no analysis of " << command
            << "; the output is the same without it\n";
    }
}

} // namespace

int checkAssignments(const Options& options, std::string_view command, std::ostream& err)
{
    DocumentFields scratch;
    for (const std::string& assignment : options.assignments) {
        const auto parts = splitAssignment(assignment);
        if (!parts) {
            return usage(err, "--set takes NAME=VALUE, not \"" + assignment + "\"");
        }
        std::string error;
        if (setDocumentSetting(scratch, parts->first, parts->second, &error) !=
            SettingChange::Set) {
            return usage(err, error);
        }
    }
    tellUnreadSettings(options, command, err);
    return kExitOk;
}

int applySettings(const Options& options, BatchDocument& batch, std::ostream& err)
{
    if (options.configPath) {
        const std::string& path = *options.configPath;
        FileContents file;
        std::string error;
        if (!file.open(path, kConfigurationFile, error)) {
            return failure(err, error);
        }
        const std::optional<Configuration> record = Configuration::fromBytes(file.bytes());
        if (!record) {
            return failure(err, "\"" + path + "\" is not a configuration file: it holds " +
                                    std::to_string(file.bytes().size()) +
                                    " bytes, a configuration " +
                                    std::to_string(Configuration::kSize));
        }
        applyUserConfiguration(*record, batch.document, batch.settings);
        // The settings kept beside the record, when it has them.
        if (std::string supplementError; !readSupplement(path, batch.document, &supplementError)) {
            return failure(err, supplementError);
        }
        // The record's values come from outside: an analysis must not be
        // asked for a transform of 7 points or a pitch step of 0 ms.
        if (const DocumentSetting* bad = firstUnusableSetting(batch.document)) {
            return failure(err, "\"" + path + "\" sets " + bad->name + " to " +
                                    documentSettingText(batch.document, *bad) +
                                    ", which the analyses cannot work with");
        }
    }
    if (options.precise || options.classic) {
        batch.document.m_bPreciseAnalysis = options.precise;
    }
    for (const std::string& assignment : options.assignments) {
        const auto parts = splitAssignment(assignment);
        setDocumentSetting(batch.document, parts->first, parts->second);
    }
    return kExitOk;
}

namespace {

// Writes the settings of `batch` as a user configuration, with the
// application's own writer, then reads the file back as --config does: a
// --set whose value did not come back is told, since the record has no
// place for it (or keeps it rounded).
int saveConfiguration(const Options& options, const BatchDocument& batch, Prompts& prompts,
                      std::ostream& err)
{
    const std::string& path = *options.saveConfigPath;
    if (options.configPath) {
        const std::vector<std::string> inputs = {*options.configPath,
                                                 supplementPath(*options.configPath)};
        for (const std::string& output : {path, supplementPath(path)}) {
            if (const int status = checkOutputIsNoInput(output, inputs, err)) {
                return status;
            }
        }
    }
    // Both files or neither: the message says which were written.
    if (std::string error; !saveUserConfiguration(batch.document, batch.settings, path, error)) {
        return failure(err, error);
    }

    Options readBack;
    readBack.configPath = path;
    auto saved = std::make_unique<BatchDocument>(prompts);
    if (const int status = applySettings(readBack, *saved, err)) {
        return status;
    }
    // The values the settings had before any --set: a setting the record
    // does not hold comes back as this.
    Options withoutSets = options;
    withoutSets.assignments.clear();
    auto before = std::make_unique<BatchDocument>(prompts);
    if (const int status = applySettings(withoutSets, *before, err)) {
        return status;
    }
    std::vector<const DocumentSetting*> told;
    for (const std::string& assignment : options.assignments) {
        const DocumentSetting* setting = findDocumentSetting(splitAssignment(assignment)->first);
        const std::string kept = documentSettingText(saved->document, *setting);
        if (kept == documentSettingText(batch.document, *setting) ||
            std::find(told.begin(), told.end(), setting) != told.end()) {
            continue;
        }
        told.push_back(setting);
        err << "phonaxis-cli: " << setting->name;
        if (kept == documentSettingText(before->document, *setting)) {
            err << " is not kept in a configuration file\n";
        } else {
            err << " is kept as " << kept << " in a configuration file\n";
        }
    }
    return kExitOk;
}

// A limit of the setting's range, or null where only its type limits it.
std::string jsonLimit(const DocumentSetting& setting, double limit)
{
    const bool unlimited = setting.type == SettingType::Bool ||
                           limit == std::numeric_limits<double>::max() ||
                           limit == std::numeric_limits<double>::lowest();
    return unlimited ? "null" : jsonNumber(limit);
}

void listJson(const DocumentFields& fields, std::ostream& out)
{
    out << "[";
    const char* separator = "\n  ";
    for (const DocumentSetting& setting : documentSettings()) {
        // The value's text is JSON too: a number, true or false.
        out << separator << "{\"name\": " << jsonString(setting.name)
            << ", \"value\": " << documentSettingText(fields, setting)
            << ", \"unit\": " << jsonString(setting.unit)
            << ", \"minimum\": " << jsonLimit(setting, setting.minimum)
            << ", \"maximum\": " << jsonLimit(setting, setting.maximum)
            << ", \"meaning\": " << jsonString(setting.meaning) << ", \"readBy\": [";
        const char* nameSeparator = "";
        for (const std::string_view reader : settingReaderNames(setting.readBy)) {
            out << nameSeparator << jsonString(std::string(reader));
            nameSeparator = ", ";
        }
        out << "]}";
        separator = ",\n  ";
    }
    out << "\n]\n";
}

// NAME=VALUE, a tab and "# unit; range; meaning" (no unit part when the
// setting has none): cut at the tab, a line is --set text.
void listText(const DocumentFields& fields, std::ostream& out)
{
    for (const DocumentSetting& setting : documentSettings()) {
        out << setting.name << '=' << documentSettingText(fields, setting) << "\t# ";
        if (*setting.unit != '\0') {
            out << setting.unit << "; ";
        }
        out << settingRangeText(setting) << "; " << setting.meaning << '\n';
    }
}

} // namespace

int runSettings(const Options& options, std::ostream& out, std::ostream& err)
{
    if (!options.positional.empty()) {
        return usage(err, "settings takes no FILE");
    }
    if (options.saveConfigPath && options.json) {
        return usage(err, "settings --save-config writes FILE and lists nothing: --json has no "
                          "place there");
    }
    if (const int status = checkAssignments(options, "settings", err)) {
        return status;
    }
    AutomaticPrompts prompts(&err, "phonaxis-cli: ");
    auto batch = std::make_unique<BatchDocument>(prompts);
    if (const int status = applySettings(options, *batch, err)) {
        return status;
    }
    if (options.saveConfigPath) {
        return saveConfiguration(options, *batch, prompts, err);
    }
    if (options.json) {
        listJson(batch->document, out);
    } else {
        listText(batch->document, out);
    }
    return kExitOk;
}

} // namespace phonaxis::cli
