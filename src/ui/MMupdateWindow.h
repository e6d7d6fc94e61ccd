#pragma once

#include "platform/NotificationCenter.h"

#include <QString>
#include <QWidget>

class MMUserInfo;
class QLabel;
class QPushButton;
class UWCmdService;

// The small window that offers a newer version: the latest and the current
// version, a hint that a skipped version can be checked again from the
// settings, and two buttons: skip this version (tag 1000: the reported
// version becomes the skipped one and the window closes) and download (tag
// 1001: the reported address opens in the browser; the window stays).
// Its texts follow the interface language.
class MMupdateWindow : public QWidget {
public:
    static constexpr int kJumpTag = 1000;
    static constexpr int kDownloadTag = 1001;

    // Uses the shared settings and command service.
    explicit MMupdateWindow(QWidget* parent = nullptr);
    MMupdateWindow(MMUserInfo& user, UWCmdService& commands, QWidget* parent = nullptr);

    // Fills the texts again (interface-language change).
    void reloadUI();
    // The action of both buttons, told apart by their tags.
    void action(int tag);

    QLabel* titleLb() const { return titleLb_; }
    QLabel* infoTF() const { return infoTF_; }
    QPushButton* jumpButton() const { return jumpButton_; }
    QPushButton* donwLoadButton() const { return donwLoadButton_; }

private:
    void init_uidata();

    MMUserInfo& user_;
    UWCmdService& commands_;
    QLabel* titleLb_ = nullptr;
    QLabel* infoTF_ = nullptr;
    QPushButton* jumpButton_ = nullptr;
    QPushButton* donwLoadButton_ = nullptr;
    platform::ObserverToken languageObserver_;
};
