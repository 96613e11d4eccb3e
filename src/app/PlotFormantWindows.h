#pragma once

#include <QPointer>

#include <functional>
#include <string>
#include <vector>

namespace phonaxis {

class PlotFormantController;
class Prompts;

// The application's formant plot windows: the "_PlotFormantOpen:" command,
// new windows (the spectrogram's hand-over makes one too), and asking every
// window with unsaved changes before quitting. Each window is independent
// and deletes itself when closed. Main thread only.
class PlotFormantWindows {
public:
    // Receives diagnostic console lines (each ends in LF).
    using ConsoleSink = std::function<void(const std::string&)>;

    // `prompts` answers every window's alerts and panels when given (tests);
    // otherwise each window shows its own dialogs. `console` receives the
    // diagnostic lines; by default they go to standard error.
    explicit PlotFormantWindows(Prompts* prompts = nullptr, ConsoleSink console = {});
    ~PlotFormantWindows();
    PlotFormantWindows(const PlotFormantWindows&) = delete;
    PlotFormantWindows& operator=(const PlotFormantWindows&) = delete;

    // A new, empty plot window (not shown yet).
    PlotFormantController* newWindow();

    // "_PlotFormantOpen:": an open panel (files and folders, several at
    // once). For each chosen path in order: a path that cannot be read as
    // a file writes "Error reading file at <path>\n" to the console and
    // ends the command; otherwise a new window is shown, reads the file and
    // is titled "Plot Formant:: " and the file's name. Returns the windows
    // opened.
    std::vector<PlotFormantController*> PlotFormantOpen();

    // The open windows, oldest first.
    std::vector<PlotFormantController*> windows() const;

    // Closes every window, asking about unsaved changes; false when a
    // window stays open (the user cancelled), and the rest stay open too.
    bool closeAll();

private:
    Prompts* m_prompts; // not owned; may be null
    ConsoleSink m_console;
    std::vector<QPointer<PlotFormantController>> m_windows;
};

} // namespace phonaxis
