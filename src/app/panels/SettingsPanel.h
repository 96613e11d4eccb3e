#pragma once

#include "document/Configuration.h"

#include <QDialog>

#include <functional>

class QTableWidget;
class QVBoxLayout;

namespace phonaxis {

class MyDocument;
class Prompts;
struct AppSettings;
class SettingsPanel;

// Drives a panel instead of a user (tests): called once the panel is filled
// and shown; it changes controls and presses OK or Cancel. A panel the
// driver leaves open ends as Cancel.
using PanelDriver = std::function<void(SettingsPanel&)>;

// A settings panel of a document, created for one use: the constructor
// builds the controls, run() fills them from the document (setup), shows
// the panel modal to its parent window and, when OK ends it, writes the
// controls into the document (save) and into the application
// configuration (patchConfiguration). Main thread only.
class SettingsPanel : public QDialog {
    Q_OBJECT
public:
    // The codes the panel ends with.
    static constexpr int kOK = 1000;
    static constexpr int kCancel = 1001;

    // `name` is the panel's object name ("optionZoom"). The document, the
    // settings and the prompts must outlive the panel.
    SettingsPanel(MyDocument& document, const AppSettings& settings, Prompts& prompts,
                  const QString& name, const QString& title, QWidget* parent);

    // Runs the panel once; returns kOK or kCancel. Without a driver the
    // panel is window-modal and blocks in its own event loop.
    int run(const PanelDriver& driver = {});

    // Presses a button as the user would.
    void pressOK();
    void pressCancel();
    // Escape and closing the window end the panel as Cancel does.
    void reject() override { pressCancel(); }

    // How the configuration update of the last OK ended; NoFile before any.
    PatchResult lastPatch() const { return m_lastPatch; }

protected:
    // Copies the document's settings into the controls.
    virtual void setup() = 0;
    // Whether the controls may be saved; a refusal tells the user why and
    // keeps the panel open.
    virtual bool canSave() { return true; }
    // Copies the controls into the document.
    virtual void save() = 0;
    // Replaces the panel's own fields in the application configuration
    // with the (already saved) document's values. A panel whose settings
    // have no place in the configuration leaves the file alone.
    virtual bool patchesConfiguration() const { return true; }
    virtual void patchConfiguration(Configuration& record) const = 0;
    // Whether the panel shows settings kept beside the configuration record
    // (the precise analysis mode), which its OK writes there too.
    virtual bool patchesSupplement() const { return false; }

    // Where subclasses put their controls, above the OK and Cancel buttons.
    QVBoxLayout* body() const { return m_body; }

    MyDocument& m_document;
    const AppSettings& m_settings;
    Prompts& m_prompts;

private:
    QVBoxLayout* m_body = nullptr; // owned by the dialog's layout
    PatchResult m_lastPatch = PatchResult::NoFile;
};

// Per-channel tables share one look: the first columns (row number, title)
// are read-only, every header is centred, and a click anywhere in a check
// cell toggles it. Makes `table` so, with
// `rowCount` rows whose first cell shows the row number from 0 ("%d").
void prepareChannelTable(QTableWidget& table, int rowCount, const QStringList& headers,
                         const QList<int>& widths);
// A read-only text cell.
void setReadOnlyCell(QTableWidget& table, int row, int column, const QString& text);
// A check-box cell.
void setCheckCell(QTableWidget& table, int row, int column, bool checked);
bool isCellChecked(const QTableWidget& table, int row, int column);
// The text of a cell ("" when empty).
QString cellText(const QTableWidget& table, int row, int column);

} // namespace phonaxis
