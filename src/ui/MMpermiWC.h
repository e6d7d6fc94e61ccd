#pragma once

#include "platform/NotificationCenter.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QLabel;
class QPushButton;
class MMpermissionCheck;

namespace platform {
class Executor;
}

// The permission guide: the three things the application needs of the
// session — input-device access (the receiver and the mouse's keys), screen
// capture, a Bluetooth adapter — each with whether it is there now and, when
// it is not, exactly how to provide it. It checks again once a second until
// all three are there, then posts "kHadPermissinAllAcceptNoti" and stops.
class MMpermiWC : public QWidget {
public:
    using CheckFactory = std::function<std::shared_ptr<MMpermissionCheck>()>;

    // The how-to texts (interface-string keys).
    static const QString kInputHowTo, kScreenHowTo, kBluetoothHowTo;

    MMpermiWC(CheckFactory makeCheck, platform::Executor& executor, platform::NotificationCenter& center,
        QWidget* parent = nullptr);
    ~MMpermiWC() override;

    bool polling() const { return polling_; }
    // Granted state shown per row (input, Bluetooth, screen).
    std::vector<bool> rowsGranted() const;
    // Runs one check now, as a tick of the poll does.
    void getPermisstionState();
    // The add button of a row.
    void addBtnAction(int row);

private:
    struct Row {
        QLabel* title;
        QLabel* subTitle;
        QLabel* state;
        QLabel* howTo;
        QPushButton* addBtn;
        bool granted = false;
    };
    void init_uidata();
    void reloadRows();
    void scheduleTick();

    CheckFactory makeCheck_;
    platform::Executor& executor_;
    platform::NotificationCenter& center_;
    std::shared_ptr<MMpermissionCheck> check_;
    QLabel* titleLable_ = nullptr;
    std::vector<Row> rows_;
    bool polling_ = true;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    platform::ObserverToken languageObserver_;
};
