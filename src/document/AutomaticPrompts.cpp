#include "document/AutomaticPrompts.h"

#include <ostream>

namespace phonaxis {

int AutomaticPrompts::alert(const std::string& title, const std::string& message,
                            const std::string&, const std::string&, const std::string&)
{
    if (m_log) {
        *m_log << m_prefix << title << " " << message << "\n";
    }
    return 1;
}

int AutomaticPrompts::chooseChannel(const std::string&, const std::vector<std::string>& titles,
                                    int preselected)
{
    if (titles.empty()) {
        return -1;
    }
    return preselected >= 0 && preselected < static_cast<int>(titles.size()) ? preselected : 0;
}

int AutomaticPrompts::selectItem(const std::string&, const std::vector<std::string>& items)
{
    if (m_item < 1 || m_item > static_cast<int>(items.size())) {
        if (m_log) {
            *m_log << m_prefix << "channel " << m_item << " is beyond the file's " << items.size()
                   << " channels\n";
        }
        return -1;
    }
    return m_item;
}

std::optional<std::string> AutomaticPrompts::savePanel(const SavePanelRequest&)
{
    return std::nullopt;
}

} // namespace phonaxis

namespace phonaxis {

std::vector<std::string> AutomaticPrompts::openPanel(const OpenPanelRequest&)
{
    return {};
}

} // namespace phonaxis
