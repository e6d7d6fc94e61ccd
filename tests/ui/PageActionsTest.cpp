#include "ui/DocumentExporter.h"
#include "ui/TargetChooser.h"
#include "ui/VersionCheckAction.h"

#include "core/BackendAddress.h"
#include "core/KWLangManager.h"
#include "core/LGNLocalizedString.h"
#include "core/NoticeTexts.h"
#include "core/MMUserInfo.h"
#include "core/Notifications.h"
#include "core/SHHttpManager.h"
#include "device/DeviceAlertPresenter.h"
#include "device/MessageBoxAlertPresenter.h"
#include "fakes/FakeBackend.h"
#include "fakes/FakeFilePanels.h"
#include "fakes/ScreenShot.h"
#include "platform/HttpClient.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"
#include "platform/UserNotices.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>
#include <optional>

namespace {

using fakes::FakeBackend;
using fakes::FakeHttpServer;

class RecordedAlerts final : public DeviceAlertPresenter {
public:
    struct Alert {
        QString message, informative;
        QStringList buttons;
    };
    void presentAlert(const QString& messageText, const QString& informativeText, const QStringList& buttons,
        std::function<void(int)> completion) override
    {
        alerts.append({ messageText, informativeText, buttons });
        if (completion)
            completion(0);
    }
    QList<Alert> alerts;
};

bool writeExportFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

struct ToolRun {
    int exitCode = -1;
    QString output;
};

ToolRun runTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(30000))
        return {};
    return { process.exitCode(), QString::fromUtf8(process.readAll()) };
}

class DocumentExporterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("unzip")).isEmpty()) << "unzip is needed";
        documents_ = root_.filePath(QStringLiteral("home/Documents"));
        ASSERT_TRUE(writeExportFile(documents_ + QStringLiteral("/Log/log_20261211_001500.log"), "a log line\n"));
        ASSERT_TRUE(writeExportFile(documents_ + QStringLiteral("/REC/PravikREC 20261211.wav"), QByteArray(3000, 'w')));
        ASSERT_TRUE(writeExportFile(documents_ + QStringLiteral("/MMmouseDataBase.sqlite"), "SQLite format 3"));
        refreshObserver_ = center_.addObserver(notifications::kRefreshLog, [this](const platform::Notification&) {
            // The log is flushed before the panel of this export opens.
            EXPECT_EQ(panels_.requests().size(), refreshes_);
            ++refreshes_;
        });
    }

    DocumentExporter exporter() { return DocumentExporter(panels_, center_, alerts_, documents_); }

    // Lets the event loop turn until no export runs (at most 30 seconds).
    static bool waitForExport()
    {
        QElapsedTimer waited;
        waited.start();
        while (DocumentExporter::isExporting() && waited.elapsed() < 30000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return !DocumentExporter::isExporting();
    }

    // The archive written straight to the destination, the way the page's
    // export does it, without its save panel and messages.
    DocumentExporter::Result zip(const QString& folder, const QString& destination, const QString& archiver = {})
    {
        DocumentExporter writer = exporter();
        if (!archiver.isEmpty())
            writer.setArchiver(archiver);
        std::optional<DocumentExporter::Result> outcome;
        EXPECT_TRUE(writer.zipDocumentDirectory(
            folder, destination, DocumentExporter::kPassword, [&](const auto& result) { outcome = result; }));
        EXPECT_TRUE(waitForExport());
        QCoreApplication::processEvents();
        EXPECT_TRUE(outcome.has_value());
        return outcome.value_or(DocumentExporter::Result {});
    }

    // An archiver that takes its time: it waits (at most ten seconds) for
    // the file release() to appear, then archives as zip does and leaves
    // the file ended() behind.
    QString release() const { return root_.filePath(QStringLiteral("release")); }
    QString ended() const { return root_.filePath(QStringLiteral("ended")); }
    QString slowArchiver() const
    {
        const QString path = root_.filePath(QStringLiteral("slow-zip"));
        const bool written = writeExportFile(path,
            QStringLiteral("#!/bin/sh\nfor i in $(seq 200); do [ -e '%1' ] && break; sleep 0.05; done\n"
                           "/usr/bin/zip \"$@\"; status=$?; : > '%2'; exit $status\n")
                .arg(release(), ended())
                .toUtf8());
        return written && QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)
            ? path
            : QString();
    }

    QTemporaryDir root_;
    QString documents_;
    fakes::FakeFilePanels panels_;
    platform::NotificationCenter center_;
    platform::ObserverToken refreshObserver_;
    RecordedAlerts alerts_;
    int refreshes_ = 0;
};

