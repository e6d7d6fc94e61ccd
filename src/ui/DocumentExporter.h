#pragma once

#include <QString>

#include <functional>

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
//
// A large folder takes the archiver a long time, so it runs while the
// window goes on (the exporter returns at once) and the outcome is shown
// when it ends. One export runs at a time in the process: another asked for
// meanwhile is refused with a message. Main thread.
class DocumentExporter {
public:
    static const QString kArchiveName; // "DocumentFolder.zip"
    static const QString kPassword; // "803"
    static const QString kSavePanelMessage; // "选择保存位置", shown as it is in every language
    static const QString kFailureTitleKey; // "导出失败"
    static const QString kSuccessTitleKey; // "导出完成"
    static const QString kBusyTitleKey; // "已有导出正在进行"
    static const QString kDefaultArchiver; // "/usr/bin/zip"
    // The longest an archive may take before the archiver is stopped.
    static constexpr int kArchiverTimeoutMs = 10 * 60 * 1000;

    struct Result {
        bool ok = false;
        QString error; // what went wrong, for the user; empty on success
    };
    using Completion = std::function<void(const Result& result)>;

    // Uses the shared panels, notification centre and documents folder, and
    // the message boxes over the given window.
    explicit DocumentExporter(QWidget* window);
    DocumentExporter(platform::FilePanels& panels, platform::NotificationCenter& notifications,
        DeviceAlertPresenter& alerts, QString documentsFolder, QWidget* window = nullptr);

    void setArchiver(const QString& program) { archiver_ = program; }

    // Flushes the log, asks where to save and, unless cancelled, starts
    // writing the archive there. The outcome is shown when the archiver
    // ends; while another export runs, only the refusal is shown.
    void exportDocumentFolder();
    // Starts writing the archive of the folder to the destination with the
    // password; the completion runs once, on the main thread, when it is
    // done (at once for a failure found before the archiver starts). False,
    // and no completion, while another export runs.
    bool zipDocumentDirectory(
        const QString& documentsFolder, const QString& destination, const QString& password, Completion completion);
    // Whether an export is running in this process.
    static bool isExporting();

private:
    // Outlives the exporter: the outcome arrives after it may be gone.
    static void showOutcome(DeviceAlertPresenter& alerts, const QString& destination, const Result& result);

    platform::FilePanels& panels_;
    platform::NotificationCenter& notifications_;
    DeviceAlertPresenter& alerts_;
    QString documentsFolder_;
    QWidget* window_ = nullptr;
    QString archiver_ = kDefaultArchiver;
};
