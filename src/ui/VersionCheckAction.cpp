#include "ui/VersionCheckAction.h"

#include "core/LGNLocalizedString.h"
#include "core/MMUserInfo.h"
#include "device/DeviceAlertPresenter.h"

const QString VersionCheckAction::kTitleKey = QStringLiteral("版本更新");
const QString VersionCheckAction::kLatestKey = QStringLiteral("已经是最新版本");
const QString VersionCheckAction::kUnknownKey = QStringLiteral("无法检查更新，请稍后再试。");

namespace version_check {

const QString kConfirmKey = QStringLiteral("确认");
const QString kCancelKey = QStringLiteral("取消");

} // namespace version_check

VersionCheckAction::VersionCheckAction(MMUserInfo& user, DeviceAlertPresenter& alerts, CheckFactory makeCheck,
    std::function<void()> showUpdateWindow)
    : user_(user)
    , alerts_(alerts)
    , makeCheck_(std::move(makeCheck))
    , showUpdateWindow_(std::move(showUpdateWindow))
{
}

void VersionCheckAction::web_checkNewVersionAction()
{
    user_.setJumpVersion(QString());
    const std::unique_ptr<MMupdateInfo> check = makeCheck_();
    // The check may go away before it answers; the answer holds what it needs.
    check->checkVersion([&alerts = alerts_, showUpdateWindow = showUpdateWindow_](MMupdateInfo::Outcome outcome) {
        if (outcome == MMupdateInfo::Outcome::Newer) {
            if (showUpdateWindow)
                showUpdateWindow();
            return;
        }
        const auto tr = LGNLocalizedString::lgnAppLocalizedString;
        alerts.presentAlert(tr(kTitleKey), tr(outcome == MMupdateInfo::Outcome::NotNewer ? kLatestKey : kUnknownKey),
            { tr(version_check::kConfirmKey), tr(version_check::kCancelKey) }, [](int) {});
    });
}
