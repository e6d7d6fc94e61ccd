#include "ui/VersionCheckAction.h"

#include "core/BackendAddress.h"
#include "core/LGNLocalizedString.h"
#include "core/NoticeTexts.h"
#include "core/MMUserInfo.h"
#include "device/DeviceAlertPresenter.h"

const QString VersionCheckAction::kTitleKey = QStringLiteral("版本更新");
const QString VersionCheckAction::kLatestKey = QStringLiteral("已经是最新版本");
const QString VersionCheckAction::kUnknownKey = QStringLiteral("无法检查更新，请稍后再试。");

namespace version_check {

const QString kConfirmKey = QStringLiteral("确认");
const QString kCancelKey = QStringLiteral("取消");

} // namespace version_check

VersionCheckAction::VersionCheckAction(MMUserInfo& user, DeviceAlertPresenter& alerts, QString backendAddress,
    CheckFactory makeCheck, std::function<void()> showUpdateWindow)
    : user_(user)
    , alerts_(alerts)
    , backendAddress_(std::move(backendAddress))
    , makeCheck_(std::move(makeCheck))
    , showUpdateWindow_(std::move(showUpdateWindow))
{
}

void VersionCheckAction::web_checkNewVersionAction()
{
    user_.setJumpVersion(QString());
    const auto tr = LGNLocalizedString::lgnAppLocalizedString;
    switch (BackendAddress::stateOf(backendAddress_)) {
    case BackendAddress::State::Usable:
        break;
    case BackendAddress::State::NotConfigured:
        alerts_.presentAlert(tr(kTitleKey),
            NoticeTexts::updatesNeedBackend(
                QString::fromLatin1(BackendAddress::kEnvironmentVariable), BackendAddress::kPreferenceKey),
            { tr(version_check::kConfirmKey) }, [](int) {});
        return;
    case BackendAddress::State::Invalid:
        alerts_.presentAlert(tr(kTitleKey), NoticeTexts::backendInvalid(backendAddress_),
            { tr(version_check::kConfirmKey) }, [](int) {});
        return;
    }
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
