#include "windows/ui/AnalysisWindowMenus.h"

#include "display/MenuCommands.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

namespace phonaxis {

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
