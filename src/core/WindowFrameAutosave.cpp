#include "core/WindowFrameAutosave.h"

#include "platform/Preferences.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QVariantList>
#include <QWidget>

WindowFrameAutosave::WindowFrameAutosave(QWidget* window, const QString& name, platform::Preferences& defaults)
    : QObject(window)
    , window_(window)
    , key_(keyForName(name))
    , defaults_(defaults)
{
    const QVariantList saved = defaults_.value(key_).toList();
    if (saved.size() == 4) {
        const QRect frame(saved[0].toInt(), saved[1].toInt(), saved[2].toInt(), saved[3].toInt());
        // A frame saved on a screen that is gone is not restored off-screen.
        bool visible = false;
        for (QScreen* screen : QGuiApplication::screens())
            visible = visible || screen->availableGeometry().intersects(frame);
        if (visible && frame.width() > 0 && frame.height() > 0)
            window_->setGeometry(frame);
    }
    saveTimer_.setSingleShot(true);
    saveTimer_.setInterval(300);
    connect(&saveTimer_, &QTimer::timeout, this, &WindowFrameAutosave::save);
    window_->installEventFilter(this);
}

QString WindowFrameAutosave::keyForName(const QString& name)
{
    return QStringLiteral("Window Frame ") + name;
}

bool WindowFrameAutosave::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == window_) {
        if (event->type() == QEvent::Move || event->type() == QEvent::Resize)
            saveTimer_.start();
        else if (event->type() == QEvent::Hide && saveTimer_.isActive())
            save();
    }
    return QObject::eventFilter(watched, event);
}

void WindowFrameAutosave::save()
{
    saveTimer_.stop();
    const QRect g = window_->geometry();
    defaults_.setValue(key_, QVariantList{g.x(), g.y(), g.width(), g.height()});
}
