#include "translate/SnipManager.h"

#include "core/LGNLocalizedString.h"
#include "core/MMUserInfo.h"
#include "core/Notifications.h"
#include "core/StringCoding.h"
#include "platform/DesktopWatch.h"
#include "platform/NotificationCenter.h"
#include "platform/Pasteboard.h"
#include "platform/Resources.h"
#include "platform/ScreenGrabber.h"
#include "platform/UserNotices.h"
#include "platform/WindowList.h"
#include "translate/RCSnipWindow.h"
#include "translate/RCSnipWindowController.h"
#include "translate/SnipUtil.h"

#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSaveFile>
#include <QScreen>
#include <QStandardPaths>

const QString SnipManager::kNotifyCaptureEnd = QStringLiteral("kNotifyCaptureEnd");
const QString SnipManager::kNotifyMouseLocationChange = QStringLiteral("kNotifyMouseLocationChange");
const QString SnipManager::kImageKey = QStringLiteral("image");
const QString SnipManager::kContextKey = QStringLiteral("context");
const QString SnipManager::kNotAvailableNoticeKey = QStringLiteral("screen-capture-not-available");
const QString SnipManager::kNotAvailableNotice
    = QStringLiteral("Screenshot translation is not available: this desktop session does not let "
                     "applications read the screen.");
const QString SnipManager::kSavePanelTitle = QStringLiteral("保存图片");
const QString SnipManager::kSavePanelMessage = QStringLiteral("选择图片保存地址");
const QString SnipManager::kProposedNameFormat = QStringLiteral("PK-%1.png");
const QString SnipManager::kImagesFolder = QStringLiteral("Images");
const QString SnipManager::kSnipFolderFormat = QStringLiteral("%1/snip");

namespace {

QString chooseSavePathInDialog(const QString& folder, const QString& proposedName)
{
    // The dialog's title carries both texts: it has no separate message line.
    return QFileDialog::getSaveFileName(nullptr,
        LGNLocalizedString::lgnAppLocalizedString(SnipManager::kSavePanelTitle) + QStringLiteral(" — ")
            + LGNLocalizedString::lgnAppLocalizedString(SnipManager::kSavePanelMessage),
        folder + QLatin1Char('/') + proposedName,
        LGNLocalizedString::lgnAppLocalizedString(QStringLiteral("图片 (*.png *.jpg)")));
}

} // namespace

SnipManager::SnipManager(platform::ScreenGrabber& grabber, platform::WindowList& windowList,
    platform::NotificationCenter& center, platform::Pasteboard& pasteboard, MMUserInfo& user,
    platform::DesktopWatch* desktopWatch)
    : grabber_(grabber)
    , windowList_(windowList)
    , center_(center)
    , pasteboard_(pasteboard)
    , user_(user)
    , desktopWatch_(desktopWatch)
    , savePathChooser_(chooseSavePathInDialog)
{
    if (desktopWatch_)
        desktopWatch_->setHandler([this] { screenChanged(); });
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app)
        return;
    auto watchScreen = [this](QScreen* screen) {
        connect(screen, &QScreen::geometryChanged, this, &SnipManager::screenChanged);
    };
    for (QScreen* screen : QGuiApplication::screens())
        watchScreen(screen);
    connect(app, &QGuiApplication::screenAdded, this, [this, watchScreen](QScreen* screen) {
        watchScreen(screen);
        screenChanged();
    });
    connect(app, &QGuiApplication::screenRemoved, this, &SnipManager::screenChanged);
}

SnipManager::~SnipManager()
{
    if (desktopWatch_)
        desktopWatch_->setHandler({});
    for (RCSnipWindowController* controller : controllers_)
        delete controller;
}

SnipManager& SnipManager::sharedInstance()
{
    static SnipManager* manager = new SnipManager(platform::ScreenGrabber::shared(),
        platform::WindowList::shared(), platform::NotificationCenter::defaultCenter(),
        platform::Pasteboard::shared(), MMUserInfo::sharedMMUserInfo(), &platform::DesktopWatch::shared());
    return *manager;
}

