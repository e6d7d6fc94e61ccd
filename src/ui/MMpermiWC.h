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

// The permission guide: what the application needs of the session, each
// with whether it is there now and, when it is not, how to provide it.
// Input-device access is what the mouse itself needs (the receiver and its
// keys); a Bluetooth adapter and screen capture are optional and say what
// they add. It checks again once a second while it is open; when what the
// mouse needs is there it posts "kHadPermissinAllAcceptNoti" (once), and it
// stops checking when everything is there.
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
    // The button of a row missing its permission: input access is taken
    // ("Enable"); Bluetooth and screen capture are looked for again ("Check
    // again"). The row then tells what was found.
    void addBtnAction(int row);

    // What a row shows, for tests and diagnostics.
    struct RowView {
        QString title, subTitle, howTo, command;
        QString result; // what the row's button found, or why it is still missing
        QString action; // the button's label
        bool optional = false;
    };
    RowView rowView(int row) const;
    QPushButton* closeButton() const { return closeBtn_; }

private:
    struct Row {
        QLabel* title;
        QLabel* optional;
        QLabel* subTitle;
        QLabel* state;
        QLabel* howTo;
        QLabel* command;
        QPushButton* addBtn;
        QLabel* result;
        bool granted = false;
        bool added = false; // its button was pressed: the next check's answer is told in the row
        QString resultKey;
    };
    void init_uidata();
    void reloadRows();
    void scheduleTick();

    CheckFactory makeCheck_;
    platform::Executor& executor_;
    platform::NotificationCenter& center_;
    std::shared_ptr<MMpermissionCheck> check_;
    QLabel* titleLable_ = nullptr;
    QPushButton* closeBtn_ = nullptr;
    std::vector<Row> rows_;
    bool polling_ = true;
    bool mouseReadyPosted_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    platform::ObserverToken languageObserver_;
};
