#pragma once

#include "platform/NotificationCenter.h"

#include <QPointer>
#include <QString>
#include <QVariant>

class QTextEdit;
class QWidget;

// A diagnostic window with a running log of what is posted as "bleDataNoti",
// newest at the bottom. The log lives as long as the controller and is
// never trimmed or saved.
class mmBleDebugWindow {
public:
    explicit mmBleDebugWindow(platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter());
    ~mmBleDebugWindow();
    mmBleDebugWindow(const mmBleDebugWindow&) = delete;
    mmBleDebugWindow& operator=(const mmBleDebugWindow&) = delete;

    // The window, built on first use; from then on the log follows the notification.
    QWidget* window();
    QString debugString() const { return debugString_; }

    // Appends an entry: two line breaks and the entry's text.
    void readBleDataNoti(const QVariant& object);

private:
    void windowDidLoad();
    void loadSourceTextview();

    platform::NotificationCenter& center_;
    QPointer<QWidget> window_;
    QPointer<QTextEdit> fromTextView_;
    QString debugString_;
    platform::ObserverToken observer_;
};
