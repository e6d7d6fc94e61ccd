#pragma once

#include "ui/ApplicationServices.h"

#include <QPointer>

#include <functional>
#include <memory>

class ChatWindowPresenter;
class DeviceAlertPresenter;
class MMUserInfo;
class MMupdateInfo;
class MMupdateWindow;
class SnipTranslationLauncher;
class UWCmdService;
class mmBleDebugWindow;
class mmShortcutWindow;

namespace platform {
class NotificationCenter;
class Preferences;
} // namespace platform

// The application's secondary windows, page actions and the services behind
// them. The chat window and the translation windows belong to their
// presenters; the update
// window and the hot-key recorder are made on demand and let go when
// closed, so the next request makes a fresh one; the device debug window
// is kept once made. Main thread.
class ApplicationWindows final : public ApplicationServices {
public:
    using UpdateCheckFactory = std::function<std::unique_ptr<MMupdateInfo>()>;
    using BleRetry = std::function<void(double seconds)>;

    struct Services {
        ChatWindowPresenter& chat;
        SnipTranslationLauncher& translation;
        MMUserInfo& user;
        UWCmdService& commands;
        platform::Preferences& defaults;
        platform::NotificationCenter& center;
        DeviceAlertPresenter& alerts;
        UpdateCheckFactory makeUpdateCheck; // required
        std::function<QString()> updateSource; // required: the back end the update checks ask
        BleRetry bleRetry; // required
    };

    explicit ApplicationWindows(Services services);
    ~ApplicationWindows() override;

    // Over the shared settings, back end, message boxes and Bluetooth link.
    static std::shared_ptr<ApplicationWindows> create(
        ChatWindowPresenter& chat, SnipTranslationLauncher& translation);

    void showChatWindow() override;
    void showShortCutWindow() override;
    void showSnipTransWC() override;
    void cancelSnipTrans() override;
    void checkVersion() override;
    void checkNewVersion() override;
    void changeFolderAction(QWidget* window, PageCall sendToPage) override;
    void exportDocumentFolder(QWidget* window) override;
    void setSelectionMonitor(bool on) override;
    void waitingForConnectMouseWithDaley(double seconds) override;

    // Opens (or brings forward) the update window.
    void showUpdateWindow();
    // The diagnostic window of the Bluetooth link (started with --ble-debug).
    void showBleDebugWindow();

    // The open windows, for tests; null when none is open.
    MMupdateWindow* updateWindow() const;
    mmShortcutWindow* shortcutWindow() const;
    mmBleDebugWindow* bleDebugWindow() const { return debugWC_.get(); }

private:
    Services services_;
    QPointer<MMupdateWindow> updateWC_;
    QPointer<mmShortcutWindow> shortcutWC_;
    std::unique_ptr<mmBleDebugWindow> debugWC_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
