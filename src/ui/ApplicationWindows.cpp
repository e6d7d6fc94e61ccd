#include "ui/ApplicationWindows.h"

#include "core/BackendAddress.h"
#include "core/MMUserInfo.h"
#include "core/MMViewGeometry.h"
#include "device/BLEModel.h"
#include "device/MessageBoxAlertPresenter.h"
#include "device/mmBleDebugWindow.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"
#include "translate/SnipTranslationLauncher.h"
#include "ui/ChatWindowPresenter.h"
#include "ui/DocumentExporter.h"
#include "ui/MMupdateInfo.h"
#include "ui/MMupdateWindow.h"
#include "ui/TargetChooser.h"
#include "ui/VersionCheckAction.h"
#include "ui/mmShortcutWindow.h"
#include "voice/UWCmdService.h"

#include <QWidget>

ApplicationWindows::ApplicationWindows(Services services)
    : services_(std::move(services))
{
}

ApplicationWindows::~ApplicationWindows()
{
    *alive_ = false;
    delete updateWC_.data();
    delete shortcutWC_.data();
}

std::shared_ptr<ApplicationWindows> ApplicationWindows::create(
    ChatWindowPresenter& chat, SnipTranslationLauncher& translation)
{
    static MessageBoxAlertPresenter messageBoxes;
    return std::make_shared<ApplicationWindows>(
        Services { chat, translation, MMUserInfo::sharedMMUserInfo(), UWCmdService::sharedUWCmdService(),
            platform::Preferences::standard(), platform::NotificationCenter::defaultCenter(), messageBoxes,
            [] { return std::make_unique<MMupdateInfo>(); }, [] { return BackendAddress::configured(); },
            [](double seconds) { BLEModel::sharedManager().waitingForConnectMouseWithDaley(seconds); } });
}

void ApplicationWindows::showChatWindow()
{
    services_.chat.showChatWindow();
}

void ApplicationWindows::showShortCutWindow()
{
    if (!shortcutWC_) {
        shortcutWC_ = new mmShortcutWindow(services_.defaults, services_.user.webConfig(), services_.center);
        shortcutWC_->setAttribute(Qt::WA_DeleteOnClose);
    }
    MMViewGeometry::bringForward(*shortcutWC_);
}

void ApplicationWindows::showSnipTransWC()
{
    services_.translation.showSnipTransWC();
}

void ApplicationWindows::cancelSnipTrans()
{
    services_.translation.cancelSnipTrans();
}

void ApplicationWindows::showUpdateWindow()
{
    if (!updateWC_) {
        updateWC_ = new MMupdateWindow(services_.user, services_.commands);
        updateWC_->setAttribute(Qt::WA_DeleteOnClose);
    }
    MMViewGeometry::bringForward(*updateWC_);
}

void ApplicationWindows::checkVersion()
{
    // The check may outlive this call; its answer reaches these windows only while they live.
    const std::unique_ptr<MMupdateInfo> check = services_.makeUpdateCheck();
    check->checkVersionCallback([this, alive = std::weak_ptr<bool>(alive_)](bool newer) {
        if (newer && !alive.expired())
            showUpdateWindow();
    });
}

void ApplicationWindows::checkNewVersion()
{
    VersionCheckAction action(services_.user, services_.alerts, services_.updateSource(), services_.makeUpdateCheck,
        [this, alive = std::weak_ptr<bool>(alive_)] {
            if (!alive.expired())
                showUpdateWindow();
        });
    action.web_checkNewVersionAction();
}

void ApplicationWindows::changeFolderAction(QWidget* window, PageCall sendToPage)
{
    TargetChooser(window).changeFolderAction(sendToPage);
}

void ApplicationWindows::exportDocumentFolder(QWidget* window)
{
    DocumentExporter(window).exportDocumentFolder();
}

void ApplicationWindows::setSelectionMonitor(bool on)
{
    if (on)
        services_.translation.beginGlobalEventMonitor();
    else
        services_.translation.endGlobalEventMonitor();
}

void ApplicationWindows::waitingForConnectMouseWithDaley(double seconds)
{
    services_.bleRetry(seconds);
}

void ApplicationWindows::showBleDebugWindow()
{
    if (!debugWC_)
        debugWC_ = std::make_unique<mmBleDebugWindow>(services_.center);
    MMViewGeometry::bringForward(*debugWC_->window());
}

MMupdateWindow* ApplicationWindows::updateWindow() const
{
    return updateWC_;
}

mmShortcutWindow* ApplicationWindows::shortcutWindow() const
{
    return shortcutWC_;
}