TEST_F(DocumentExporterTest, WritesAnEncryptedArchiveThatUnzipReadsBackWithThePassword)
{
    const QString destination = root_.filePath(QStringLiteral("out/DocumentFolder.zip"));
    QDir().mkpath(root_.filePath(QStringLiteral("out")));
    panels_.setChoice(destination);
    exporter().exportDocumentFolder();
    ASSERT_TRUE(waitForExport());
    EXPECT_EQ(refreshes_, 1);
    ASSERT_EQ(panels_.requests().size(), 1);
    EXPECT_EQ(panels_.requests()[0].kind, QStringLiteral("save"));
    EXPECT_EQ(panels_.requests()[0].texts,
        QStringList({ QStringLiteral("DocumentFolder.zip"),
            LGNLocalizedString::lgnAppLocalizedString(DocumentExporter::kSavePanelMessage), QStringLiteral("zip") }));
    ASSERT_EQ(alerts_.alerts.size(), 1);
    EXPECT_EQ(alerts_.alerts[0].message, LGNLocalizedString::lgnAppLocalizedString(DocumentExporter::kSuccessTitleKey));
    EXPECT_EQ(alerts_.alerts[0].informative, destination);
    ASSERT_TRUE(QFileInfo::exists(destination));

    const ToolRun listing = runTool(QStringLiteral("unzip"), { QStringLiteral("-Z1"), destination });
    ASSERT_EQ(listing.exitCode, 0) << listing.output.toStdString();
    QStringList entries = listing.output.split(u'\n', Qt::SkipEmptyParts);
    entries.sort();
    EXPECT_EQ(entries,
        QStringList({ "Documents/", "Documents/Log/", "Documents/Log/log_20261211_001500.log",
            "Documents/MMmouseDataBase.sqlite", "Documents/REC/", "Documents/REC/PravikREC 20261211.wav" }));

    // Encrypted: the wrong password gets nothing, the right one everything.
    const QString wrong = root_.filePath(QStringLiteral("wrong"));
    EXPECT_NE(runTool(QStringLiteral("unzip"), { "-P", "000", "-d", wrong, destination }).exitCode, 0);
    const QString extracted = root_.filePath(QStringLiteral("extracted"));
    const ToolRun unzip = runTool(QStringLiteral("unzip"), { "-P", "803", "-d", extracted, destination });
    ASSERT_EQ(unzip.exitCode, 0) << unzip.output.toStdString();
    QDirIterator files(documents_, QDir::Files, QDirIterator::Subdirectories);
    int compared = 0;
    while (files.hasNext()) {
        const QString original = files.next();
        QFile a(original);
        QFile b(extracted + QStringLiteral("/Documents/") + QDir(documents_).relativeFilePath(original));
        ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly)) << original.toStdString();
        EXPECT_EQ(a.readAll(), b.readAll());
        ++compared;
    }
    EXPECT_EQ(compared, 3);
}

// The save panel speaks the interface language (it said Chinese to everyone).
TEST_F(DocumentExporterTest, TheSavePanelIsInTheInterfaceLanguage)
{
    struct Case {
        quint64 language;
        const char* message;
    };
    const Case cases[] = { { 0, "选择保存位置" }, { 1, "Choose where to save" }, { 4, "저장 위치 선택" } };
    KWLangManager& languages = KWLangManager::sharedManager();
    const quint64 before = languages.indexOfUI();
    for (const Case& c : cases) {
        languages.setIndexOfUI(c.language);
        exporter().exportDocumentFolder(); // cancelled: nothing is written
    }
    languages.setIndexOfUI(before);
    ASSERT_EQ(panels_.requests().size(), 3);
    for (qsizetype i = 0; i < 3; ++i) {
        EXPECT_EQ(panels_.requests()[i].texts.value(1), QString::fromUtf8(cases[i].message));
    }
}

TEST_F(DocumentExporterTest, AnArchiveAlreadyAtTheDestinationIsReplaced)
{
    const QString destination = root_.filePath(QStringLiteral("DocumentFolder.zip"));
    ASSERT_TRUE(writeExportFile(destination, "an old archive"));
    const DocumentExporter::Result result = zip(documents_, destination);
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    QFile file(destination);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.read(4).startsWith("PK\x03\x04"));
    EXPECT_EQ(runTool(QStringLiteral("unzip"), { QStringLiteral("-tq"), "-P", "803", destination }).exitCode, 0);
}

