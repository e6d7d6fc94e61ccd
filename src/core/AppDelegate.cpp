#include "core/AppDelegate.h"

#include "core/LGNLocalizedString.h"
#include "core/MMUserInfo.h"
#include "core/MMViewGeometry.h"
#include "core/Notifications.h"
#include "core/StorageCheck.h"
#include "core/WindowFrameAutosave.h"
#include "platform/AppPaths.h"
#include "platform/DesktopEntryInstaller.h"
#include "platform/Resources.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QMainWindow>
#include <QMouseEvent>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

const QString AppDelegate::kHomeWindowAutoSaveName = QStringLiteral("HomeWindowAutoSaveName");
const QString AppDelegate::kIconResource = QStringLiteral("images/Icon.png");
const QString AppDelegate::kLauncherId = QStringLiteral("pravik");

namespace {

AppDelegate* g_shared = nullptr;

const QString kLogFolder = QStringLiteral("Log");
const QString kLogFilePattern = QStringLiteral("log_%1.log");
const QString kLogHeaderPattern = QStringLiteral("Run log: %1\n\n");

// Lets the user drag the window by any part of its background.
class MoveByBackground : public QObject {
public:
    explicit MoveByBackground(QWidget* background)
        : QObject(background)
    {
        background->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonPress) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            auto* widget = qobject_cast<QWidget*>(watched);
            if (mouse->button() == Qt::LeftButton && widget && widget->window()->windowHandle())
                return widget->window()->windowHandle()->startSystemMove();
        }
        return QObject::eventFilter(watched, event);
    }
};

// Without a status area the closed window could never be opened again: the
// close ends the program instead.
class QuitOnClose : public QObject {
public:
    QuitOnClose(QWidget* window, AppDelegate* delegate)
        : QObject(window)
        , delegate_(delegate)
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Close && !delegate_->hasStatusArea()) {
            qInfo("The main window was closed and there is no system tray to reopen it from: PraVik quits");
            delegate_->exitApp();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    AppDelegate* delegate_;
};

} // namespace

AppDelegate::AppDelegate(std::unique_ptr<platform::StatusBar> statusBar, ControllerFactory makeController,
                         MMUserInfo& userInfo, platform::Preferences& defaults, platform::NotificationCenter& center)
    : statusBar_(std::move(statusBar))
    , makeController_(std::move(makeController))
    , userInfo_(userInfo)
    , defaults_(defaults)
    , center_(center)
    , window_(new QMainWindow())
{
    window_->setWindowTitle(QStringLiteral("PraVik"));
    const QString icon = platform::Resources::path(kIconResource);
    if (!icon.isEmpty())
        window_->setWindowIcon(QIcon(icon));
    new QuitOnClose(window_, this);
    qtTranslations_.apply(LGNLocalizedString::appInterfaceLanguage());
    languageObserver_ = center_.addObserver(notifications::kHadChangeUILanguage, [this](const auto&) {
        qtTranslations_.apply(LGNLocalizedString::appInterfaceLanguage());
    });
    g_shared = this;
}

AppDelegate::~AppDelegate()
{
    if (g_shared == this)
        g_shared = nullptr;
    homeVC_.reset();
    delete window_;
}

AppDelegate* AppDelegate::shared()
{
    return g_shared;
}

void AppDelegate::applicationDidFinishLaunching()
{
    if (redirectsLog_)
        redirectLogToFile();
    StorageCheck::checkFolders(
        {platform::AppPaths::documents(), platform::AppPaths::applicationSupport(), platform::AppPaths::preferences()});
    refreshLogObserver_ = center_.addObserver(notifications::kRefreshLog, [this](const auto&) { refreshLog(); });
    addStatusItem();

    const bool background = userInfo_.webConfig().backgroundMode() != 0;
    homeVC_ = makeController_ ? makeController_() : nullptr;
    if (homeVC_)
        homeVC_->setViewStartsHidden(background && hasStatusArea());
    // The first read of the view runs the controller's whole start-up.
    QWidget* view = homeVC_ ? homeVC_->view() : nullptr;
    auto* content = new QWidget();
    window_->setCentralWidget(content);
    window_->resize(view ? view->size() : QSize(0, 0));
    if (view) {
        // The view follows the window's size.
        auto* fill = new QVBoxLayout(content);
        fill->setContentsMargins(0, 0, 0, 0);
        fill->addWidget(view);
        view->show();
        new MoveByBackground(view);
    }

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = window_->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window_->move(frame.topLeft());
    }
    frameAutosave_ = new WindowFrameAutosave(window_, kHomeWindowAutoSaveName, defaults_);
    window_->setProperty("frameAutosaveName", kHomeWindowAutoSaveName);

    if (!hasStatusArea())
        qInfo("There is no system tray: closing the main window quits PraVik");
    if (background && hasStatusArea()) {
        hideApp(); // never shown: nothing is drawn for a window nobody sees
        return;
    }
    if (background)
        qInfo("Background mode is on, but without a system tray the window stays open");
    // Shown once its content is drawn, never as an empty panel.
    showWhenReady([window = window_] {
        if (window)
            window->show();
    });
}

bool AppDelegate::hasStatusArea() const
{
    return statusBar_ && statusBar_->isAvailable();
}

bool AppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows)
{
    if (!hasVisibleWindows)
        openApp();
    return true;
}

