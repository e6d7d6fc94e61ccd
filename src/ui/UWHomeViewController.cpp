#include "ui/UWHomeViewController.h"

#include "core/AppDelegate.h"
#include "core/HRPSqliteOperation.h"
#include "core/LGNLocalizedString.h"
#include "core/Notifications.h"
#include "voice/MMAppdataItem.h"
#include "voice/MMCustomCmdItem.h"

#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

const QString UWHomeViewController::kAppTable = QStringLiteral("DBMyAppsoooCmdListKey");
const QString UWHomeViewController::kCustomTable = QStringLiteral("DBCustomizeCmdList");

UWHomeViewController::UWHomeViewController(HRPSqliteOperation& database, StartupHooks hooks,
                                           platform::NotificationCenter& center)
    : database_(database)
    , hooks_(std::move(hooks))
    , center_(center)
{
}

UWHomeViewController::~UWHomeViewController()
{
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
    title_ = new QLabel(view_);
    title_->setAlignment(Qt::AlignCenter);
    layout->addWidget(title_);
    reloadTexts();
    startupLog_ << QStringLiteral("view");

    init_data();
    checkPermission();
    canUSB();
    registerObservers();
}

void UWHomeViewController::init_data()
{
    const bool apps = database_.createTableWithtableName(kAppTable, MMAppdataItem());
    const bool custom = database_.createTableWithtableName(kCustomTable, MMCustomCmdItem());
    if (!apps || !custom)
        qWarning("UWHomeViewController: creating the command tables failed");
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
