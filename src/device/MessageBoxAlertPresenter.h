#pragma once

#include "device/DeviceAlertPresenter.h"

// Shows the alert as a window-modal message box on the main window and then
// brings the main window to the front.
class MessageBoxAlertPresenter final : public DeviceAlertPresenter {
public:
    void presentAlert(const QString& messageText, const QString& informativeText, const QStringList& buttons,
        std::function<void(int button)> completion) override;
};