TEST_F(DocumentExporterTest, AFailingOrMissingArchiverIsReportedAndTheDestinationKept)
{
    const QString destination = root_.filePath(QStringLiteral("DocumentFolder.zip"));
    ASSERT_TRUE(writeExportFile(destination, "keep me"));
    panels_.setChoice(destination);
    for (const char* archiver : { "/bin/false", "/nonexistent/zip" }) {
        SCOPED_TRACE(archiver);
        alerts_.alerts.clear();
        DocumentExporter failing = exporter();
        failing.setArchiver(QString::fromLatin1(archiver));
        failing.exportDocumentFolder();
        ASSERT_TRUE(waitForExport());
        ASSERT_EQ(alerts_.alerts.size(), 1);
        EXPECT_EQ(alerts_.alerts[0].message, LGNLocalizedString::lgnAppLocalizedString(QStringLiteral("导出失败")));
        EXPECT_TRUE(alerts_.alerts[0].informative.contains(QString::fromLatin1(archiver)));
        QFile file(destination);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), "keep me");
    }
    // A documents folder that is not there is no archive either.
    EXPECT_FALSE(zip(root_.filePath("none"), destination).ok);
    // Nor is a destination that cannot be written.
    EXPECT_FALSE(zip(documents_, root_.filePath("no/such/dir/a.zip")).ok);
}

TEST_F(DocumentExporterTest, CancelStartsNoArchiverButTheLogWasFlushed)
{
    panels_.setChoice(std::nullopt);
    DocumentExporter cancelled = exporter();
    cancelled.setArchiver(QStringLiteral("/nonexistent/zip")); // would be reported if it ran
    cancelled.exportDocumentFolder();
    EXPECT_FALSE(DocumentExporter::isExporting());
    QCoreApplication::processEvents();
    EXPECT_EQ(refreshes_, 1);
    EXPECT_TRUE(alerts_.alerts.isEmpty());
}

TEST_F(DocumentExporterTest, TheWindowGoesOnWhileTheArchiverRunsAndASecondExportIsRefused)
{
    const QString slowZip = slowArchiver();
    ASSERT_FALSE(slowZip.isEmpty());
    const QString destination = root_.filePath(QStringLiteral("DocumentFolder.zip"));
    panels_.setChoice(destination);

    DocumentExporter first = exporter();
    first.setArchiver(slowZip);
    first.exportDocumentFolder();
    // Back at once, the archiver still at work.
    EXPECT_TRUE(DocumentExporter::isExporting());
    EXPECT_FALSE(QFileInfo::exists(ended())) << "the export held up its caller until the archiver ended";
    EXPECT_FALSE(QFileInfo::exists(destination));
    EXPECT_TRUE(alerts_.alerts.isEmpty());

    // Another export meanwhile (the page's button pressed again) is refused
    // with a message, before any panel opens.
    exporter().exportDocumentFolder();
    ASSERT_EQ(alerts_.alerts.size(), 1);
    EXPECT_EQ(alerts_.alerts[0].message, LGNLocalizedString::lgnAppLocalizedString(DocumentExporter::kBusyTitleKey));
    EXPECT_EQ(panels_.requests().size(), 1);
    EXPECT_FALSE(exporter().zipDocumentDirectory(documents_, destination, DocumentExporter::kPassword, {}));

    ASSERT_TRUE(writeExportFile(release(), ""));
    ASSERT_TRUE(waitForExport());
    ASSERT_EQ(alerts_.alerts.size(), 2);
    EXPECT_EQ(alerts_.alerts[1].message, LGNLocalizedString::lgnAppLocalizedString(DocumentExporter::kSuccessTitleKey));
    EXPECT_EQ(runTool(QStringLiteral("unzip"), { QStringLiteral("-tq"), "-P", "803", destination }).exitCode, 0);

    // Once it has ended the next export runs.
    exporter().exportDocumentFolder();
    ASSERT_TRUE(waitForExport());
    EXPECT_EQ(panels_.requests().size(), 2);
    ASSERT_EQ(alerts_.alerts.size(), 3);
    EXPECT_EQ(alerts_.alerts[2].message, LGNLocalizedString::lgnAppLocalizedString(DocumentExporter::kSuccessTitleKey));
}

