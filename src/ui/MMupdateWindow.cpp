#include "ui/MMupdateWindow.h"

#include "core/AppStyle.h"
#include "core/LGNLocalizedString.h"
#include "core/MMUserInfo.h"
#include "core/Notifications.h"
#include "voice/UWCmdService.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>

namespace update_window {

const QString kTitleKey = QStringLiteral("版本更新");
// A label and its value are joined in the table, as each language writes
// them: only Chinese uses the full-width colon.
const QString kLatestKey = QStringLiteral("最新版本：%1");
const QString kCurrentKey = QStringLiteral("当前版本：%1");
const QString kHintKey = QStringLiteral("点击跳过之后可以从设置页重新检测更新。");
const QString kSkipKey = QStringLiteral("跳过此版本");
const QString kDownloadKey = QStringLiteral("下载");

} // namespace update_window

MMupdateWindow::MMupdateWindow(QWidget* parent)
    : MMupdateWindow(MMUserInfo::sharedMMUserInfo(), UWCmdService::sharedUWCmdService(), parent)
{
}

MMupdateWindow::MMupdateWindow(MMUserInfo& user, UWCmdService& commands, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , user_(user)
    , commands_(commands)
{
    setObjectName(QStringLiteral("MMupdateWindow"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    AppStyle::applyTo(this);
    titleLb_ = new QLabel(this);
    titleLb_->setTextFormat(Qt::PlainText);
    titleLb_->setProperty("role", QStringLiteral("title"));
    infoTF_ = new QLabel(this);
    infoTF_->setTextFormat(Qt::PlainText);
    infoTF_->setWordWrap(true);
    jumpButton_ = new QPushButton(this);
    donwLoadButton_ = new QPushButton(this);
    donwLoadButton_->setDefault(true);
    jumpButton_->setProperty("tag", kJumpTag);
    donwLoadButton_->setProperty("tag", kDownloadTag);
    for (QPushButton* button : { jumpButton_, donwLoadButton_ })
        connect(button, &QPushButton::clicked, this, [this, button] { action(button->property("tag").toInt()); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(jumpButton_);
    buttons->addWidget(donwLoadButton_);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(AppStyle::kMargin, AppStyle::kMargin - 4, AppStyle::kMargin, AppStyle::kMargin - 6);
    column->setSpacing(AppStyle::kSpacing);
    column->addWidget(titleLb_);
    column->addWidget(infoTF_);
    column->addStretch();
    column->addLayout(buttons);
    setFixedSize(420, 200);

    init_uidata();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    languageObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
        notifications::kHadChangeUILanguage, [this](const platform::Notification&) { reloadUI(); });
}

void MMupdateWindow::init_uidata()
{
    setWindowTitle(LGNLocalizedString::lgnAppLocalizedString(update_window::kTitleKey));
    titleLb_->setText(LGNLocalizedString::lgnAppLocalizedString(update_window::kLatestKey).arg(user_.neewVersion()) + u'\n'
        + LGNLocalizedString::lgnAppLocalizedString(update_window::kCurrentKey).arg(MMUserInfo::myVersion()));
    infoTF_->setText(QStringLiteral("%1\n%2").arg(QString(), LGNLocalizedString::lgnAppLocalizedString(update_window::kHintKey)));
    jumpButton_->setText(LGNLocalizedString::lgnAppLocalizedString(update_window::kSkipKey));
    donwLoadButton_->setText(LGNLocalizedString::lgnAppLocalizedString(update_window::kDownloadKey));
}

void MMupdateWindow::reloadUI()
{
    init_uidata();
}

void MMupdateWindow::action(int tag)
{
    if (tag == kDownloadTag) {
        // The address comes from the back end: only an http(s) address with
        // a host is opened, nothing the desktop would run or read locally.
        const QUrl address(user_.updateURL(), QUrl::StrictMode);
        const bool web = (address.scheme() == QLatin1String("https") || address.scheme() == QLatin1String("http"))
            && !address.host().isEmpty();
        if (!web || !commands_.openFileWithCmdPath(user_.updateURL(), QString()))
            qWarning("MMupdateWindow: the download address \"%s\" cannot be opened",
                qPrintable(user_.updateURL()));
    } else if (tag == kJumpTag) {
        user_.setJumpVersion(user_.neewVersion());
        close();
    }
}
