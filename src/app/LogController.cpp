#include "app/LogController.h"

#include "app/QtPrompts.h"
#include "document/MyDocument.h"
#include "document/Prompts.h"
#include "log/EggLogEntries.h"
#include "log/ui/LogWindow.h"

#include <QDir>

#include <cstdio>
#include <filesystem>

namespace phonaxis {

LogController::LogController(Prompts* prompts, ConsoleSink console)
    : m_injectedPrompts(prompts), m_console(std::move(console))
{
}

LogController::~LogController() = default;

bool LogController::isVisible() const
{
    return m_window && m_window->isVisible();
}

Prompts& LogController::prompts()
{
    if (m_injectedPrompts != nullptr) {
        return *m_injectedPrompts;
    }
    if (!m_ownPrompts) {
        m_ownPrompts = std::make_unique<QtPrompts>();
    }
    return *m_ownPrompts;
}

void LogController::console(const std::string& line) const
{
    if (m_console) {
        m_console(line);
    } else {
        std::fputs(line.c_str(), stderr);
    }
}

LogWindow& LogController::ensureWindow()
{
    if (!m_window) {
        Prompts& windowPrompts = prompts();
        m_window = std::make_unique<LogWindow>(m_table, windowPrompts,
                                               [this](const std::string& line) { console(line); });
        m_window->setWindowTitle(kUntitledTitle);
        if (m_ownPrompts) {
            m_ownPrompts->setWindow(m_window.get()); // its dialogs are modal to the log window
        }
    }
    return *m_window;
}

void LogController::LogNew()
{
    LogWindow& window = ensureWindow();
    m_table.initilize();
    window.Refresh();
    window.setWindowTitle(kUntitledTitle);
    window.show();
    window.raise();
    window.activateWindow();
}

void LogController::LogOpen()
{
    OpenPanelRequest request;
    request.multiple = true;
    request.folders = true;
    request.directory = QDir::homePath().toStdString();
    const std::vector<std::string> paths = prompts().openPanel(request);
    for (const std::string& path : paths) {
        // A file that cannot be read as a log ends the command and leaves
        // the log as it was rather than emptied; the window is shown only
        // for a log that was read.
        if (!m_table.ReadDocument(path)) {
            console("Error reading file at " + path + "\n");
            return;
        }
        LogWindow& window = ensureWindow();
        window.Refresh();
        window.setWindowTitle(
            QString::fromStdString(std::filesystem::path(path).filename().string()));
        window.show();
        window.raise();
        window.activateWindow();
    }
}

void LogController::add(const LogRecord& record, bool refresh)
{
    m_table.AddLog(record, refresh);
}

bool LogController::validateMenuItem(const std::string& command, const MyDocument* document) const
{
    const bool visible = isVisible();
    if (command == "_LogNew:" || command == "_LogOpen:") {
        return !visible;
    }
    if (command == "_LogSave:" || command == "_LogSaveas:") {
        return m_table.validateMenuItem(command, visible);
    }
    if (document == nullptr) {
        return false;
    }
    if (command == "_LogMarker:") {
        return canLogMarker(*document, visible);
    }
    if (command == "_LogDuration:") {
        return canLogDuration(*document, visible);
    }
    if (command == "_LogDataSelection:") {
        return canLogDataSelection(*document, visible);
    }
    if (command == "_LogEntereggatmarker:") {
        return canLogEggAtMarker(*document, visible);
    }
    if (command == "_LogEntereggselection:") {
        return canLogEggSelection(*document, visible);
    }
    if (command == "_LogEntereggall:") {
        return canLogEggAll(*document, visible);
    }
    return false;
}

void LogController::logMarker(const MyDocument& document, const std::string& displayName)
{
    add(markerLogRecord(document, displayName), true);
}

void LogController::logDuration(const MyDocument& document, const std::string& displayName)
{
    add(durationLogRecord(document, displayName), true);
}

DataSelectionLogResult LogController::logDataSelection(MyDocument& document,
                                                       const std::string& displayName,
                                                       Prompts* sheetPrompts)
{
    const DataSelectionLogResult result = phonaxis::logDataSelection(document, displayName, m_table);
    const char* message = nullptr;
    switch (result.status) {
    case DataSelectionLogStatus::Logged:
        break;
    case DataSelectionLogStatus::NonPositiveStep:
        message = kNonPositiveStepMessage;
        break;
    case DataSelectionLogStatus::TooManyRows:
        message = kTooManyRowsMessage;
        break;
    }
    if (message != nullptr) {
        Prompts& answer = sheetPrompts != nullptr ? *sheetPrompts : prompts();
        answer.alert(kDataSelectionRefusedTitle, message, "OK");
    }
    return result;
}

void LogController::logEggAtMarker(MyDocument& document, const std::string& displayName)
{
    add(eggMarkerLogRecord(document, displayName), true);
}

std::size_t LogController::addCycleRecords(const MyDocument& document,
                                           const std::string& displayName, bool selectionOnly,
                                           Prompts* sheetPrompts)
{
    const Channels* egg = eggChannel(document);
    if (egg != nullptr && !egg->m_bHaveCycle) {
        Prompts& answer = sheetPrompts != nullptr ? *sheetPrompts : prompts();
        answer.alert(kEggNotAnalysedTitle, kEggNotAnalysedMessage, "OK");
        return 0;
    }
    const std::vector<LogRecord> records = eggCycleLogRecords(document, displayName, selectionOnly);
    for (const LogRecord& record : records) {
        add(record, false);
    }
    m_table.Refresh();
    return records.size();
}

std::size_t LogController::logEggSelection(const MyDocument& document,
                                           const std::string& displayName, Prompts* sheetPrompts)
{
    return addCycleRecords(document, displayName, true, sheetPrompts);
}

std::size_t LogController::logEggAll(const MyDocument& document, const std::string& displayName,
                                     Prompts* sheetPrompts)
{
    return addCycleRecords(document, displayName, false, sheetPrompts);
}

} // namespace phonaxis
