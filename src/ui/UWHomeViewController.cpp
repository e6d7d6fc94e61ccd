#include "ui/UWHomeViewController.h"

#include "core/AppDelegate.h"
#include "core/HRPSqliteOperation.h"
#include "core/LGNLocalizedString.h"
#include "core/NoticeTexts.h"
#include "core/Notifications.h"
#include "core/StorageCheck.h"
#include "platform/UserNotices.h"
#include "ui/NoticeArea.h"
#include "voice/MMAppdataItem.h"
#include "voice/MMCustomCmdItem.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

const QString UWHomeViewController::kAppTable = QStringLiteral("DBMyAppsoooCmdListKey");
const QString UWHomeViewController::kCustomTable = QStringLiteral("DBCustomizeCmdList");
const QString UWHomeViewController::kCommandDatabaseNotice = QStringLiteral("command-database-replaced");

UWHomeViewController::UWHomeViewController(HRPSqliteOperation& database, StartupHooks hooks,
                                           platform::NotificationCenter& center)
    : database_(database)
    , hooks_(std::move(hooks))
    , center_(center)
{
}

UWHomeViewController::~UWHomeViewController()
{
    if (notices_)
        platform::UserNotices::shared().setListener(nullptr);
    observers_.clear();
    // The view belongs to the window it was put into; delete it only when it
    // was never handed over.
    if (view_ && !view_->parent())
        delete view_;
}

QWidget* UWHomeViewController::view()
{
    if (!view_)
        viewDidLoad();
    return view_;
}

void UWHomeViewController::viewDidLoad()
{
    view_ = new QWidget();
    view_->resize(960, 640);
    auto* layout = new QVBoxLayout(view_);
    notices_ = new NoticeArea(view_);
    layout->addWidget(notices_);
    title_ = new QLabel(view_);
    title_->setAlignment(Qt::AlignCenter);
    layout->addWidget(title_, 1);
    reloadTexts();
    showNotices();
    startupLog_ << QStringLiteral("view");

    init_data();
    checkPermission();
    canUSB();
    registerObservers();
}

QStringList UWHomeViewController::noticeTexts() const
{
    return notices_ ? notices_->texts() : QStringList();
}

void UWHomeViewController::showNotices()
{
    platform::UserNotices& notices = platform::UserNotices::shared();
    // Listen first, then read what is pending: a notice posted in between
    // arrives twice and the area keeps one, instead of arriving not at all.
    QPointer<NoticeArea> area = notices_;
    notices.setListener([area](const platform::UserNotices::Notice& notice) {
        // Posters may run on any thread; widgets live on the main thread.
        QMetaObject::invokeMethod(QCoreApplication::instance(), [area, notice] {
            if (area)
                area->addNotice(notice.key, notice.text);
        });
    });
    for (const auto& notice : notices.pending())
        notices_->addNotice(notice.key, notice.text);
}

void UWHomeViewController::openCommandDatabase()
{
    using Outcome = HRPSqliteOperation::Recovery::Outcome;
    const QString path = database_.databasePath();
    const HRPSqliteOperation::Recovery recovery = database_.recoverIfDamaged();
    switch (recovery.outcome) {
    case Outcome::Healthy:
        break;
    case Outcome::MovedAside:
        qWarning("UWHomeViewController: the command database %s could not be read (%s); it was kept as %s "
                 "and a new one started",
            qUtf8Printable(path), qUtf8Printable(recovery.reason), qUtf8Printable(recovery.keptAs));
        platform::UserNotices::shared().post(
            kCommandDatabaseNotice, NoticeTexts::commandDatabaseDamaged(path, recovery.reason, recovery.keptAs));
        break;
    case Outcome::Unwritable:
        StorageCheck::reportUnwritable(QFileInfo(path).absolutePath(), recovery.reason);
        break;
    }
}

void UWHomeViewController::init_data()
{
    openCommandDatabase();
    QString error;
    if (!database_.createTableWithtableName(kAppTable, MMAppdataItem(), &error)
        || !database_.createTableWithtableName(kCustomTable, MMCustomCmdItem(), &error))
        qWarning("UWHomeViewController: creating the command tables in %s failed: %s; voice commands will not work",
            qUtf8Printable(database_.databasePath()), qUtf8Printable(error));
    startupLog_ << QStringLiteral("tables");
    if (hooks_.beginMouseMonitor)
        hooks_.beginMouseMonitor();
    startupLog_ << QStringLiteral("press codes");
}

void UWHomeViewController::checkPermission()
{
    if (hooks_.checkPermission)
        hooks_.checkPermission();
    startupLog_ << QStringLiteral("permissions");
}

void UWHomeViewController::canUSB()
{
    if (hooks_.startDeviceLinks)
        hooks_.startDeviceLinks();
    startupLog_ << QStringLiteral("devices");
}

void UWHomeViewController::registerObservers()
{
    observers_.push_back(center_.addObserver(notifications::kHadChangeUILanguage,
                                             [this](const platform::Notification&) { receivedUILanguageChangeNoti(); }));
    startupLog_ << QStringLiteral("observers");
}

void UWHomeViewController::receivedUILanguageChangeNoti()
{
    if (AppDelegate* delegate = AppDelegate::shared())
        delegate->addStatusItem();
    reloadTexts();
}

void UWHomeViewController::reloadTexts()
{
    if (title_)
        title_->setText(QStringLiteral("PraVik  ") + LGNLocalizedString::lgnAppLocalizedString(QStringLiteral("打开主页")));
}
