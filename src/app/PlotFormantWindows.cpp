#include "app/PlotFormantWindows.h"

#include "app/QtPrompts.h"
#include "log/ui/PlotFormantController.h"

#include <QDir>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace phonaxis {

PlotFormantWindows::PlotFormantWindows(Prompts* prompts, ConsoleSink console)
    : m_prompts(prompts), m_console(std::move(console))
{
    if (!m_console) {
        m_console = [](const std::string& line) { std::fputs(line.c_str(), stderr); };
    }
}

PlotFormantWindows::~PlotFormantWindows()
{
    for (const QPointer<PlotFormantController>& window : m_windows) {
        delete window.data();
    }
}

PlotFormantController* PlotFormantWindows::newWindow()
{
    std::erase_if(m_windows, [](const auto& window) { return window.isNull(); });
    PlotFormantController* window = nullptr;
    if (m_prompts != nullptr) {
        window = new PlotFormantController(*m_prompts, m_console);
    } else {
        auto prompts = std::make_unique<QtPrompts>();
        QtPrompts& dialogs = *prompts;
        window = new PlotFormantController(dialogs, m_console);
        dialogs.setWindow(window); // its dialogs are modal to it
        window->adoptPrompts(std::move(prompts));
    }
    window->setOpenCommand([this] { PlotFormantOpen(); });
    m_windows.emplace_back(window);
    return window;
}

std::vector<PlotFormantController*> PlotFormantWindows::PlotFormantOpen()
{
    OpenPanelRequest request;
    request.multiple = true;
    request.folders = true;
    request.directory = QDir::homePath().toStdString();
    QtPrompts ownPrompts;
    Prompts& prompts = m_prompts != nullptr ? *m_prompts : ownPrompts;
    std::vector<PlotFormantController*> opened;
    for (const std::string& path : prompts.openPanel(request)) {
        // A folder, a missing file or one without read permission ends the
        // command; the files before it stay open.
        std::error_code ec;
        const bool readable = std::filesystem::is_regular_file(path, ec) &&
                              std::ifstream(path, std::ios::binary).is_open();
        if (!readable) {
            m_console("Error reading file at " + path + "\n");
            break;
        }
        PlotFormantController* window = newWindow();
        window->show();
        window->raise();
        window->ReadDocument(path);
        window->setWindowTitle(
            QString::fromLatin1(PlotFormantController::kTitlePrefix) +
            QString::fromStdString(std::filesystem::path(path).filename().string()));
        opened.push_back(window);
    }
    return opened;
}

std::vector<PlotFormantController*> PlotFormantWindows::windows() const
{
    std::vector<PlotFormantController*> open;
    for (const QPointer<PlotFormantController>& window : m_windows) {
        if (window) {
            open.push_back(window.data());
        }
    }
    return open;
}

bool PlotFormantWindows::closeAll()
{
    for (PlotFormantController* window : windows()) {
        if (!window->close()) {
            return false;
        }
    }
    return true;
}

} // namespace phonaxis
