#pragma once

#include "display/MainViewModel.h"
#include "model/Labels.h"

#include <QColor>
#include <QDialog>
#include <QFont>
#include <QPointer>

#include <functional>

class QLineEdit;
class QPushButton;

namespace phonaxis {

// Label fonts and colours from Qt values, and label colours as Qt values
// (label fonts become Qt fonts through toQFont of the graph primitives).
LabelFont fromQFont(const QFont& font);
QColor labelQColor(const LabelColor& color);
LabelColor fromQColor(const QColor& color);

// Measures label text with Qt's font metrics.
class QtTextMeasurer : public TextMeasurer {
public:
    RectD measure(const std::string& text, const LabelFont& font) const override;
};

// The label dialog shared by every main view: a text field, a Font… button
// (font panel) and a Colour… button, and for a label the user clicked a
// Delete button. Opened for a label the user clicked (its text, font and
// colour loaded) or for a new label at a point. OK adds the new label (none
// when its text is empty), changes the clicked one, or, with an empty text,
// deletes the clicked one; Delete deletes the clicked one. OK, Delete,
// Cancel, Esc and the close button all forget the label and view and hide
// the dialog. The dialog is application-modal while open,
// so the request it was opened for cannot change underneath it; the view it
// works on is held only while the dialog is open.
class LabelDialog : public QDialog {
    Q_OBJECT
public:
    explicit LabelDialog(QWidget* parent = nullptr);

    // Opens the dialog for `request` on `model`. `owner` is the window whose
    // model it is: when it goes away the dialog lets go of the model.
    // `finished` is called when the dialog closes (OK, Cancel, Esc, the close
    // button or abandon) with whether a label changed. False, with nothing
    // changed, while the dialog is still open for an earlier request.
    bool openFor(MainViewModel& model, const LabelDialogRequest& request, QObject* owner,
                 std::function<void(bool changed)> finished);

    // True while the dialog works on a request.
    bool isOpenFor(const QObject* owner) const { return m_model != nullptr && m_owner == owner; }
    // Closes the dialog as Cancel would when it is open for `owner` (whose
    // model is about to be replaced or destroyed).
    void abandon(const QObject* owner);

    QLineEdit* textField() const { return m_text; }
    const QFont& fieldFont() const { return m_font; }
    const QColor& fieldColor() const { return m_color; }
    void setFieldFont(const QFont& font);
    void setFieldColor(const QColor& color);

    // The buttons' own actions (the font and colour panels are modal).
    void chooseFont();
    void chooseColor();
    // Deletes the clicked label and closes the dialog.
    void deleteLabel();
    QPushButton* deleteButton() const { return m_deleteButton; }

    // The transfer record OK builds for a new label: the field's text, font
    // and colour, justification 0, time and factor 0, no line, and the text
    // size (trunc height, trunc width) as the rect's bottom and right.
    LabelTransfer newLabelRecord(const TextMeasurer& measurer) const;

private:
    void confirm();
    void cancel();
    void finish(bool changed);
    // Points the view's click state at the request's channel and label
    // (programmatic cursor moves may have changed it since the dialog
    // opened); false when the dialog has no live request.
    bool targetRequest();

    QLineEdit* m_text;          // owned by the dialog
    QPushButton* m_fontButton;  // owned by the dialog
    QPushButton* m_colorButton; // owned by the dialog
    QPushButton* m_deleteButton; // owned by the dialog; shown for a clicked label
    QFont m_font;
    QColor m_color;
    MainViewModel* m_model = nullptr; // valid while m_owner lives and the dialog is open
    QPointer<QObject> m_owner;
    LabelDialogRequest m_request;
    std::function<void(bool)> m_finished;
};

} // namespace phonaxis
