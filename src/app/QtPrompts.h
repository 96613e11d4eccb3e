#pragma once

#include "document/Prompts.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class QDialog;

namespace phonaxis {

// Runs a prepared dialog and returns its result code (QDialog::Accepted or
// Rejected). The application runs dialogs modally with exec(); tests hand a
// runner that fills in the dialog's controls and answers at once.
using DialogRunner = std::function<int(QDialog&)>;

// The document's alerts, choosers and panels as Qt dialogs, shown modal to
// one window (as sheets are): alerts as message boxes, the channel choosers
// as a note with a pop-up, the save and open panels as file dialogs that
// start in the folder asked for.
//
// A save panel asked for no particular type offers the document types
// ("pmf", "wav", "aiff"/"aif"), first the one the proposed name ends in. The
// type chosen decides the format: the path returned carries its extension
// (added to a name without one or with one of no document type; a name
// ending in another type's extension asks which type is meant). A panel
// offered several types (pictures) returns a name ending in one of them:
// as typed when its extension is one of them, else with the chosen type's
// extension added. Main thread only.
class QtPrompts : public Prompts {
public:
    explicit QtPrompts(QWidget* window = nullptr, DialogRunner runner = {});

    void setWindow(QWidget* window) { m_window = window; }
    void setRunner(DialogRunner runner);

    int alert(const std::string& title, const std::string& message,
              const std::string& defaultButton, const std::string& alternateButton,
              const std::string& otherButton) override;
    int chooseChannel(const std::string& note, const std::vector<std::string>& titles,
                      int preselected = 0) override;
    int selectItem(const std::string& note, const std::vector<std::string>& items) override;
    std::optional<std::string> savePanel(const SavePanelRequest& request) override;
    std::vector<std::string> openPanel(const OpenPanelRequest& request) override;

    // The exec() runner the application uses.
    static int execDialog(QDialog& dialog);

private:
    // The path a document save panel returns for the name typed and the
    // document type chosen (an index into the offered types); nothing when
    // the user cancels.
    std::optional<std::string> documentPath(const QString& path, int chosenType);

    QPointer<QWidget> m_window; // the window the dialogs are modal to; not owned
    DialogRunner m_runner;
};

} // namespace phonaxis
