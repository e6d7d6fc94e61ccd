#pragma once

#include "translate/SnipUtil.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QRectF>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <vector>

class MMUserInfo;
class MouseEventProtocol;
class QScreen;
class RCSnipWindow;
class RCSnipWindowController;

namespace platform {
class DesktopWatch;
class NotificationCenter;
class Pasteboard;
class ScreenGrabber;
class WindowList;
} // namespace platform

// Runs one capture session at a time: a capture window per screen, the
// state all of them share, the end of the session on every screen at once,
// and the picture handed to whoever started it. Main thread only.
class SnipManager : public QObject {
    Q_OBJECT
public:
    // The capture state shared by the windows of all screens.
    enum CaptureState : qint64 { Hover = 1, Pressed = 2, Dragging = 3, AreaSet = 4, Annotating = 5 };

    // A window on screen when the session started, in logical coordinates.
    struct WindowRect {
        QRectF frame;
        int layer = 0;
    };

    // Receives the picture of the translate action; a null image when the
    // area gave none.
    using SnipCallback = std::function<void(const QImage& image)>;
    // Asks the user where to save a picture: the folder to start in and the
    // proposed file name; an empty answer means the user cancelled.
    using SavePathChooser = std::function<QString(const QString& folder, const QString& proposedName)>;

    static const QString kNotifyCaptureEnd;
    static const QString kNotifyMouseLocationChange;
    static const QString kImageKey;
    static const QString kContextKey;
    static const QString kNotAvailableNoticeKey;
    static const QString kNotAvailableNotice;
    static const QString kSavePanelTitle;
    static const QString kSavePanelMessage;
    static const QString kProposedNameFormat;
    static const QString kImagesFolder;
    static const QString kSnipFolderFormat; // "%1/snip"

    // A switch of the virtual desktop, where the session tells, ends a
    // running session like a change of the screens.
    SnipManager(platform::ScreenGrabber& grabber, platform::WindowList& windowList,
        platform::NotificationCenter& center, platform::Pasteboard& pasteboard, MMUserInfo& user,
        platform::DesktopWatch* desktopWatch = nullptr);
    ~SnipManager() override;

    // Over the session's screen, window list, pasteboard and settings.
    static SnipManager& sharedInstance();

    bool isWorking() const { return isWorking_; }
    qint32 drawType() const { return drawType_; }
    void setDrawType(qint32 type) { drawType_ = type; }
    qint64 captureState() const { return captureState_; }
    void setCaptureState(qint64 state) { captureState_ = state; }
    const SnipCallback& snipCallback() const { return snipCallback_; }
    void setSnipCallback(SnipCallback callback) { snipCallback_ = std::move(callback); }
    void setSavePathChooser(SavePathChooser chooser) { savePathChooser_ = std::move(chooser); }
    // The windows on screen when the session started, front to back.
    const QList<WindowRect>& arrayRect() const { return arrayRect_; }
    const std::vector<RCSnipWindowController*>& windowControllers() const { return controllers_; }

    platform::NotificationCenter& notificationCenter() const { return center_; }
    platform::Pasteboard& pasteboard() const { return pasteboard_; }
    platform::ScreenGrabber& screenGrabber() const { return grabber_; }
    // A screen's place in the desktop's device pixels, read when the
    // session started; empty when the session does not know the screen.
    QRect screenArea(const QScreen* screen) const;

    // Starts a session on every screen; ignored while one runs. Where the
    // screen cannot be read the user is told so and nothing starts.
    void startCapture();
    // Ends the running session on every screen; a null image means no
    // result. Outside a session it does nothing.
    void endCapture(const QImage& image);
    // The screens changed, or the desktop shown: a running session ends
    // without a result.
    void screenChanged();
    // Ending a session is endCapture's; this asks nothing of a running one.
    void cancelCapture() { }

    // The capture window of a screen: the one of an earlier session, hidden
    // since, else a new one.
    std::unique_ptr<RCSnipWindow> takeWindow(QScreen* screen, MouseEventProtocol& delegate);
    // Keeps a session's window, hidden, for the next session on its screen.
    void keepWindow(QScreen* screen, std::unique_ptr<RCSnipWindow> window);

    // A toolbar image by its file name; null when it cannot be read.
    QImage getImageFromResource(const QString& name) const;

    // Asks for a file and writes the picture there, in the format its
    // extension names (JPEG for "jpg" and "jpeg", PNG otherwise); the
    // chosen folder is where the next export starts. False when the user
    // cancelled or the file could not be written.
    bool exportImage(const QImage& image);

    // The folder "snip" inside the given one, both made when missing; empty
    // when they cannot be made.
    static QString checkSnipFolder(const QString& folder);
    // The "snip" folder of the export folder, which is the user's Pictures
    // folder until configured otherwise.
    QString getExportPath();
    void configExportPath(const QString& path) { exportPath_ = path; }
    const QString& exportPath() const { return exportPath_; }

private:
    void clearController();

    platform::ScreenGrabber& grabber_;
    platform::WindowList& windowList_;
    platform::NotificationCenter& center_;
    platform::Pasteboard& pasteboard_;
    MMUserInfo& user_;
    platform::DesktopWatch* desktopWatch_;
    QString exportPath_;
    bool isWorking_ = false;
    qint32 drawType_ = 0;
    qint64 captureState_ = Hover;
    SnipCallback snipCallback_;
    SavePathChooser savePathChooser_;
    QList<WindowRect> arrayRect_;
    QList<SnipUtil::ScreenArea> screenAreas_;
    // Owned; released with deleteLater, since a session usually ends inside
    // one of their own event handlers.
    std::vector<RCSnipWindowController*> controllers_;
    // Hidden windows of ended sessions, by screen; dropped when the screens
    // change.
    std::map<QScreen*, std::unique_ptr<RCSnipWindow>> idleWindows_;
};