TEST_F(DocumentExporterTest, PictureOfTheExportMessages)
{
    if (!fakes::screenShotsWanted())
        GTEST_SKIP() << "PRAVIK_SHOT_DIR is not set";
    KWLangManager& languages = KWLangManager::sharedManager();
    const quint64 before = languages.indexOfUI();
    languages.setIndexOfUI(fakes::screenShotLanguage());
    MessageBoxAlertPresenter boxes;
    DocumentExporter exporting(panels_, center_, boxes, documents_);
    exporting.setArchiver(slowArchiver());
    panels_.setChoice(root_.filePath(QStringLiteral("DocumentFolder.zip")));
    exporting.exportDocumentFolder();
    exporting.exportDocumentFolder(); // refused: the first one runs
    EXPECT_FALSE(fakes::saveScreenShot(QStringLiteral("export-refused")).isEmpty());
    for (QWidget* box : QApplication::topLevelWidgets())
        box->close();
    ASSERT_TRUE(writeExportFile(release(), ""));
    ASSERT_TRUE(waitForExport());
    EXPECT_FALSE(fakes::saveScreenShot(QStringLiteral("export-finished")).isEmpty());
    for (QWidget* box : QApplication::topLevelWidgets())
        box->close();
    languages.setIndexOfUI(before);
}

TEST(TargetChooserTest, SendsTheChosenFolderAsADecodedFileAddress)
{
    QTemporaryDir dir;
    const QString music = dir.filePath(QStringLiteral("My Music ♪"));
    ASSERT_TRUE(QDir().mkpath(music));
    fakes::FakeFilePanels panels;
    panels.setChoice(music);
    TargetChooser chooser(panels, QStringLiteral("/start/here"));
    QStringList scripts;
    chooser.changeFolderAction([&](const QString& script) { scripts << script; });
    ASSERT_EQ(scripts.size(), 1);
    EXPECT_EQ(scripts[0], QStringLiteral("executionLocationLoad('file://%1/')").arg(QDir::cleanPath(music)));
    ASSERT_EQ(panels.requests().size(), 1);
    EXPECT_EQ(panels.requests()[0].texts,
        QStringList({ LGNLocalizedString::lgnAppLocalizedString(TargetChooser::kTitleKey),
            LGNLocalizedString::lgnAppLocalizedString(QStringLiteral("选择")), "/start/here" }));

    panels.setChoice(std::nullopt);
    chooser.changeFolderAction([&](const QString& script) { scripts << script; });
    EXPECT_EQ(scripts.size(), 1);

    // The application's chooser opens in the user's home folder.
    TargetChooser(nullptr).changeFolderAction([](const QString&) {});
    ASSERT_EQ(panels.requests().size(), 3);
    EXPECT_EQ(panels.requests()[2].texts.value(2), QDir::homePath());
}

