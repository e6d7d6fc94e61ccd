#include "ui/MMpermiWC.h"

#include "core/AppStyle.h"
#include "core/LGNLocalizedString.h"
#include "core/Notifications.h"
#include "device/MMpermissionCheck.h"
#include "platform/Executor.h"
#include "platform/Resources.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

const QString MMpermiWC::kInputHowTo
    = QStringLiteral("让你的用户可以使用接收器和按键：在终端运行下面的命令，然后拔下接收器再插上。");
const QString MMpermiWC::kScreenHowTo = QStringLiteral(
    "此会话不允许读取屏幕。请在登录界面选择 X11（Xorg）会话，或使用提供截图门户（xdg-desktop-portal）的桌面。");
const QString MMpermiWC::kBluetoothHowTo
    = QStringLiteral("接入蓝牙适配器并启动蓝牙服务；鼠标配对后即可通过蓝牙使用：");

namespace guide {

constexpr double kPollInterval = 1.0;

const QString kOptional = QStringLiteral("可选");
const QString kClose = QStringLiteral("关闭");
const QString kRulesFile = QStringLiteral("udev/70-pravik.rules");
// The button of a row says what it does: input access the application can
// take itself once the system allows it; Bluetooth and screen capture it can
// only look for again after the user has set them up.
const QString kEnable = QStringLiteral("启用");
const QString kCheckAgain = QStringLiteral("重新检查");

const QString& actionText(size_t row)
{
    return row == 0 ? kEnable : kCheckAgain;
}

// What the button found, by row: there now, or why it is still missing.
const QString& availableText(size_t row)
{
    static const QString enabled = QStringLiteral("已启用。");
    static const QString available = QStringLiteral("现在可以使用了。");
    return row == 0 ? enabled : available;
}

const QString& notAddedText(size_t row)
{
    static const QString texts[] = {
        QStringLiteral("仍然无法使用输入设备：请在终端运行上面的命令，然后拔下接收器再插上。"),
        QStringLiteral("仍然没有找到蓝牙适配器，或蓝牙服务没有运行。请按上面的说明操作，然后重新检查。"),
        QStringLiteral(
            "此会话仍然不允许读取屏幕，PraVik 无法自行更改：这由桌面会话决定。请按上面的说明操作。"),
    };
    return texts[row];
}

struct RowText {
    QString title, subTitle, howTo;
    bool optional;
};

// Rows in the order the guide lists them.
const std::vector<RowText>& rowTexts()
{
    static const std::vector<RowText> rows {
        // Input-device access stands where other desktops ask for accessibility.
        { QStringLiteral("输入设备"), QStringLiteral("鼠标的接收器和语音、翻译、AI 三个按键需要它"),
            MMpermiWC::kInputHowTo, false },
        { QStringLiteral("蓝牙"), QStringLiteral("不用接收器，通过蓝牙连接鼠标"), MMpermiWC::kBluetoothHowTo,
            true },
        { QStringLiteral("屏幕截取"), QStringLiteral("用于截图翻译和划词翻译"), MMpermiWC::kScreenHowTo, true },
    };
    return rows;
}

// The commands a row's how-to asks for, one per line; each line is shown
// whole, never broken, so it can be copied as it is.
QString command(size_t row)
{
    if (row == 0) {
        QString rules = platform::Resources::path(kRulesFile);
        if (rules.isEmpty())
            rules = platform::Resources::root() + u'/' + kRulesFile;
        return QStringLiteral("sudo install -m 644 %1 /etc/udev/rules.d/\n"
                              "sudo udevadm control --reload && sudo udevadm trigger")
            .arg(rules);
    }
    if (row == 1)
        return QStringLiteral("sudo systemctl enable --now bluetooth");
    return QString();
}

} // namespace guide

