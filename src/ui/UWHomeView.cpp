#include "ui/UWHomeView.h"

#include "core/AppDelegate.h"
#include "core/AppStyle.h"
#include "core/LGNLocalizedString.h"
#include "core/MMUserInfo.h"
#include "ui/IndicatorImage.h"
#include "platform/UserNotices.h"
#include "ui/NoticeArea.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QPointer>
#include <QPushButton>
#include <QStackedLayout>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

namespace home_view {

// The menu's rows, in the order of the pages they open (lookup keys).
const QString kMenuKeys[UWHomeView::kMenuRows] = { QStringLiteral("鼠标设置"), QStringLiteral("AI智能设置"),
    QStringLiteral("自定义指令"), QStringLiteral("语音指令设置"), QStringLiteral("软件设置") };
const QString kTipButton = QStringLiteral("立即授权");
// The connection as the status box names it.
const QString kUsbReceiver = QStringLiteral("USB 接收器");
const QString kBluetooth = QStringLiteral("蓝牙");
const QString kNotConnected = QStringLiteral("未连接鼠标");
const QString kConnectedBy = QStringLiteral("鼠标已通过%@连接");
const QString kManual = QStringLiteral("使用手册");
const QString kMinimise = QStringLiteral("最小化");
const QString kClose = QStringLiteral("关闭");
const QString kSearching = QStringLiteral("检索中");
const QString kVersion = QStringLiteral("版本号");
const QString kBatteryLevel = QStringLiteral("电量 %@");
// The window buttons keep the key of their tip, so a language change finds it.
const char* const kTipKeyProperty = "toolTipKey";
// Link modes the device links post: the two Bluetooth links, the receiver.
constexpr qlonglong kBluetoothModes[] = { 2, 3 };
constexpr qlonglong kUsbReceiverMode = 4;

// The words for a link mode, empty when no mouse is linked.
QString connectWords(qlonglong mode)
{
    if (mode == kUsbReceiverMode)
        return LGNLocalizedString::lgnAppLocalizedString(kUsbReceiver);
    if (std::find(std::begin(kBluetoothModes), std::end(kBluetoothModes), mode) != std::end(kBluetoothModes))
        return LGNLocalizedString::lgnAppLocalizedString(kBluetooth);
    return QString();
}

// "Version: 1.0.0"; a build number is added only when it says something more.
QString versionLine(const QString& version, const QString& build)
{
    QString line = QStringLiteral("%1: %2").arg(LGNLocalizedString::lgnAppLocalizedString(kVersion), version);
    if (!build.isEmpty() && build != version)
        line += QStringLiteral(" (%1)").arg(build);
    return line;
}

// The words beside the battery picture; none while no level is known.
QString batteryWords(const QString& percentage)
{
    return percentage.isEmpty()
        ? QString()
        : LGNLocalizedString::lgnAppLocalizedString(kBatteryLevel).replace(QStringLiteral("%@"), percentage);
}

// The window the view fills, for its own buttons; none in tests without one.
QMainWindow* mainWindow()
{
    AppDelegate* delegate = AppDelegate::shared();
    return delegate ? delegate->window() : nullptr;
}

const char* const kStyle = R"CSS(
#homeRoot { background: #eef1f6; }
#leftColumn { background: #1e2431; }
#appTitle { color: #ffffff; font-size: 18px; font-weight: 600; padding: 4px 6px; }
#leftMenu { background: transparent; border: none; color: #c9d1e2; font-size: 14px; outline: 0; }
#leftMenu::item { padding: 10px 12px; border-radius: 8px; margin: 2px 0; }
#leftMenu::item:hover { background: #2a3244; }
#leftMenu::item:selected { background: #3b6df2; color: #ffffff; }
#statusBox { background: #262e3f; border-radius: 10px; }
#statusText { color: #c9d1e2; font-size: 12px; }
#versionLine { color: #7f8aa3; font-size: 11px; }
#tipBar { background: #fff4e0; border: 1px solid #f3c98b; border-radius: 5px; }
#tipText { color: #8a5a14; }
#tipButton { background: #f0a030; color: #ffffff; border: none; border-radius: 4px; padding: 4px 12px; }
#rightPanel { background: #ffffff; border-radius: 7px; }
#windowButton { border: none; color: #5b6478; font-size: 15px; padding: 2px 8px; }
#windowButton:hover { background: #e3e7ef; border-radius: 4px; }
#loadingView { background: rgba(255, 255, 255, 200); border-radius: 5px; }
#loadingText { color: #3b4357; font-size: 14px; }
)CSS";

} // namespace home_view

