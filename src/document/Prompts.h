#pragma once

#include <optional>
#include <string>
#include <vector>

namespace phonaxis {

// What a save panel is asked to show.
struct SavePanelRequest {
    std::string prompt = "save";
    std::string requiredType;  // file extension without the dot, e.g. "wav"
    std::string proposedName;  // may be empty
    std::string directory;     // folder the panel starts in
    // Several types to choose from (extensions without the dot, lower case),
    // when `requiredType` is empty: the path returned ends in one of them,
    // the one typed when it is one of them, else the chosen one's.
    std::vector<std::string> offeredTypes = {};
    // The name `requiredType` goes by in the panel's filter ("TextGrid
    // files"); empty: "<TYPE> file". With `allFiles` the panel also offers
    // every file, and a name saved under that filter is kept as typed.
    std::string typeName = {};
    bool allFiles = false;
};

// What an open panel is asked to show.
struct OpenPanelRequest {
    std::vector<std::string> types; // accepted extensions without the dot; empty for any
    bool multiple = false;          // more than one file may be chosen
    bool folders = false;           // folders may be chosen too
    std::string directory;          // folder the panel starts in
    // The name the types go by in the panel's filter ("TextGrid files");
    // empty: the patterns alone. With `allFiles` every file is offered too.
    std::string typeName = {};
    bool allFiles = false;
};

// The alerts, choosers and panels the document needs from its user. The Qt
// application answers them with dialogs, phonaxis-cli from its options, and
// tests with scripted replies. Called on the main thread only.
class Prompts {
public:
    virtual ~Prompts() = default;

    // An alert with a title, a message and up to three buttons. Returns 1 for
    // the default button, 0 for the alternate and -1 for the other.
    virtual int alert(const std::string& title, const std::string& message,
                      const std::string& defaultButton, const std::string& alternateButton = {},
                      const std::string& otherButton = {}) = 0;

    // The channel chooser sheet: a note and a pop-up of channel titles with
    // the entry at `preselected` selected (the first when it is out of
    // range). Returns the chosen index (0-based) or -1 on Cancel.
    virtual int chooseChannel(const std::string& note, const std::vector<std::string>& titles,
                              int preselected = 0) = 0;

    // The selector panel of the AIFF reader: a note and a pop-up of items.
    // Returns the 1-based number of the chosen item or -1 on Cancel.
    virtual int selectItem(const std::string& note, const std::vector<std::string>& items) = 0;

    // A save panel. Returns the chosen path, or nothing on Cancel.
    virtual std::optional<std::string> savePanel(const SavePanelRequest& request) = 0;

    // An open panel. Returns the chosen paths; empty on Cancel.
    virtual std::vector<std::string> openPanel(const OpenPanelRequest& request) = 0;
};

} // namespace phonaxis
