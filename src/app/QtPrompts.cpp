#include "app/QtPrompts.h"

#include "app/ChannelSelector.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

namespace phonaxis {

namespace {

// The save types the document writes, as file dialog filters, with the
// extension each one adds to a name without one.
struct DocumentType {
    const char* filter;
    const char* extension;
};
constexpr DocumentType kDocumentTypes[] = {
    {"Phonaxis recording (*.pmf)", "pmf"},
    {"WAV file (*.wav)", "wav"},
    {"AIFF file (*.aiff *.aif)", "aiff"},
};

QString filterFor(const std::string& extension)
{
    const QString ext = QString::fromStdString(extension);
    return QStringLiteral("%1 file (*.%2)").arg(ext.toUpper(), ext);
}

} // namespace

QtPrompts::QtPrompts(QWidget* window, DialogRunner runner) : m_window(window)
{
    setRunner(std::move(runner));
}

void QtPrompts::setRunner(DialogRunner runner)
{
    m_runner = runner ? std::move(runner) : DialogRunner(&QtPrompts::execDialog);
}

int QtPrompts::execDialog(QDialog& dialog)
{
    return dialog.exec();
}

int QtPrompts::alert(const std::string& title, const std::string& message,
                     const std::string& defaultButton, const std::string& alternateButton,
                     const std::string& otherButton)
{
    QMessageBox box(m_window);
    box.setWindowModality(Qt::WindowModal);
    box.setIcon(QMessageBox::Warning);
    box.setText(QString::fromStdString(title));
    box.setInformativeText(QString::fromStdString(message));
    QPushButton* defaultPush =
        box.addButton(QString::fromStdString(defaultButton), QMessageBox::AcceptRole);
    QPushButton* alternatePush = nullptr;
    QPushButton* otherPush = nullptr;
    if (!alternateButton.empty()) {
        alternatePush = box.addButton(QString::fromStdString(alternateButton), QMessageBox::RejectRole);
    }
    if (!otherButton.empty()) {
        otherPush = box.addButton(QString::fromStdString(otherButton), QMessageBox::DestructiveRole);
    }
    box.setDefaultButton(defaultPush);
    // Escape (or closing the box) must never pick an answer that changes
    // data: it takes the button titled "Cancel" when there is one, else the
    // third button of a three-button alert (its cancelling answer), else
    // the alternate, else the only button.
    QPushButton* escapePush = otherPush != nullptr ? otherPush
                              : alternatePush != nullptr ? alternatePush
                                                         : defaultPush;
    for (QPushButton* push : {defaultPush, alternatePush, otherPush}) {
        if (push != nullptr && push->text() == QLatin1String("Cancel")) {
            escapePush = push;
        }
    }
    box.setEscapeButton(escapePush);
    m_runner(box);

    const auto* clicked = box.clickedButton();
    if (clicked == nullptr) {
        clicked = escapePush; // closed without a button
    }
    if (clicked == otherPush) {
        return -1;
    }
    if (clicked == alternatePush) {
        return 0;
    }
    return 1;
}

int QtPrompts::chooseChannel(const std::string& note, const std::vector<std::string>& titles,
                             int preselected)
{
    ChannelSelector selector(note, titles, m_window);
    if (preselected > 0 && preselected < static_cast<int>(titles.size())) {
        selector.choose(preselected);
    }
    selector.setWindowModality(Qt::WindowModal);
    const int result = m_runner(selector);
    const int number = ChannelSelector::resultNumber(result, selector.chosenIndex());
    return number < 0 ? -1 : number - 1;
}

int QtPrompts::selectItem(const std::string& note, const std::vector<std::string>& items)
{
    ChannelSelector selector(note, items, m_window);
    selector.setWindowModality(Qt::WindowModal);
    const int result = m_runner(selector);
    return ChannelSelector::resultNumber(result, selector.chosenIndex());
}

std::optional<std::string> QtPrompts::savePanel(const SavePanelRequest& request)
{
    QFileDialog panel(m_window);
    panel.setWindowModality(Qt::WindowModal);
    panel.setOption(QFileDialog::DontUseNativeDialog);
    panel.setAcceptMode(QFileDialog::AcceptSave);
    panel.setFileMode(QFileDialog::AnyFile);
    panel.setLabelText(QFileDialog::Accept, QString::fromStdString(request.prompt));
    panel.setDirectory(QString::fromStdString(request.directory));
    QStringList filters;
    if (request.requiredType.empty()) {
        for (const DocumentType& type : kDocumentTypes) {
            filters << QString::fromLatin1(type.filter);
        }
    } else {
        filters << filterFor(request.requiredType);
        panel.setDefaultSuffix(QString::fromStdString(request.requiredType));
    }
    panel.setNameFilters(filters);
    if (!request.proposedName.empty()) {
        panel.selectFile(QString::fromStdString(request.proposedName));
    }
    if (m_runner(panel) != QDialog::Accepted || panel.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    QString path = panel.selectedFiles().front();
    if (path.isEmpty()) {
        return std::nullopt;
    }
    if (request.requiredType.empty() && QFileInfo(path).suffix().isEmpty()) {
        const int chosen = static_cast<int>(filters.indexOf(panel.selectedNameFilter()));
        const int index = chosen < 0 ? 0 : chosen;
        path += QLatin1Char('.') + QLatin1String(kDocumentTypes[index].extension);
    }
    return path.toStdString();
}

std::vector<std::string> QtPrompts::openPanel(const OpenPanelRequest& request)
{
    QFileDialog panel(m_window);
    panel.setWindowModality(Qt::WindowModal);
    panel.setOption(QFileDialog::DontUseNativeDialog);
    panel.setAcceptMode(QFileDialog::AcceptOpen);
    // Files only, even where folders are accepted: the dialog's folder mode
    // cannot choose a file, and a folder chosen as a log cannot be read.
    panel.setFileMode(request.multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    if (!request.directory.empty()) {
        panel.setDirectory(QString::fromStdString(request.directory));
    }
    QStringList patterns;
    for (const std::string& type : request.types) {
        patterns << QStringLiteral("*.%1").arg(QString::fromStdString(type));
    }
    if (!patterns.isEmpty()) {
        panel.setNameFilter(patterns.join(QLatin1Char(' ')));
    }
    std::vector<std::string> paths;
    if (m_runner(panel) != QDialog::Accepted) {
        return paths;
    }
    for (const QString& path : panel.selectedFiles()) {
        if (!path.isEmpty()) {
            paths.push_back(path.toStdString());
        }
    }
    return paths;
}

} // namespace phonaxis