UWHomeView::UWHomeView(Actions actions, QWidget* parent)
    : QWidget(parent)
    , actions_(std::move(actions))
{
    setObjectName(QStringLiteral("homeRoot"));
    setFont(AppStyle::font());
    // The family named in the sheet too: once the view is put into the main
    // window, a style sheet resolves its children's fonts without the view's.
    setStyleSheet(QStringLiteral("QWidget { font-family: \"%1\"; }").arg(AppStyle::font().family())
        + QString::fromUtf8(home_view::kStyle));
    setMinimumSize(kMinimumSize);
    resize(kStartSize);
    auto* root = new QHBoxLayout(this);
    root->setContentsMargins(0, 0, 12, 12);
    root->setSpacing(12);
    root->addWidget(buildLeftColumn());

    auto* right = new QVBoxLayout();
    right->setContentsMargins(0, 6, 0, 0);
    right->setSpacing(8);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    QPushButton* manual = windowButton(QStringLiteral("?"), home_view::kManual);
    QPushButton* minimise = windowButton(QStringLiteral("–"), home_view::kMinimise);
    QPushButton* close = windowButton(QStringLiteral("×"), home_view::kClose);
    buttons->addWidget(manual);
    buttons->addWidget(minimise);
    buttons->addWidget(close);
    right->addLayout(buttons);
    connect(close, &QPushButton::clicked, this, [] {
        if (QMainWindow* window = home_view::mainWindow())
            window->close();
    });
    connect(minimise, &QPushButton::clicked, this, [] {
        if (QMainWindow* window = home_view::mainWindow())
            window->showMinimized();
    });
    connect(manual, &QPushButton::clicked, this, [this] {
        if (actions_.manual)
            actions_.manual();
    });

    notices_ = new NoticeArea(this);
    right->addWidget(notices_);

    tipBar_ = new QWidget(this);
    tipBar_->setObjectName(QStringLiteral("tipBar"));
    tipBar_->setAttribute(Qt::WA_StyledBackground);
    auto* tipLayout = new QHBoxLayout(tipBar_);
    tipLayout->setContentsMargins(12, 6, 8, 6);
    tipLabel_ = new QLabel(tipBar_);
    tipLabel_->setObjectName(QStringLiteral("tipText"));
    tipLabel_->setWordWrap(true);
    tipButton_ = new QPushButton(tipBar_);
    tipButton_->setObjectName(QStringLiteral("tipButton"));
    tipButton_->setCursor(Qt::PointingHandCursor);
    tipLayout->addWidget(tipLabel_, 1);
    tipLayout->addWidget(tipButton_);
    connect(tipButton_, &QPushButton::clicked, this, [this] {
        if (actions_.tipButton)
            actions_.tipButton();
    });
    tipBar_->hide();
    right->addWidget(tipBar_);

    pageArea_ = new QWidget(this);
    pageArea_->setObjectName(QStringLiteral("rightPanel"));
    pageArea_->setAttribute(Qt::WA_StyledBackground);
    auto* stack = new QStackedLayout(pageArea_);
    stack->setStackingMode(QStackedLayout::StackAll);
    right->addWidget(pageArea_, 1);
    root->addLayout(right, 1);

    // The overlay lies over the page and takes its clicks while shown.
    loadingView_ = new QWidget(pageArea_);
    loadingView_->setObjectName(QStringLiteral("loadingView"));
    loadingView_->setAttribute(Qt::WA_StyledBackground);
    auto* loadingLayout = new QVBoxLayout(loadingView_);
    loadingText_ = new QLabel(loadingView_);
    loadingText_->setObjectName(QStringLiteral("loadingText"));
    loadingText_->setAlignment(Qt::AlignCenter);
    loadingLayout->addWidget(loadingText_);
    stack->addWidget(loadingView_);
    loadingView_->hide();

    retranslate();
    showLink(0);
    showNoBattery();
    showUserNotices();
    connect(menu_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && actions_.menuRowChosen)
            actions_.menuRowChosen(row);
    });
    // A click on the empty space below the entries clears the list's
    // selection; the page shown has not changed, so neither does the mark.
    connect(menu_, &QListWidget::itemSelectionChanged, this, [this] {
        if (menu_->selectedItems().isEmpty()) {
            if (QListWidgetItem* item = menu_->item(markedRow_))
                item->setSelected(true);
        }
    });
}