void AppDelegate::applicationWillTerminate()
{
    refreshLog();
}

void AppDelegate::addStatusItem()
{
    if (!statusBar_)
        return;
    auto item = statusBar_->newStatusItem();
    item->setHighlighted(true);
    const QString icon = platform::Resources::path(kIconResource);
    if (!icon.isEmpty())
        item->setIcon(QIcon(icon));
    item->setToolTip(QStringLiteral("PraVik"));
    item->setPrimaryAction([this] { openApp(); });
    item->setMenu({
        {LGNLocalizedString::lgnAppLocalizedString(QStringLiteral("打开主页")), QString(), [this] { openApp(); }},
        {LGNLocalizedString::lgnAppLocalizedString(QStringLiteral("退出")), QString(), [this] { exitApp(); }},
    });
    statusItem_ = std::move(item); // the item held before disappears
}

void AppDelegate::openApp()
{
    showWhenReady([window = window_] {
        if (window)
            MMViewGeometry::bringForward(*window);
    });
}

void AppDelegate::showWhenReady(std::function<void()> show)
{
    if (!homeVC_) {
        show();
        return;
    }
    stage();
    homeVC_->whenReadyToShow([this, show = std::move(show)] {
        reveal();
        show();
    });
}

bool AppDelegate::isWindowOnScreen() const
{
    return window_ && window_->isVisible() && !staged_;
}

void AppDelegate::stage()
{
    if (staged_ || window_->isVisible())
        return;
    staged_ = true;
    place_ = window_->pos();
    // The staged frame is no frame the user chose: the autosave must not
    // see it, nor store it.
    if (frameAutosave_)
        window_->removeEventFilter(frameAutosave_);
    // Beyond every screen; transparent too, for a window manager that pulls
    // windows back onto a screen (it composites, so it honours opacity).
    QRect desktop;
    for (const QScreen* screen : QGuiApplication::screens())
        desktop |= screen->geometry();
    window_->setAttribute(Qt::WA_ShowWithoutActivating, true);
    window_->setWindowOpacity(0.0);
    window_->move(desktop.right() + 1 + window_->width(), desktop.top());
    window_->show();
}

void AppDelegate::reveal()
{
    if (!staged_)
        return;
    staged_ = false;
    if (frameAutosave_)
        window_->installEventFilter(frameAutosave_);
    window_->move(place_);
    window_->setWindowOpacity(1.0);
    window_->setAttribute(Qt::WA_ShowWithoutActivating, false);
    if (window_->isVisible()) {
        window_->raise();
        window_->activateWindow(); // as a window shown at once would be
    }
}

void AppDelegate::hideApp()
{
    window_->hide();
}

void AppDelegate::exitApp()
{
    QCoreApplication::quit();
}

void AppDelegate::refreshLog()
{
    std::fflush(stdout);
    std::fflush(stderr);
}

QString AppDelegate::logFileName(const QDateTime& launchTime)
{
    // Calendar year ("yyyy"), fixed digits whatever the user's locale.
    return kLogFilePattern.arg(QLocale::c().toString(launchTime, QStringLiteral("yyyyMMdd_HHmmss")));
}

QString AppDelegate::logHeader(const QDateTime& launchTime)
{
    return kLogHeaderPattern.arg(QLocale::c().toString(launchTime, QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

bool AppDelegate::installDesktopLauncher(const QString& dataHome)
{
    using platform::DesktopEntryInstaller;
    const DesktopEntryInstaller::Launcher launcher{
        kLauncherId,
        QStringLiteral("PraVik"),
        QStringLiteral("Companion of the voice mouse: dictation, voice commands and translation"),
        QCoreApplication::applicationFilePath(),
        platform::Resources::path(kIconResource),
        {QStringLiteral("Utility")},
    };
    QString error;
    switch (DesktopEntryInstaller::install(launcher, dataHome, &error)) {
    case DesktopEntryInstaller::Result::UpToDate:
        return true;
    case DesktopEntryInstaller::Result::Installed:
        qInfo("Desktop launcher installed: %s", qUtf8Printable(DesktopEntryInstaller::entryPath(dataHome, kLauncherId)));
        return true;
    case DesktopEntryInstaller::Result::Failed:
        break;
    }
    qWarning("The desktop launcher could not be installed: %s", qUtf8Printable(error));
    return false;
}

QString AppDelegate::redirectLogToFile(const QDateTime& launchTime)
{
    const QString folder = platform::AppPaths::documents() + QLatin1Char('/') + kLogFolder;
    QDir().mkpath(folder); // a failure is not fatal: the program runs on without a log file
    const QString path = folder + QLatin1Char('/') + logFileName(launchTime);
    if (isatty(STDOUT_FILENO))
        return path;

    // One descriptor in append mode shared by both streams, so neither stream
    // overwrites the other's lines and a second launch in the same second
    // adds to the file instead of wiping it.
    std::fflush(stdout);
    std::fflush(stderr);
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return path;
    ::dup2(fd, STDERR_FILENO);
    ::dup2(fd, STDOUT_FILENO);
    ::close(fd);
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // whole lines reach the file even if the process dies
    const QByteArray header = logHeader(launchTime).toUtf8();
    std::fwrite(header.constData(), 1, size_t(header.size()), stdout);
    std::fflush(stdout);
    return path;
}