MMpermiWC::MMpermiWC(CheckFactory makeCheck, platform::Executor& executor,
    platform::NotificationCenter& center, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , makeCheck_(std::move(makeCheck))
    , executor_(executor)
    , center_(center)
{
    AppStyle::applyTo(this);
    setStyleSheet(AppStyle::windowStyleSheet() + QStringLiteral("QWidget#permissionRow { background: #f4f6fa; border-radius: 10px; }"
                                 "QLabel#rowTitle { font-size: 15px; font-weight: 600; color: #1e2431; }"
                                 "QLabel#rowOptional { color: #5b6478; border: 1px solid #b8c0d0; "
                                 "border-radius: 4px; padding: 0 5px; }"
                                 "QLabel#rowSub, QLabel#rowHowTo { color: #5b6478; }"
                                 "QLabel#rowCommand { background: #1e2431; color: #e8ecf4; border-radius: 4px; "
                                 "padding: 6px 8px; }"
                                 "QLabel#rowGranted { color: #2e9e62; font-size: 18px; }"
                                 "QLabel#rowResult { color: #a04a00; }"
                                 "QLabel#rowResult[added=\"true\"] { color: #2e9e62; }"
                                 "QWidget#permissionRow QPushButton { background: #3b6df2; color: white; }"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 24);
    layout->setSpacing(16);
    titleLable_ = new QLabel(this);
    titleLable_->setWordWrap(true);
    layout->addWidget(titleLable_);
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    for (int i = 0; i < 3; ++i) {
        auto* box = new QWidget(this);
        box->setObjectName(QStringLiteral("permissionRow"));
        box->setAttribute(Qt::WA_StyledBackground);
        auto* grid = new QGridLayout(box);
        grid->setContentsMargins(16, 12, 16, 12);
        Row row { new QLabel(box), new QLabel(box), new QLabel(box), new QLabel(box), new QLabel(box),
            new QLabel(box), new QPushButton(box), new QLabel(box), false, false, QString() };
        row.result->setObjectName(QStringLiteral("rowResult"));
        row.result->setWordWrap(true);
        row.result->hide();
        row.title->setObjectName(QStringLiteral("rowTitle"));
        row.optional->setObjectName(QStringLiteral("rowOptional"));
        row.optional->setVisible(guide::rowTexts().at(size_t(i)).optional);
        row.subTitle->setObjectName(QStringLiteral("rowSub"));
        row.subTitle->setWordWrap(true);
        row.howTo->setObjectName(QStringLiteral("rowHowTo"));
        row.howTo->setWordWrap(true);
        row.howTo->setTextInteractionFlags(Qt::TextSelectableByMouse);
        row.command->setObjectName(QStringLiteral("rowCommand"));
        row.command->setFont(fixed);
        row.command->setWordWrap(false); // a command is copied whole: never broken
        row.command->setTextInteractionFlags(Qt::TextSelectableByMouse);
        row.command->setText(guide::command(size_t(i)));
        row.state->setObjectName(QStringLiteral("rowGranted"));
        row.state->setText(QStringLiteral("✓"));
        auto* heading = new QHBoxLayout();
        heading->setSpacing(8);
        heading->addWidget(row.title);
        heading->addWidget(row.optional);
        heading->addStretch(1);
        grid->addLayout(heading, 0, 0);
        grid->addWidget(row.subTitle, 1, 0);
        grid->addWidget(row.howTo, 2, 0, 1, 2);
        grid->addWidget(row.command, 3, 0, 1, 2);
        grid->addWidget(row.result, 4, 0, 1, 2);
        grid->addWidget(row.state, 0, 1, 2, 1, Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(row.addBtn, 0, 1, 2, 1, Qt::AlignRight | Qt::AlignVCenter);
        grid->setColumnStretch(0, 1);
        QObject::connect(row.addBtn, &QPushButton::clicked, this, [this, i] { addBtnAction(i); });
        rows_.push_back(row);
        layout->addWidget(box);
    }
    layout->addStretch(1);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    closeBtn_ = new QPushButton(this);
    buttons->addWidget(closeBtn_);
    layout->addLayout(buttons);
    QObject::connect(closeBtn_, &QPushButton::clicked, this, &QWidget::close);
    resize(640, 600);
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
    setWindowTitle(LGNLocalizedString::lgnAppLocalizedString(QStringLiteral("权限管理")));
    titleLable_->setText(LGNLocalizedString::lgnAppLocalizedString(
        QStringLiteral("请授权PraVik所需要的权限，以使用听写翻译功能。")));
    for (size_t i = 0; i < rows_.size(); ++i) {
        const guide::RowText& text = guide::rowTexts().at(i);
        rows_[i].title->setText(LGNLocalizedString::lgnAppLocalizedString(text.title));
        rows_[i].optional->setText(LGNLocalizedString::lgnAppLocalizedString(guide::kOptional));
        rows_[i].subTitle->setText(LGNLocalizedString::lgnAppLocalizedString(text.subTitle));
        rows_[i].howTo->setText(LGNLocalizedString::lgnAppLocalizedString(text.howTo));
        rows_[i].addBtn->setText(LGNLocalizedString::lgnAppLocalizedString(guide::actionText(i)));
        rows_[i].result->setText(rows_[i].resultKey.isEmpty() ? QString() : LGNLocalizedString::lgnAppLocalizedString(rows_[i].resultKey));
    }
    closeBtn_->setText(LGNLocalizedString::lgnAppLocalizedString(guide::kClose));
}

void MMpermiWC::reloadRows()
{
    for (Row& row : rows_) {
        row.addBtn->setVisible(!row.granted);
        row.howTo->setVisible(!row.granted);
        row.command->setVisible(!row.granted && !row.command->text().isEmpty());
        row.state->setVisible(row.granted);
        row.result->setVisible(!row.resultKey.isEmpty());
    }
}

std::vector<bool> MMpermiWC::rowsGranted() const
{
    std::vector<bool> granted;
    for (const Row& row : rows_)
        granted.push_back(row.granted);
    return granted;
}

MMpermiWC::RowView MMpermiWC::rowView(int row) const
{
    if (row < 0 || size_t(row) >= rows_.size())
        return {};
    const Row& r = rows_[size_t(row)];
    return { r.title->text(), r.subTitle->text(), r.howTo->text(), r.command->text(),
        r.resultKey.isEmpty() ? QString() : r.result->text(), r.addBtn->text(), !r.optional->isHidden() };
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
    auto probes = std::make_shared<int>(0);
    check_->permissionCheckCallback([this, weak, probes](bool) {
        const std::shared_ptr<MMpermissionCheck> check = weak.lock();
        if (!check || ++*probes < 3)
            return;
        // Input access counts once the mouse's keys are really taken.
        rows_[0].granted = check->permissionOfAccessibility() && check->keysTaken();
        rows_[1].granted = check->permissionOfBluetooth();
        rows_[2].granted = check->permissionOfcScreen();
        for (size_t i = 0; i < rows_.size(); ++i) {
            Row& row = rows_[i];
            if (!row.added)
                continue;
            row.added = false;
            row.resultKey = row.granted ? guide::availableText(i) : guide::notAddedText(i);
            row.result->setText(LGNLocalizedString::lgnAppLocalizedString(row.resultKey));
            row.result->setProperty("added", row.granted);
            row.result->style()->unpolish(row.result);
            row.result->style()->polish(row.result);
        }
        reloadRows();
        if (rows_[0].granted && !mouseReadyPosted_) {
            // Once: the rest of the application starts what waited for it.
            mouseReadyPosted_ = true;
            center_.post(notifications::kHadPermissinAllAccept);
        }
        if (rows_[0].granted && rows_[1].granted && rows_[2].granted)
            polling_ = false;
    });
}

void MMpermiWC::addBtnAction(int row)
{
    if (!check_ || row < 0 || row > 2)
        return;
    rows_[size_t(row)].added = true;
    if (row == 0)
        check_->requestAccessibilityAuth();
    getPermisstionState();
}