UWHomeView::~UWHomeView()
{
    platform::UserNotices::shared().setListener(nullptr);
}

void UWHomeView::showUserNotices()
{
    platform::UserNotices& notices = platform::UserNotices::shared();
    // A notice may be posted on any thread; the strip takes it on the main one.
    QPointer<NoticeArea> area = notices_;
    notices.setListener([area](const platform::UserNotices::Notice& notice) {
        QMetaObject::invokeMethod(QCoreApplication::instance(), [area, notice] {
            if (area)
                area->addNotice(notice.key, notice.text);
        });
    });
    for (const auto& notice : notices.pending())
        notices_->addNotice(notice.key, notice.text);
}

QWidget* UWHomeView::buildLeftColumn()
{
    auto* left = new QWidget(this);
    left->setObjectName(QStringLiteral("leftColumn"));
    left->setAttribute(Qt::WA_StyledBackground);
    left->setFixedWidth(256);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(14, 18, 14, 14);
    leftLayout->setSpacing(10);
    auto* title = new QLabel(QStringLiteral("PraVik"), left);
    title->setObjectName(QStringLiteral("appTitle"));
    leftLayout->addWidget(title);
    menu_ = new QListWidget(left);
    menu_->setObjectName(QStringLiteral("leftMenu"));
    // Tab reaches the menu and the arrow keys move through it.
    menu_->setFocusPolicy(Qt::StrongFocus);
    menu_->setSelectionMode(QAbstractItemView::SingleSelection);
    menu_->setCursor(Qt::PointingHandCursor);
    menu_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    menu_->setWordWrap(true); // long titles wrap rather than lose their end
    leftLayout->addWidget(menu_, 1);

    statusBox_ = new QWidget(left);
    statusBox_->setObjectName(QStringLiteral("statusBox"));
    statusBox_->setAttribute(Qt::WA_StyledBackground);
    auto* statusLayout = new QHBoxLayout(statusBox_);
    statusLayout->setContentsMargins(12, 10, 12, 10);
    connectImageLabel_ = new QLabel(statusBox_);
    connectImageLabel_->setObjectName(QStringLiteral("connectImage"));
    connectLabel_ = new QLabel(statusBox_);
    connectLabel_->setObjectName(QStringLiteral("statusText"));
    batteryImageLabel_ = new QLabel(statusBox_);
    batteryLabel_ = new QLabel(statusBox_);
    batteryLabel_->setObjectName(QStringLiteral("statusText"));
    statusLayout->addWidget(connectImageLabel_);
    statusLayout->addWidget(connectLabel_, 1);
    statusLayout->addWidget(batteryImageLabel_);
    statusLayout->addWidget(batteryLabel_);
    leftLayout->addWidget(statusBox_);
    versionLabel_ = new QLabel(left);
    versionLabel_->setObjectName(QStringLiteral("versionLine"));
    versionLabel_->setWordWrap(true);
    leftLayout->addWidget(versionLabel_);
    return left;
}

