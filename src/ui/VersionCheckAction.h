#pragma once

#include "ui/MMupdateInfo.h"

#include <functional>
#include <memory>

class DeviceAlertPresenter;
class MMUserInfo;

// The settings page's "checkLevel": a check for a newer version on demand.
// A version the user skipped earlier is offered again. A newer version opens
// the update window; an up-to-date one is told in an alert; a check that
// could not be made (no back end, no reply, a reply without a usable
// version) is told as such, never as "already the latest version"; without
// a back end to ask, the user is told that none is configured.
class VersionCheckAction {
public:
    static const QString kTitleKey; // "版本更新"
    static const QString kLatestKey; // "已经是最新版本"
    static const QString kUnknownKey; // "无法检查更新，请稍后再试。"

    using CheckFactory = std::function<std::unique_ptr<MMupdateInfo>()>;

    // backendAddress is where the checks go: without a usable one the user
    // is told what to set instead of being asked to try again later.
    // showUpdateWindow opens (or brings forward) the main window's update window.
    VersionCheckAction(MMUserInfo& user, DeviceAlertPresenter& alerts, QString backendAddress, CheckFactory makeCheck,
        std::function<void()> showUpdateWindow);

    void web_checkNewVersionAction();

private:
    MMUserInfo& user_;
    DeviceAlertPresenter& alerts_;
    QString backendAddress_;
    CheckFactory makeCheck_;
    std::function<void()> showUpdateWindow_;
};
