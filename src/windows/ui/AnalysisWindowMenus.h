#pragma once

#include <QString>

#include <functional>
#include <span>
#include <string>

class QAction;
class QMainWindow;
class QMenu;
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

} // namespace phonaxis
