#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Shows an informational alert as a sheet on the main window and reports
// which button ended it: the button's index, or -1 when it was closed
// another way. Tests supply their own and answer it.
class DeviceAlertPresenter {
public:
    virtual ~DeviceAlertPresenter() = default;
    virtual void presentAlert(const QString& messageText, const QString& informativeText,
        const QStringList& buttons, std::function<void(int button)> completion)
        = 0;
};
