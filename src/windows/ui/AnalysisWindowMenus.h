#pragma once

#include <QString>

#include <functional>
#include <span>
#include <string>

class QAction;
class QMainWindow;
class QMenu;
class QMenuBar;
class QWidget;

namespace phonaxis {

// The menus of an analysis window (pitch, spectrogram): every command an
// action named by the command (makeMenuAction), owned by the window and
// added to it as well, so that its shortcut works with the menu closed.

// Adds the menu `title` to `window`'s menu bar with an action per command
// (nullptr: a separator); `refresh` runs whenever the menu is about to show.
QMenu* addCommandMenu(QMainWindow& window, const char* title, std::span<const char* const> commands,
                      const std::function<void()>& refresh);

// The window's action of `command`, or null.
QAction* commandAction(const QWidget& window, const QString& command);

// Enables each of the window's named actions as `enabled` rules for its
// command.
void refreshCommandActions(const QWidget& window,
                           const std::function<bool(const std::string&)>& enabled);

// The application's own commands: they need no document, so the status
// window and every analysis, log and formant plot window offer them as the
// document window does. Each member acts for the running application.
struct ApplicationCommands {
    std::function<void()> hideShowStatus;         // "_HideShowStatus:"
    std::function<QString()> hideShowStatusTitle; // "Hide Status" / "Show Status"
    std::function<void()> logNew;                 // "_LogNew:"
    std::function<void()> logOpen;                // "_LogOpen:"
    std::function<bool()> logWindowVisible;       // the log commands' enabling
    std::function<void()> plotFormantOpen;        // "_PlotFormantOpen:"
    std::function<void()> aboutApp;               // "_aboutApp:"
};

// The running application's commands; null (the default, and after the
// application has gone) leaves the commands disabled and doing nothing.
// Not owned: the application registers its own and clears them as it goes.
void setApplicationCommands(const ApplicationCommands* commands);
const ApplicationCommands* applicationCommands();

// Adds the application's commands to `bar`, as actions owned by `window`:
// "_PlotFormantOpen:" in the File menu before its first separator, "_LogNew:" and
// "_LogOpen:" in the Log menu, "_HideShowStatus:" in the Window menu and
// "_aboutApp:" in the Help menu (each menu made when `bar` has none). A
// command `window` already has is left as it is. Each time one of these
// menus shows, the commands are enabled by the application's rules (the log
// commands not while the log window is shown) and the status toggle is
// titled.
void addApplicationMenus(QWidget& window, QMenuBar& bar);

// Enables and titles the application commands of `window` now, as their
// menus do when they show.
void refreshApplicationCommands(const QWidget& window);

} // namespace phonaxis