void SnipManager::startCapture()
{
    if (isWorking_)
        return;
    if (!grabber_.isAvailable()) {
        platform::UserNotices::shared().post(kNotAvailableNoticeKey, kNotAvailableNotice);
        return;
    }
    isWorking_ = true;
    // Read before any capture window exists, so it never lists them.
    arrayRect_.clear();
    screenAreas_ = SnipUtil::screenAreas(grabber_);
    for (const platform::WindowInfo& window : windowList_.windows())
        arrayRect_.append(WindowRect { SnipUtil::logicalRect(window.frame, screenAreas_), window.layer });
    const QList<QScreen*> screens = QGuiApplication::screens();
    for (QScreen* screen : screens) {
        auto* controller = new RCSnipWindowController(*this);
        controllers_.push_back(controller);
        captureState_ = Hover;
        controller->startCaptureWithScreen(screen);
    }
    // The keyboard goes to the capture so that Escape reaches it whichever
    // application had the focus.
    if (!controllers_.empty())
        controllers_.front()->takeKeyboard();
}

void SnipManager::endCapture(const QImage& image)
{
    if (!isWorking_)
        return;
    isWorking_ = false;
    clearController();
    if (!image.isNull()) {
        center_.post(kNotifyCaptureEnd, {}, QVariantMap { { kImageKey, image } });
    } else {
        center_.post(kNotifyCaptureEnd);
        center_.post(notifications::kHadCancelSnipTrans);
    }
}

void SnipManager::screenChanged()
{
    if (isWorking_)
        endCapture({});
    idleWindows_.clear();
}

QRect SnipManager::screenArea(const QScreen* screen) const
{
    for (const SnipUtil::ScreenArea& area : screenAreas_) {
        if (area.screen == screen)
            return area.devicePixels;
    }
    return {};
}

std::unique_ptr<RCSnipWindow> SnipManager::takeWindow(QScreen* screen, MouseEventProtocol& delegate)
{
    const auto idle = idleWindows_.find(screen);
    if (idle == idleWindows_.end())
        return std::make_unique<RCSnipWindow>(delegate);
    std::unique_ptr<RCSnipWindow> window = std::move(idle->second);
    idleWindows_.erase(idle);
    window->setDelegate(delegate);
    return window;
}

void SnipManager::keepWindow(QScreen* screen, std::unique_ptr<RCSnipWindow> window)
{
    idleWindows_[screen] = std::move(window);
}

void SnipManager::clearController()
{
    for (RCSnipWindowController* controller : controllers_) {
        controller->close();
        controller->deleteLater();
    }
    controllers_.clear();
}

QImage SnipManager::getImageFromResource(const QString& name) const
{
    const QString path = platform::Resources::path(kImagesFolder + QLatin1Char('/') + name);
    return path.isEmpty() ? QImage() : QImage(path);
}

bool SnipManager::exportImage(const QImage& image)
{
    QString folder = user_.snipImgPath();
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    const QString proposed = kProposedNameFormat.arg(StringCoding::uw_getCurrentDateString());
    const QString path = savePathChooser_ ? savePathChooser_(folder, proposed) : QString();
    if (path.isEmpty() || image.isNull())
        return false;
    const QString suffix = QFileInfo(path).suffix().toLower();
    const char* format
        = (suffix == QLatin1StringView("jpg") || suffix == QLatin1StringView("jpeg")) ? "JPEG" : "PNG";
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, format) || !file.commit()) {
        qWarning() << "The picture could not be saved to" << path;
        return false;
    }
    user_.setSnipImgPath(QFileInfo(path).absolutePath());
    return true;
}

QString SnipManager::checkSnipFolder(const QString& folder)
{
    const QString snip = kSnipFolderFormat.arg(folder);
    if (!QDir().mkpath(folder) || !QDir().mkpath(snip)) {
        qWarning() << "The folder" << snip << "could not be made";
        return {};
    }
    return snip;
}

QString SnipManager::getExportPath()
{
    if (exportPath_.isEmpty())
        exportPath_ = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return checkSnipFolder(exportPath_);
}
