#pragma once

#include <QKeySequence>
#include <QString>

#include <string_view>

class QAction;
class QMenu;
class QMenuBar;
class QObject;

namespace phonaxis {

// One command as every window's menus show it: its name (the QAction's
// objectName, the command's selector), its menu title with the keyboard
// mnemonic marked by '&', and its shortcut. A command that appears in
// several windows (Save as Picture…, Print…, Close, the zoom commands) takes
// its title and shortcut from this one table, so they agree everywhere.
struct MenuCommand {
    const char* name;
    const char* title;
    QKeySequence::StandardKey standardKey; // UnknownKey: `shortcut` or none
    const char* shortcut;                  // may be null
};

// The command called `name`; null for a name the table does not hold.
const MenuCommand* findMenuCommand(std::string_view name);

// A new action for the command `name`, owned by `parent`: titled with its
// mnemonic, named and with its shortcut, active while its window is active.
// A name the table does not hold gets the name as its title.
QAction* makeMenuAction(std::string_view name, QObject* parent);

// A menu titled `title` (which may mark its mnemonic with '&') added to
// `bar`; its objectName is the title without the mark ("File").
QMenu* addNamedMenu(QMenuBar& bar, const char* title);

// `title` without its mnemonic mark ("Save &As…" → "Save As…").
QString withoutMnemonic(const QString& title);

} // namespace phonaxis
