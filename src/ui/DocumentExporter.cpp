#include "ui/DocumentExporter.h"

#include "core/LGNLocalizedString.h"
#include "core/Notifications.h"
#include "device/MessageBoxAlertPresenter.h"
#include "platform/AppPaths.h"
#include "platform/FilePanels.h"
#include "platform/NotificationCenter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QTemporaryDir>

const QString DocumentExporter::kArchiveName = QStringLiteral("DocumentFolder.zip");
const QString DocumentExporter::kPassword = QStringLiteral("803");
const QString DocumentExporter::kSavePanelMessage = QStringLiteral("选择保存位置");
const QString DocumentExporter::kFailureTitleKey = QStringLiteral("导出失败");
const QString DocumentExporter::kDefaultArchiver = QStringLiteral("/usr/bin/zip");

namespace document_export {

const QString kConfirmKey = QStringLiteral("确认");
constexpr qint64 kCopyChunk = 1 << 20;

DeviceAlertPresenter& messageBoxes()
{
    static MessageBoxAlertPresenter presenter;
    return presenter;
}

// Copies the finished archive over the destination in one step: the bytes go
// to a temporary file beside it, which then replaces it by a rename.
QString putInPlace(const QString& archive, const QString& destination)
{
    QFile source(archive);
    if (!source.open(QIODevice::ReadOnly))
        return source.errorString();
    QSaveFile target(destination);
    if (!target.open(QIODevice::WriteOnly))
        return target.errorString();
    while (!source.atEnd()) {
        const QByteArray chunk = source.read(kCopyChunk);
        if (chunk.isEmpty() && source.error() != QFileDevice::NoError)
            return source.errorString();
        if (target.write(chunk) != chunk.size())
            return target.errorString();
    }
    if (!target.commit())
        return target.errorString();
    return {};
}

} // namespace document_export

DocumentExporter::DocumentExporter(QWidget* window)
    : DocumentExporter(platform::FilePanels::shared(), platform::NotificationCenter::defaultCenter(),
        document_export::messageBoxes(), platform::AppPaths::documents(), window)
{
}

DocumentExporter::DocumentExporter(platform::FilePanels& panels, platform::NotificationCenter& notifications,
    DeviceAlertPresenter& alerts, QString documentsFolder, QWidget* window)
    : panels_(panels)
    , notifications_(notifications)
    , alerts_(alerts)
    , documentsFolder_(std::move(documentsFolder))
    , window_(window)
{
}

void DocumentExporter::exportDocumentFolder()
{
    notifications_.post(notifications::kRefreshLog);
    const std::optional<QString> destination
        = panels_.chooseSaveLocation(window_, kArchiveName, kSavePanelMessage, QStringLiteral("zip"));
    if (!destination)
        return;
    const Result result = zipDocumentDirectory(documentsFolder_, *destination, kPassword);
    if (result.ok)
        return;
    qWarning("DocumentExporter: %s", qPrintable(result.error));
    alerts_.presentAlert(LGNLocalizedString::lgnAppLocalizedString(kFailureTitleKey), result.error,
        { LGNLocalizedString::lgnAppLocalizedString(document_export::kConfirmKey) }, [](int) {});
}

DocumentExporter::Result DocumentExporter::zipDocumentDirectory(
    const QString& documentsFolder, const QString& destination, const QString& password)
{
    const QFileInfo folder(documentsFolder);
    if (!folder.isDir())
        return { false, QStringLiteral("There is no folder %1 to export").arg(documentsFolder) };
    // A folder only this user can read, with a name nobody can predict.
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return { false, QStringLiteral("No temporary folder for the archive: %1").arg(scratch.errorString()) };
    const QString archive = scratch.filePath(kArchiveName);

    QProcess zip;
    zip.setProcessChannelMode(QProcess::MergedChannels);
    zip.setWorkingDirectory(folder.absolutePath());
    zip.start(archiver_,
        { QStringLiteral("-r"), QStringLiteral("-q"), QStringLiteral("-e"), QStringLiteral("-P"), password, archive,
            folder.fileName() });
    if (!zip.waitForStarted())
        return { false, QStringLiteral("The archiver %1 could not be started: %2").arg(archiver_, zip.errorString()) };
    if (!zip.waitForFinished(kArchiverTimeoutMs)) {
        zip.kill();
        zip.waitForFinished();
        return { false, QStringLiteral("The archiver %1 did not finish").arg(archiver_) };
    }
    const QString output = QString::fromUtf8(zip.readAll()).trimmed();
    if (zip.exitStatus() != QProcess::NormalExit || zip.exitCode() != 0)
        return { false,
            QStringLiteral("The archiver %1 failed (exit status %2)%3")
                .arg(archiver_)
                .arg(zip.exitCode())
                .arg(output.isEmpty() ? QString() : QStringLiteral(": ") + output) };
    if (QFileInfo(archive).size() <= 0)
        return { false, QStringLiteral("The archiver %1 wrote no archive").arg(archiver_) };
    if (const QString error = document_export::putInPlace(archive, destination); !error.isEmpty())
        return { false, QStringLiteral("The archive could not be saved as %1: %2").arg(destination, error) };
    return { true, QString() };
}
