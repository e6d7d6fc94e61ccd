#pragma once

#include <QString>

class DeviceAlertPresenter;
class QWidget;

namespace platform {
class FilePanels;
class NotificationCenter;
} // namespace platform

// The settings page's "logExport": the application's documents folder
// (logs, recordings, the command database) saved as a password-protected
// zip archive where the user chooses.
//
// The log is flushed first ("RefreshLogNoti"). The archive is written by
// Debian's zip into a private temporary folder, with entry paths that begin
// with the documents folder's own name, and only a complete archive takes
// the destination's place (an archive already there is replaced in one
// step). An archiver that is missing or fails, or an archive that cannot be
// put in place, is reported to the user; the destination is then left as it
// was.
class DocumentExporter {
public:
    static const QString kArchiveName; // "DocumentFolder.zip"
    static const QString kPassword; // "803"
    static const QString kSavePanelMessage; // "选择保存位置", shown as it is in every language
    static const QString kFailureTitleKey; // "导出失败"
    static const QString kDefaultArchiver; // "/usr/bin/zip"
    // The longest an archive may take before the archiver is stopped.
    static constexpr int kArchiverTimeoutMs = 10 * 60 * 1000;

    struct Result {
        bool ok = false;
        QString error; // what went wrong, for the user; empty on success
    };

    // Uses the shared panels, notification centre and documents folder, and
    // the message boxes over the given window.
    explicit DocumentExporter(QWidget* window);
    DocumentExporter(platform::FilePanels& panels, platform::NotificationCenter& notifications,
        DeviceAlertPresenter& alerts, QString documentsFolder, QWidget* window = nullptr);

    void setArchiver(const QString& program) { archiver_ = program; }

    // Flushes the log, asks where to save and, unless cancelled, writes the
    // archive there; a failure is shown to the user.
    void exportDocumentFolder();
    // Writes the archive of the folder to the destination with the password.
    Result zipDocumentDirectory(const QString& documentsFolder, const QString& destination, const QString& password);

private:
    platform::FilePanels& panels_;
    platform::NotificationCenter& notifications_;
    DeviceAlertPresenter& alerts_;
    QString documentsFolder_;
    QWidget* window_ = nullptr;
    QString archiver_ = kDefaultArchiver;
};