TEST(TargetChooserTest, FileNamesCannotBreakOutOfTheScriptString)
{
    const struct {
        const char* address;
        const char* script;
    } cases[] = {
        { "file:///a/b.txt", "executionLocationLoad('file:///a/b.txt')" },
        { "file:///x');alert(1);('", "executionLocationLoad('file:///x\\');alert(1);(\\'')" },
        { "file:///back\\slash", "executionLocationLoad('file:///back\\\\slash')" },
        { "file:///line\nbreak", "executionLocationLoad('file:///line\\nbreak')" },
        { "file:///</script>", "executionLocationLoad('file:///\\u003c/script\\u003e')" },
        { "file:///sep\xe2\x80\xa8x", "executionLocationLoad('file:///sep\\u2028x')" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(TargetChooser::pageScript(QString::fromUtf8(c.address)), QString::fromUtf8(c.script)) << c.address;
    EXPECT_EQ(TargetChooser::addressText(QStringLiteral("/no/such/file.txt")), QStringLiteral("file:///no/such/file.txt"));
}

class VersionCheckActionTest : public ::testing::Test {
protected:
    VersionCheckActionTest()
        : prefs_(dir_.filePath(QStringLiteral("defaults.plist")))
        , user_(prefs_)
        , http_(platform::HttpClient::shared())
        , action_(user_, alerts_, backend_.baseUrl(),
              [this] { return std::make_unique<MMupdateInfo>(user_, http_, backend_.baseUrl(), QStringLiteral("2.0.0")); },
              [this] { ++windows_; })
    {
    }
    void run()
    {
        const int before = windows_ + static_cast<int>(alerts_.alerts.size());
        action_.web_checkNewVersionAction();
        ASSERT_TRUE(FakeHttpServer::waitUntil(
            [&] { return windows_ + static_cast<int>(alerts_.alerts.size()) > before; }));
    }

    QTemporaryDir dir_;
    platform::Preferences prefs_;
    MMUserInfo user_;
    SHHttpManager http_;
    FakeBackend backend_;
    RecordedAlerts alerts_;
    int windows_ = 0;
    VersionCheckAction action_;
};

TEST_F(VersionCheckActionTest, ASkippedVersionIsOfferedAgainOnDemand)
{
    user_.setJumpVersion(QStringLiteral("2.0.1"));
    backend_.expectAppUpdate(FakeBackend::appUpdate(QStringLiteral("2.0.1"), QStringLiteral("https://e.com/d")));
    run();
    EXPECT_EQ(windows_, 1);
    EXPECT_TRUE(alerts_.alerts.isEmpty());
    EXPECT_EQ(user_.jumpVersion(), QString());
}

TEST_F(VersionCheckActionTest, UpToDateAndUnknownAreToldApart)
{
    const auto tr = LGNLocalizedString::lgnAppLocalizedString;
    backend_.expectAppUpdate(FakeBackend::appUpdate(QStringLiteral("2.0.0"), QStringLiteral("https://e.com/d")));
    run();
    backend_.expectAppUpdate(FakeHttpServer::Reply::json(R"({"data":{}})"));
    run();
    backend_.expectAppUpdate(FakeHttpServer::Reply::json(R"({"data":{"ver":"3.0"}})", 500));
    run();
    ASSERT_EQ(alerts_.alerts.size(), 3);
    EXPECT_EQ(windows_, 0);
    EXPECT_EQ(alerts_.alerts[0].message, tr(VersionCheckAction::kTitleKey));
    EXPECT_EQ(alerts_.alerts[0].informative, tr(VersionCheckAction::kLatestKey));
    EXPECT_EQ(alerts_.alerts[0].buttons, QStringList({ tr(QStringLiteral("确认")), tr(QStringLiteral("取消")) }));
    EXPECT_EQ(alerts_.alerts[1].informative, tr(VersionCheckAction::kUnknownKey));
    EXPECT_EQ(alerts_.alerts[2].informative, tr(VersionCheckAction::kUnknownKey));
    EXPECT_TRUE(backend_.problems().isEmpty()) << backend_.problems().join(u'\n').toStdString();
}

// Without a back end to ask there is no check to wait for: the user is
// told what to set, and no check is even made.
TEST_F(VersionCheckActionTest, WithoutABackEndTheAlertSaysWhatToSet)
{
    const auto tr = LGNLocalizedString::lgnAppLocalizedString;
    const struct {
        QString address;
        QString told;
    } cases[] = {
        { QString(), NoticeTexts::updatesNeedBackend(QStringLiteral("PRAVIK_BACKEND_URL"), QStringLiteral("BackendBaseURL")) },
        { QStringLiteral("backend.example.org"), NoticeTexts::backendInvalid(QStringLiteral("backend.example.org")) },
    };
    for (const auto& c : cases) {
        int checks = 0;
        RecordedAlerts alerts;
        VersionCheckAction action(user_, alerts, c.address,
            [&] {
                ++checks;
                return std::make_unique<MMupdateInfo>(user_, http_, c.address, QStringLiteral("2.0.0"));
            },
            [this] { ++windows_; });
        action.web_checkNewVersionAction();
        ASSERT_EQ(alerts.alerts.size(), 1) << c.address.toStdString();
        EXPECT_EQ(alerts.alerts[0].message, tr(VersionCheckAction::kTitleKey));
        EXPECT_EQ(alerts.alerts[0].informative, c.told);
        EXPECT_EQ(alerts.alerts[0].buttons, QStringList({ tr(QStringLiteral("确认")) }));
        EXPECT_EQ(checks, 0);
    }
    EXPECT_TRUE(NoticeTexts::updatesNeedBackend(QStringLiteral("PRAVIK_BACKEND_URL"), QStringLiteral("BackendBaseURL"))
                    .contains(QStringLiteral("PRAVIK_BACKEND_URL")));
    EXPECT_EQ(windows_, 0);
}

// A back end that does not answer is told in the main window's notices, not
// only in the log.
TEST_F(VersionCheckActionTest, AnUnreachableBackEndIsANotice)
{
    platform::UserNotices::shared().resetForTesting();
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QString address = QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort());
    closed.close(); // nothing listens there any more: the connection is refused
    RecordedAlerts alerts;
    VersionCheckAction action(user_, alerts, address,
        [&] { return std::make_unique<MMupdateInfo>(user_, http_, address, QStringLiteral("2.0.0")); }, {});
    action.web_checkNewVersionAction();
    ASSERT_TRUE(FakeHttpServer::waitUntil([&] { return !alerts.alerts.isEmpty(); }));
    const std::vector<platform::UserNotices::Notice> notices = platform::UserNotices::shared().pending();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].key, BackendAddress::kUnreachableNotice);
    EXPECT_TRUE(notices[0].text.contains(address)) << notices[0].text.toStdString();
    platform::UserNotices::shared().resetForTesting();
}

} // namespace
