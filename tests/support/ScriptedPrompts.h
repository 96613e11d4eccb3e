#pragma once

#include "document/Prompts.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace phonaxis::test {

// Answers the document's prompts from queues of scripted replies and
// records every prompt shown. An empty queue answers with the default
// (alert 1, first channel / item, Cancel for save and open panels).
class ScriptedPrompts : public Prompts {
public:
    struct Alert {
        std::string title, message, defaultButton, alternateButton, otherButton;
    };
    struct Choice {
        std::string note;
        std::vector<std::string> items;
        int preselected = 0;
    };

    std::deque<int> alertReplies;
    std::deque<int> channelReplies;
    std::deque<int> itemReplies;
    std::deque<std::optional<std::string>> savePanelReplies;
    std::deque<std::vector<std::string>> openPanelReplies;

    std::vector<Alert> alerts;
    // Runs while an alert is up, as events a real alert's loop would let
    // through (a window elsewhere clicked, a device gone).
    std::function<void(const Alert&)> whileAlerting;
    std::vector<Choice> channelChoices;
    std::vector<Choice> itemChoices;
    std::vector<SavePanelRequest> savePanels;
    std::vector<OpenPanelRequest> openPanels;

    int alert(const std::string& title, const std::string& message,
              const std::string& defaultButton, const std::string& alternateButton,
              const std::string& otherButton) override
    {
        alerts.push_back({title, message, defaultButton, alternateButton, otherButton});
        if (whileAlerting) {
            whileAlerting(alerts.back());
        }
        return pop(alertReplies, 1);
    }

    int chooseChannel(const std::string& note, const std::vector<std::string>& titles,
                      int preselected = 0) override
    {
        channelChoices.push_back({note, titles, preselected});
        return pop(channelReplies, 0);
    }

    int selectItem(const std::string& note, const std::vector<std::string>& items) override
    {
        itemChoices.push_back({note, items});
        return pop(itemReplies, 1);
    }

    std::optional<std::string> savePanel(const SavePanelRequest& request) override
    {
        savePanels.push_back(request);
        if (savePanelReplies.empty()) {
            return std::nullopt;
        }
        auto reply = savePanelReplies.front();
        savePanelReplies.pop_front();
        return reply;
    }

    std::vector<std::string> openPanel(const OpenPanelRequest& request) override
    {
        openPanels.push_back(request);
        return pop(openPanelReplies, std::vector<std::string>{});
    }

private:
    template <typename T>
    static T pop(std::deque<T>& queue, T fallback)
    {
        if (queue.empty()) {
            return fallback;
        }
        T value = queue.front();
        queue.pop_front();
        return value;
    }
};

} // namespace phonaxis::test
