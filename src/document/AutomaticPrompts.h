#pragma once

#include "document/Prompts.h"

#include <iosfwd>
#include <string>

namespace phonaxis {

// Answers the document's prompts without a user, for batch tools: alerts take
// their default button (and are written to `log`, when given, as
// "<prefix><title> <message>"), the channel chooser takes the first channel,
// the item chooser the 1-based item `item`, and save and open panels are
// cancelled.
// An item beyond the list is reported to `log` and answered with Cancel.
class AutomaticPrompts : public Prompts {
public:
    explicit AutomaticPrompts(std::ostream* log = nullptr, std::string prefix = {}, int item = 1)
        : m_log(log), m_prefix(std::move(prefix)), m_item(item)
    {
    }

    int alert(const std::string& title, const std::string& message,
              const std::string& defaultButton, const std::string& alternateButton,
              const std::string& otherButton) override;
    int chooseChannel(const std::string& note, const std::vector<std::string>& titles,
                      int preselected = 0) override;
    int selectItem(const std::string& note, const std::vector<std::string>& items) override;
    std::optional<std::string> savePanel(const SavePanelRequest& request) override;
    std::vector<std::string> openPanel(const OpenPanelRequest& request) override;

private:
    std::ostream* m_log; // not owned; may be null
    std::string m_prefix;
    int m_item;
};

} // namespace phonaxis
