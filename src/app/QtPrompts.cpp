#include "app/QtPrompts.h"

#include "app/ChannelSelector.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>
#include <iterator>

namespace phonaxis {

namespace {

// The save types the document writes, as file dialog filters, with the
// extension each one gives a name and the other extensions it accepts.
struct DocumentType {
    const char* filter;
    const char* name;
    const char* extension;
    const char* alsoAccepted; // nullptr when none
};
constexpr DocumentType kDocumentTypes[] = {
    {"Phonaxis recording (*.pmf)", "Phonaxis recording", "pmf", nullptr},
    {"WAV file (*.wav)", "WAV file", "wav", nullptr},
    {"AIFF file (*.aiff *.aif)", "AIFF file", "aiff", "aif"},
};

// The filter that shows every file, offered beside a type's own.
const QString kAllFilesFilter = QStringLiteral("All files (*)");

bool isExtensionOf(const DocumentType& type, const QString& suffix)
{
    return suffix == QLatin1String(type.extension) ||
           (type.alsoAccepted != nullptr && suffix == QLatin1String(type.alsoAccepted));
}

// The document type whose extensions include `suffix` (lower case), or -1.
int documentTypeFor(const QString& suffix)
{
    for (int i = 0; i < int(std::size(kDocumentTypes)); ++i) {
        if (isExtensionOf(kDocumentTypes[i], suffix)) {
            return i;
        }
    }
    return -1;
}

// `path` with its last extension replaced by `extension`.
QString withExtension(const QString& path, const QString& suffix, const char* extension)
{
    return path.left(path.size() - suffix.size()) + QLatin1String(extension);
}

QString filterFor(const std::string& extension)
{
    const QString ext = QString::fromStdString(extension);
    return QStringLiteral("%1 file (*.%2)").arg(ext.toUpper(), ext);
}

// The filter of one offered type; TIFF takes both of its extensions.
QString offeredFilter(const std::string& extension)
{
    if (extension == "tif") {
        return QStringLiteral("TIFF file (*.tif *.tiff)");
    }
    return filterFor(extension);
}

// The index of the offered type `suffix` (lower case) names, or -1.
int offeredTypeFor(const std::vector<std::string>& types, const QString& suffix)
{
    for (int i = 0; i < int(types.size()); ++i) {
        const QString type = QString::fromStdString(types[std::size_t(i)]);
        if (suffix == type || (type == QLatin1String("tif") && suffix == QLatin1String("tiff"))) {
            return i;
        }
    }
    return -1;
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
    // Without a window to be modal to, a window-modal box would block
    // nothing: it could fall behind the next window opened and stand there
    // unanswered, to show up again when that window closes.
    box.setWindowModality(m_window ? Qt::WindowModal : Qt::ApplicationModal);
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
    const std::vector<std::string>& offered = request.offeredTypes;
    const bool severalTypes = request.requiredType.empty() && !offered.empty();
    if (severalTypes) {
        for (const std::string& type : offered) {
            filters << offeredFilter(type);
        }
    } else if (request.requiredType.empty()) {
        for (const DocumentType& type : kDocumentTypes) {
            filters << QString::fromLatin1(type.filter);
        }
    } else {
        filters << (request.typeName.empty()
                        ? filterFor(request.requiredType)
                        : QStringLiteral("%1 (*.%2)")
                              .arg(QString::fromStdString(request.typeName),
                                   QString::fromStdString(request.requiredType)));
        panel.setDefaultSuffix(QString::fromStdString(request.requiredType));
    }
    if (request.allFiles) {
        filters << kAllFilesFilter;
    }
    panel.setNameFilters(filters);
    const QString proposed = QString::fromStdString(request.proposedName);
    if (severalTypes) {
        const int proposedType = offeredTypeFor(offered, QFileInfo(proposed).suffix().toLower());
        if (proposedType >= 0) {
            panel.selectNameFilter(filters.at(proposedType));
        }
    } else if (request.requiredType.empty()) {
        // The proposed name's type is the one offered first: saving a WAV
        // recording again proposes WAV.
        const int proposedType = documentTypeFor(QFileInfo(proposed).suffix().toLower());
        if (proposedType >= 0) {
            panel.selectNameFilter(filters.at(proposedType));
        }
    }
    if (!proposed.isEmpty()) {
        panel.selectFile(proposed);
    }
    if (m_runner(panel) != QDialog::Accepted || panel.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    const QString path = panel.selectedFiles().front();
    if (path.isEmpty()) {
        return std::nullopt;
    }
    std::optional<std::string> chosenPath;
    if (request.allFiles && panel.selectedNameFilter() == kAllFilesFilter) {
        return path.toStdString();
    }
    if (severalTypes) {
        // A name typed with one of the offered extensions is of that type;
        // any other name gets the chosen type's extension.
        const QString suffix = QFileInfo(path).suffix().toLower();
        const int chosen = static_cast<int>(filters.indexOf(panel.selectedNameFilter()));
        chosenPath = offeredTypeFor(offered, suffix) >= 0
                         ? path.toStdString()
                         : (path + QLatin1Char('.') +
                            QString::fromStdString(offered[std::size_t(std::max(chosen, 0))]))
                               .toStdString();
    } else if (!request.requiredType.empty()) {
        // A panel of one type writes only files of that type: a name typed
        // with another extension gets the type's own.
        const QString extension = QString::fromStdString(request.requiredType);
        const QString required = extension.toLower();
        const QString suffix = QFileInfo(path).suffix().toLower();
        const bool fits = suffix == required ||
                          (required == QLatin1String("tif") && suffix == QLatin1String("tiff"));
        chosenPath = (fits ? path : path + QLatin1Char('.') + extension).toStdString();
    } else {
        const int chosen = static_cast<int>(filters.indexOf(panel.selectedNameFilter()));
        chosenPath = documentPath(path, chosen < 0 ? 0 : chosen);
    }
    // The panel asked before replacing the name it returned; a name changed
    // since is asked about here.
    if (chosenPath && QString::fromStdString(*chosenPath) != path &&
        QFileInfo::exists(QString::fromStdString(*chosenPath))) {
        const std::string name =
            QFileInfo(QString::fromStdString(*chosenPath)).fileName().toStdString();
        if (alert("“" + name + "” already exists. Do you want to replace it?",
                  "A file of that name already exists in this folder. Replacing it overwrites "
                  "its contents.",
                  "Cancel", "Replace", "") != 0) {
            return std::nullopt;
        }
    }
    return chosenPath;
}

std::optional<std::string> QtPrompts::documentPath(const QString& path, int chosenType)
{
    // The type chosen in the panel decides the format: the name carries its
    // extension.
    const DocumentType& type = kDocumentTypes[chosenType];
    const QString suffix = QFileInfo(path).suffix();
    const QString lowerSuffix = suffix.toLower();
    if (isExtensionOf(type, lowerSuffix)) {
        return path.toStdString();
    }
    const int typed = documentTypeFor(lowerSuffix);
    if (typed < 0) {
        // No extension, or one that names no document type ("take.1").
        return (path + QLatin1Char('.') + QLatin1String(type.extension)).toStdString();
    }
    // The name ends in the extension of another type than the one chosen:
    // which one was meant is the user's to say.
    const QString name = QFileInfo(path).fileName();
    const std::string chosenButton = std::string("Use .") + type.extension;
    const std::string typedButton = "Use ." + lowerSuffix.toStdString();
    const std::string title = "The name “" + name.toStdString() + "” ends in ." +
                              lowerSuffix.toStdString() + ", but the type chosen is " + type.name +
                              " (." + type.extension + ").";
    const int answer = alert(title, "Choose the type to save the recording as.", chosenButton,
                             "Cancel", typedButton);
    if (answer == 1) {
        return withExtension(path, suffix, type.extension).toStdString();
    }
    if (answer == -1) {
        return path.toStdString();
    }
    return std::nullopt;
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
    QStringList filters;
    if (!patterns.isEmpty()) {
        const QString joined = patterns.join(QLatin1Char(' '));
        filters << (request.typeName.empty()
                        ? joined
                        : QStringLiteral("%1 (%2)").arg(QString::fromStdString(request.typeName),
                                                        joined));
    }
    if (request.allFiles && !filters.isEmpty()) {
        filters << kAllFilesFilter;
    }
    if (!filters.isEmpty()) {
        panel.setNameFilters(filters);
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
