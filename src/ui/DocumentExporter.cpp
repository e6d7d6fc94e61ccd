#include "ui/DocumentExporter.h"

#include "core/LGNLocalizedString.h"
#include "core/Notifications.h"
#include "device/MessageBoxAlertPresenter.h"
#include "platform/AppPaths.h"
#include "platform/FilePanels.h"
#include "platform/GlobalQueue.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

const QString DocumentExporter::kArchiveName = QStringLiteral("DocumentFolder.zip");
const QString DocumentExporter::kPassword = QStringLiteral("803");
const QString DocumentExporter::kSavePanelMessage = QStringLiteral("选择保存位置");
const QString DocumentExporter::kFailureTitleKey = QStringLiteral("导出失败");
const QString DocumentExporter::kSuccessTitleKey = QStringLiteral("导出完成");
const QString DocumentExporter::kBusyTitleKey = QStringLiteral("已有导出正在进行");
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

// The one export running in this process, from the start of its archiver
// to the outcome.
struct Run {
    QTemporaryDir scratch;
    QString archive, destination, archiver;
    QProcess* process = nullptr; // deleted later, by its own event loop
    QTimer* timeout = nullptr; // the process's child
    bool timedOut = false;
    bool finished = false;
    DocumentExporter::Completion completion;
};

std::shared_ptr<Run>& running()
{
    static std::shared_ptr<Run> run;
    return run;
}

// The outcome, once: the run ends and the next export may start.
void finish(const std::shared_ptr<Run>& run, const DocumentExporter::Result& result)
{
    if (run->finished)
        return;
    run->finished = true;
    if (running() == run)
        running().reset();
    if (run->process) {
        run->timeout->stop();
        run->process->disconnect();
        run->process->deleteLater();
        run->process = nullptr;
    }
    if (run->completion)
        run->completion(result);
}

void archiverEnded(const std::shared_ptr<Run>& run, int exitCode, QProcess::ExitStatus status)
{
    if (run->finished)
        return;
    run->timeout->stop();
    const QString output = QString::fromUtf8(run->process->readAll()).trimmed();
    if (run->timedOut) {
        finish(run, { false, QStringLiteral("The archiver %1 did not finish").arg(run->archiver) });
        return;
    }
    if (status != QProcess::NormalExit || exitCode != 0) {
        finish(run,
            { false,
                QStringLiteral("The archiver %1 failed (exit status %2)%3")
                    .arg(run->archiver)
                    .arg(exitCode)
                    .arg(output.isEmpty() ? QString() : QStringLiteral(": ") + output) });
        return;
    }
    if (QFileInfo(run->archive).size() <= 0) {
        finish(run, { false, QStringLiteral("The archiver %1 wrote no archive").arg(run->archiver) });
        return;
    }
    // Copying a large archive takes a while too: on a worker, the outcome
    // back on the main thread.
    platform::GlobalQueue::async([run] {
        const QString error = putInPlace(run->archive, run->destination);
        platform::MainQueue::shared().async([run, error] {
            if (error.isEmpty())
                finish(run, { true, QString() });
            else
                finish(run,
                    { false, QStringLiteral("The archive could not be saved as %1: %2").arg(run->destination, error) });
        });
    });
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
    if (isExporting()) {
        alerts_.presentAlert(LGNLocalizedString::lgnAppLocalizedString(kBusyTitleKey), QString(),
            { LGNLocalizedString::lgnAppLocalizedString(document_export::kConfirmKey) }, [](int) {});
        return;
    }
    notifications_.post(notifications::kRefreshLog);
    const std::optional<QString> destination
        = panels_.chooseSaveLocation(window_, kArchiveName,
        LGNLocalizedString::lgnAppLocalizedString(kSavePanelMessage), QStringLiteral("zip"));
    if (!destination)
        return;
    DeviceAlertPresenter& alerts = alerts_;
    const QString chosen = *destination;
    zipDocumentDirectory(documentsFolder_, chosen, kPassword,
        [&alerts, chosen](const Result& result) { showOutcome(alerts, chosen, result); });
}

void DocumentExporter::showOutcome(DeviceAlertPresenter& alerts, const QString& destination, const Result& result)
{
    if (result.ok) {
        alerts.presentAlert(LGNLocalizedString::lgnAppLocalizedString(kSuccessTitleKey),
            QDir::toNativeSeparators(destination),
            { LGNLocalizedString::lgnAppLocalizedString(document_export::kConfirmKey) }, [](int) {});
        return;
    }
    qWarning("DocumentExporter: %s", qPrintable(result.error));
    alerts.presentAlert(LGNLocalizedString::lgnAppLocalizedString(kFailureTitleKey), result.error,
        { LGNLocalizedString::lgnAppLocalizedString(document_export::kConfirmKey) }, [](int) {});
}

bool DocumentExporter::isExporting()
{
    return document_export::running() != nullptr;
}

bool DocumentExporter::zipDocumentDirectory(
    const QString& documentsFolder, const QString& destination, const QString& password, Completion completion)
{
    using document_export::Run;
    if (isExporting())
        return false;
    const QFileInfo folder(documentsFolder);
    if (!folder.isDir()) {
        completion({ false, QStringLiteral("There is no folder %1 to export").arg(documentsFolder) });
        return true;
    }
    auto run = std::make_shared<Run>();
    // A folder only this user can read, with a name nobody can predict.
    if (!run->scratch.isValid()) {
        completion(
            { false, QStringLiteral("No temporary folder for the archive: %1").arg(run->scratch.errorString()) });
        return true;
    }
    run->archive = run->scratch.filePath(kArchiveName);
    run->destination = destination;
    run->archiver = archiver_;
    run->completion = std::move(completion);
    document_export::running() = run;

    run->process = new QProcess;
    QProcess& zip = *run->process;
    zip.setProcessChannelMode(QProcess::MergedChannels);
    zip.setWorkingDirectory(folder.absolutePath());
    // The run stays alive while its process may still signal.
    QObject::connect(&zip, &QProcess::errorOccurred, &zip, [run](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            document_export::finish(run,
                { false,
                    QStringLiteral("The archiver %1 could not be started: %2")
                        .arg(run->archiver, run->process->errorString()) });
    });
    QObject::connect(&zip, &QProcess::finished, &zip,
        [run](int exitCode, QProcess::ExitStatus status) { document_export::archiverEnded(run, exitCode, status); });
    run->timeout = new QTimer(&zip);
    run->timeout->setSingleShot(true);
    QObject::connect(run->timeout, &QTimer::timeout, &zip, [run] {
        run->timedOut = true;
        if (run->process)
            run->process->kill();
    });
    run->timeout->start(kArchiverTimeoutMs);
    zip.start(archiver_,
        { QStringLiteral("-r"), QStringLiteral("-q"), QStringLiteral("-e"), QStringLiteral("-P"), password,
            run->archive, folder.fileName() });
    return true;
}
