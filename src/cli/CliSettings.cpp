#include "cli/CliSettings.h"

#include "cli/CliCommands.h"
#include "document/AutomaticPrompts.h"
#include "document/Configuration.h"
#include "document/DocumentSettings.h"
#include "document/FileIO.h"
#include "document/MyDocument.h"

#include <memory>
#include <optional>
#include <ostream>
#include <string>

namespace phonaxis::cli {

int checkAssignments(const Options& options, std::string_view /*command*/, std::ostream& err)
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
    if (options.precise) {
        batch.document.m_bPreciseAnalysis = true;
    }
    for (const std::string& assignment : options.assignments) {
        const auto parts = splitAssignment(assignment);
        setDocumentSetting(batch.document, parts->first, parts->second);
    }
    return kExitOk;
}

int runSettings(const Options& options, std::ostream& out, std::ostream& err)
{
    if (!options.positional.empty()) {
        return usage(err, "settings takes no FILE");
    }
    if (const int status = checkAssignments(options, "settings", err)) {
        return status;
    }
    AutomaticPrompts prompts(&err, "phonaxis-cli: ");
    auto batch = std::make_unique<BatchDocument>(prompts);
    if (const int status = applySettings(options, *batch, err)) {
        return status;
    }
    for (const DocumentSetting& setting : documentSettings()) {
        out << setting.name << '=' << documentSettingText(batch->document, setting) << '\n';
    }
    return kExitOk;
}

} // namespace phonaxis::cli
