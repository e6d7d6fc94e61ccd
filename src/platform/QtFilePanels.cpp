#include "platform/QtFilePanels.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace platform {

namespace {

// Accepts whatever existing file or folder is selected, where a plain
// directory dialog would only take folders.
class FileOrFolderDialog final : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

protected:
    void accept() override
    {
        const QStringList chosen = selectedFiles();
        if (!chosen.isEmpty() && QFileInfo::exists(chosen.first()))
            done(QDialog::Accepted);
    }
};

FilePanels*& installedPanels()
{
    static FilePanels* installed = nullptr;
    return installed;
}

} // namespace

FilePanels& FilePanels::shared()
{
    static QtFilePanels qtPanels;
    FilePanels* installed = installedPanels();
    return installed ? *installed : qtPanels;
}

void FilePanels::setShared(FilePanels* panels)
{
    installedPanels() = panels;
}

std::optional<QString> QtFilePanels::chooseSaveLocation(
    QWidget* window, const QString& proposedName, const QString& message, const QString& suffix)
{
    QFileDialog dialog(window, message);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilter(QStringLiteral("*.%1").arg(suffix));
    dialog.setDefaultSuffix(suffix);
    dialog.setLabelText(QFileDialog::LookIn, message);
    dialog.selectFile(proposedName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    QString path = dialog.selectedFiles().first();
    if (QFileInfo(path).suffix().compare(suffix, Qt::CaseInsensitive) != 0)
        path += u'.' + suffix;
    return path;
}

std::optional<QString> QtFilePanels::chooseFileOrFolder(
    QWidget* window, const QString& title, const QString& prompt, const QString& startFolder)
{
    FileOrFolderDialog dialog(window, title);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, false);
    dialog.setLabelText(QFileDialog::Accept, prompt);
    dialog.setDirectory(startFolder);
    if (window)
        dialog.setWindowModality(Qt::WindowModal);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QDir::cleanPath(dialog.selectedFiles().first());
}

} // namespace platform
