#include "ui/MMpermiWC.h"

#include "core/LGNLocalizedString.h"
#include "core/Notifications.h"
#include "device/MMpermissionCheck.h"
#include "platform/Executor.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

const QString MMpermiWC::kInputHowTo
    = QStringLiteral("安装接收器的 udev 规则（scripts/install-deps.sh 会安装），然后拔下接收器再插上。");
const QString MMpermiWC::kScreenHowTo
    = QStringLiteral("截图翻译需要 X11 会话：请在登录界面选择 X11（Xorg）会话。");
const QString MMpermiWC::kBluetoothHowTo
    = QStringLiteral("请接入蓝牙适配器并启动蓝牙服务（sudo systemctl start bluetooth）。");

namespace guide {

constexpr double kPollInterval = 1.0;

struct RowText {
    QString title, subTitle, howTo;
};

// Rows in the order the guide lists them.
const std::vector<RowText>& rowTexts()
{
    static const std::vector<RowText> rows {
        // Input-device access stands where other desktops ask for accessibility.
        { QStringLiteral("输入设备"), QStringLiteral("用于语音打字文字输入"), MMpermiWC::kInputHowTo },
        { QStringLiteral("蓝牙"), QStringLiteral("用于检查鼠标的连接状态"), MMpermiWC::kBluetoothHowTo },
        { QStringLiteral("屏幕录制"), QStringLiteral("用于截图翻译"), MMpermiWC::kScreenHowTo },
    };
    return rows;
}

QString tr(const QString& key)
{
    return LGNLocalizedString::lgnAppLocalizedString(key);
}

} // namespace guide

MMpermiWC::MMpermiWC(CheckFactory makeCheck, platform::Executor& executor,
    platform::NotificationCenter& center, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , makeCheck_(std::move(makeCheck))
    , executor_(executor)
    , center_(center)
{
    setStyleSheet(QStringLiteral("QWidget#permissionRow { background: #f4f6fa; border-radius: 10px; }"
                                 "QLabel#rowTitle { font-size: 15px; font-weight: 600; color: #1e2431; }"
                                 "QLabel#rowSub, QLabel#rowHowTo { color: #5b6478; }"
                                 "QLabel#rowGranted { color: #2e9e62; font-size: 18px; }"
                                 "QPushButton { background: #3b6df2; color: white; border: none; "
                                 "border-radius: 5px; padding: 5px 14px; }"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 24);
    layout->setSpacing(20);
    titleLable_ = new QLabel(this);
    titleLable_->setWordWrap(true);
    layout->addWidget(titleLable_);
    for (int i = 0; i < 3; ++i) {
        auto* box = new QWidget(this);
        box->setObjectName(QStringLiteral("permissionRow"));
        box->setAttribute(Qt::WA_StyledBackground);
        auto* grid = new QGridLayout(box);
        grid->setContentsMargins(16, 12, 16, 12);
        Row row { new QLabel(box), new QLabel(box), new QLabel(box), new QLabel(box), new QPushButton(box) };
        row.title->setObjectName(QStringLiteral("rowTitle"));
        row.subTitle->setObjectName(QStringLiteral("rowSub"));
        row.howTo->setObjectName(QStringLiteral("rowHowTo"));
        row.howTo->setWordWrap(true);
        row.howTo->setTextInteractionFlags(Qt::TextSelectableByMouse);
        row.state->setObjectName(QStringLiteral("rowGranted"));
        row.state->setText(QStringLiteral("✓"));
        grid->addWidget(row.title, 0, 0);
        grid->addWidget(row.subTitle, 1, 0);
        grid->addWidget(row.howTo, 2, 0, 1, 2);
        grid->addWidget(row.state, 0, 1, 2, 1, Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(row.addBtn, 0, 1, 2, 1, Qt::AlignRight | Qt::AlignVCenter);
        grid->setColumnStretch(0, 1);
        QObject::connect(row.addBtn, &QPushButton::clicked, this, [this, i] { addBtnAction(i); });
        rows_.push_back(row);
        layout->addWidget(box);
    }
    layout->addStretch(1);
    resize(560, 520);
    init_uidata();
    reloadRows();
    check_ = makeCheck_ ? makeCheck_() : nullptr;
    languageObserver_
        = center_.addObserver(notifications::kHadChangeUILanguage, [this](const platform::Notification&) {
              init_uidata();
              reloadRows();
          });
    scheduleTick();
}

MMpermiWC::~MMpermiWC()
{
    *alive_ = false;
}

void MMpermiWC::init_uidata()
{
    setWindowTitle(guide::tr(QStringLiteral("权限管理")));
    titleLable_->setText(guide::tr(QStringLiteral("请授权PraVik所需要的权限，以使用听写翻译功能。")));
    for (size_t i = 0; i < rows_.size(); ++i) {
        const guide::RowText& text = guide::rowTexts().at(i);
        rows_[i].title->setText(guide::tr(text.title));
        rows_[i].subTitle->setText(guide::tr(text.subTitle));
        rows_[i].howTo->setText(guide::tr(text.howTo));
        rows_[i].addBtn->setText(guide::tr(QStringLiteral("添加")));
    }
}

void MMpermiWC::reloadRows()
{
    for (Row& row : rows_) {
        row.addBtn->setVisible(!row.granted);
        row.howTo->setVisible(!row.granted);
        row.state->setVisible(row.granted);
    }
}

std::vector<bool> MMpermiWC::rowsGranted() const
{
    std::vector<bool> granted;
    for (const Row& row : rows_)
        granted.push_back(row.granted);
    return granted;
}

void MMpermiWC::scheduleTick()
{
    std::weak_ptr<bool> alive = alive_;
    executor_.asyncAfter(guide::kPollInterval, [this, alive] {
        if (alive.expired() || !polling_)
            return;
        getPermisstionState();
        if (polling_)
            scheduleTick();
    });
}

void MMpermiWC::getPermisstionState()
{
    if (!check_)
        return;
    std::weak_ptr<MMpermissionCheck> weak = check_;
    check_->permissionCheckCallback([this, weak](bool) {
        const std::shared_ptr<MMpermissionCheck> check = weak.lock();
        if (!check)
            return;
        // Input access counts once the mouse's keys are really taken.
        rows_[0].granted = check->permissionOfAccessibility() && check->keysTaken();
        rows_[1].granted = check->permissionOfBluetooth();
        rows_[2].granted = check->permissionOfcScreen();
        reloadRows();
        if (polling_ && rows_[0].granted && rows_[1].granted && rows_[2].granted) {
            // Once: the rest of the application starts what waited for these.
            polling_ = false;
            center_.post(notifications::kHadPermissinAllAccept);
        }
    });
}

void MMpermiWC::addBtnAction(int row)
{
    if (!check_ || row < 0 || row > 2)
        return;
    if (row == 0)
        check_->requestAccessibilityAuth();
    getPermisstionState();
}