QPushButton* UWHomeView::windowButton(const QString& text, const QString& tipKey)
{
    auto* button = new QPushButton(text, this);
    button->setObjectName(QStringLiteral("windowButton"));
    button->setProperty(home_view::kTipKeyProperty, tipKey);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

void UWHomeView::retranslate()
{
    {
        const QSignalBlocker quiet(menu_);
        menu_->clear();
        for (const QString& key : home_view::kMenuKeys)
            menu_->addItem(LGNLocalizedString::lgnAppLocalizedString(key));
        menu_->setCurrentRow(markedRow_);
    }
    versionLabel_->setText(
        home_view::versionLine(MMUserInfo::myVersion(), QCoreApplication::applicationVersion()));
    for (QPushButton* button : findChildren<QPushButton*>()) {
        const QString key = button->property(home_view::kTipKeyProperty).toString();
        if (!key.isEmpty())
            button->setToolTip(LGNLocalizedString::lgnAppLocalizedString(key));
    }
    notices_->retranslate();
    retranslateStatus();
    tipLabel_->setText(tipKey_.isEmpty() ? QString() : LGNLocalizedString::lgnAppLocalizedString(tipKey_));
    tipButton_->setText(LGNLocalizedString::lgnAppLocalizedString(home_view::kTipButton));
}

void UWHomeView::retranslateStatus()
{
    const QString words = home_view::connectWords(linkMode_);
    connectLabel_->setText(
        words.isEmpty() ? LGNLocalizedString::lgnAppLocalizedString(home_view::kNotConnected) : words);
    statusBox_->setToolTip(words.isEmpty()
            ? LGNLocalizedString::lgnAppLocalizedString(home_view::kNotConnected)
            : LGNLocalizedString::lgnAppLocalizedString(home_view::kConnectedBy)
                  .replace(QStringLiteral("%@"), words));
    batteryLabel_->setText(home_view::batteryWords(batteryPercentage_));
}

void UWHomeView::markRow(int row)
{
    markedRow_ = row;
    if (menu_->currentRow() != row) {
        const QSignalBlocker quiet(menu_);
        menu_->setCurrentRow(row);
    }
}

void UWHomeView::setIndicator(QLabel* label, QString* nameField, const QString& name)
{
    *nameField = name;
    label->setPixmap(IndicatorImage::imageNamed(name, label->devicePixelRatioF()));
}

void UWHomeView::showLink(qlonglong mode)
{
    linkMode_ = mode;
    setIndicator(connectImageLabel_, &connectImage_, QStringLiteral("connect_mode%1").arg(mode));
    retranslateStatus();
}

void UWHomeView::showBattery(float percent, const QString& percentage)
{
    setIndicator(batteryImageLabel_, &batteryImage_,
        QStringLiteral("battery%1").arg(IndicatorImage::batteryLevel(percent)));
    batteryPercentage_ = percentage;
    retranslateStatus();
}

void UWHomeView::showNoBattery()
{
    setIndicator(batteryImageLabel_, &batteryImage_, QStringLiteral("disconnected"));
    batteryPercentage_.clear();
    retranslateStatus();
}

void UWHomeView::showTip(const QString& key)
{
    tipKey_ = key;
    tipLabel_->setText(key.isEmpty() ? QString() : LGNLocalizedString::lgnAppLocalizedString(key));
    tipBar_->setVisible(!key.isEmpty());
}

void UWHomeView::showLoading()
{
    loadingView_->show();
    loadingView_->raise();
}

void UWHomeView::hideLoading()
{
    loadingView_->hide();
}

void UWHomeView::showSearchProgress(qlonglong found)
{
    loadingText_->setText(QStringLiteral("%1.. %2")
                              .arg(LGNLocalizedString::lgnAppLocalizedString(home_view::kSearching))
                              .arg(found));
}

QWidget* UWHomeView::pageArea() const
{
    return pageArea_;
}

void UWHomeView::addPage(QWidget* page)
{
    static_cast<QStackedLayout*>(pageArea_->layout())->addWidget(page);
    if (loadingViewVisible())
        loadingView_->raise();
}

QString UWHomeView::connectText() const
{
    return connectLabel_->text();
}

QString UWHomeView::batteryText() const
{
    return batteryLabel_->text();
}

QString UWHomeView::statusToolTip() const
{
    return statusBox_->toolTip();
}

QString UWHomeView::versionText() const
{
    return versionLabel_->text();
}

QStringList UWHomeView::menuTitles() const
{
    QStringList titles;
    for (int i = 0; i < menu_->count(); ++i)
        titles << menu_->item(i)->text();
    return titles;
}

QString UWHomeView::tipText() const
{
    return tipBarVisible() ? tipLabel_->text() : QString();
}

bool UWHomeView::tipBarVisible() const
{
    return !tipBar_->isHidden();
}

bool UWHomeView::loadingViewVisible() const
{
    return !loadingView_->isHidden();
}

QString UWHomeView::loadingText() const
{
    return loadingText_->text();
}
