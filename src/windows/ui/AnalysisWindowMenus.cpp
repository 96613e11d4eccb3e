#include "windows/ui/AnalysisWindowMenus.h"

#include "display/MenuCommands.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QVariant>

#include <functional>
#include <string>
#include <string_view>

namespace phonaxis {

namespace {

const ApplicationCommands* g_applicationCommands = nullptr;

// Where each application command goes: its menu (title with mnemonic) and
// what it runs.
struct ApplicationCommandPlace {
    const char* name;
    const char* menu;
    std::function<void()> ApplicationCommands::*run;
};

const ApplicationCommandPlace kApplicationCommandPlaces[] = {
    {"_PlotFormantOpen:", "&File", &ApplicationCommands::plotFormantOpen},
    {"_LogNew:", "&Log", &ApplicationCommands::logNew},
    {"_LogOpen:", "&Log", &ApplicationCommands::logOpen},
    {"_HideShowStatus:", "&Window", &ApplicationCommands::hideShowStatus},
    {"_aboutApp:", "&Help", &ApplicationCommands::aboutApp},
};

// Marks the actions addApplicationMenus made, so that a window's own
// action of the same command keeps its own rule.
constexpr const char* kApplicationCommandProperty = "applicationCommand";

bool isLogCommand(const std::string& name)
{
    return name == "_LogNew:" || name == "_LogOpen:";
}

// Whether the application command `name` may run now.
bool applicationCommandEnabled(const std::string& name)
{
    const ApplicationCommands* commands = g_applicationCommands;
    if (commands == nullptr) {
        return false;
    }
    // A new or opened log replaces the rows of the one shown.
    return !isLogCommand(name) || !commands->logWindowVisible || !commands->logWindowVisible();
}

} // namespace

void setApplicationCommands(const ApplicationCommands* commands)
{
    g_applicationCommands = commands;
}

const ApplicationCommands* applicationCommands()
{
    return g_applicationCommands;
}

void addApplicationMenus(QWidget& window, QMenuBar& bar)
{
    QList<QMenu*> touched;
    for (const ApplicationCommandPlace& place : kApplicationCommandPlaces) {
        if (window.findChild<QAction*>(QString::fromLatin1(place.name)) != nullptr) {
            continue;
        }
        const QString menuName = withoutMnemonic(QString::fromUtf8(place.menu));
        QMenu* menu = bar.findChild<QMenu*>(menuName, Qt::FindDirectChildrenOnly);
        if (menu == nullptr) {
            menu = addNamedMenu(bar, place.menu);
        }
        QAction* item = makeMenuAction(place.name, menu);
        item->setProperty(kApplicationCommandProperty, true);
        // Before the menu's first separator (the window's own closing and
        // quitting commands follow it), else at its end.
        QAction* before = nullptr;
        for (QAction* present : menu->actions()) {
            if (present->isSeparator()) {
                before = present;
                break;
            }
        }
        menu->insertAction(before, item);
        const std::string name = place.name;
        QObject::connect(item, &QAction::triggered, &window, [name, run = place.run] {
            // The rule is checked again: the action may be triggered
            // without its menu showing first.
            const ApplicationCommands* commands = g_applicationCommands;
            if (applicationCommandEnabled(name) && (commands->*run)) {
                (commands->*run)();
            }
        });
        if (!touched.contains(menu)) {
            touched.append(menu);
            QObject::connect(menu, &QMenu::aboutToShow, &window,
                             [&window] { refreshApplicationCommands(window); });
        }
    }
    refreshApplicationCommands(window);
}

void refreshApplicationCommands(const QWidget& window)
{
    const ApplicationCommands* commands = g_applicationCommands;
    for (const ApplicationCommandPlace& place : kApplicationCommandPlaces) {
        for (QAction* item : window.findChildren<QAction*>(QString::fromLatin1(place.name))) {
            if (!item->property(kApplicationCommandProperty).toBool()) {
                continue;
            }
            item->setEnabled(applicationCommandEnabled(place.name));
            if (std::string_view(place.name) == "_HideShowStatus:" && commands != nullptr &&
                commands->hideShowStatusTitle) {
                item->setText(commands->hideShowStatusTitle());
            }
        }
    }
}

QMenu* addCommandMenu(QMainWindow& window, const char* title, std::span<const char* const> commands,
                      const std::function<void()>& refresh)
{
    QMenu* menu = addNamedMenu(*window.menuBar(), title);
    for (const char* name : commands) {
        if (name == nullptr) {
            menu->addSeparator();
            continue;
        }
        QAction* item = makeMenuAction(name, &window);
        menu->addAction(item);
        window.addAction(item); // shortcuts work with the menu closed
    }
    QObject::connect(menu, &QMenu::aboutToShow, &window, refresh);
    return menu;
}

QAction* commandAction(const QWidget& window, const QString& command)
{
    return window.findChild<QAction*>(command, Qt::FindDirectChildrenOnly);
}

void refreshCommandActions(const QWidget& window,
                           const std::function<bool(const std::string&)>& enabled)
{
    for (QAction* item : window.actions()) {
        const std::string name = item->objectName().toStdString();
        if (!name.empty()) {
            item->setEnabled(enabled(name));
        }
    }
}

} // namespace phonaxis
