#pragma once

#include "fakes/FakeSessionBus.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QImage>
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantMap>

namespace fakes {

// A private D-Bus session bus with the desktop portal's Screenshot
// interface on it. Each call is checked as the portal checks it (a
// parent-window text, a handle token of letters, digits and underscores, no
// interactive dialog asked for); the answer is the Response signal on the
// request path the caller can predict, from a script: a picture written to
// a file (its address in "uri"), or a response code other than 0.
class FakeScreenshotPortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Screenshot")
public:
    FakeScreenshotPortal();
    ~FakeScreenshotPortal() override;

    // False when no bus could be started.
    bool isRunning() const { return portal_.isConnected(); }
    // A client connection to the same bus, with its own unique name.
    QDBusConnection clientConnection();

    void setPicture(const QImage& picture) { picture_ = picture; }
    void setResponseCode(uint code) { responseCode_ = code; }

    int calls() const { return calls_; }
    QStringList problems() const { return problems_; }
    // The files handed out, whether or not they still exist.
    QStringList files() const { return files_; }

public slots:
    QDBusObjectPath Screenshot(const QString& parentWindow, const QVariantMap& options);

private:
    FakeSessionBus bus_;
    QDBusConnection portal_ { QString() };
    QTemporaryDir dir_;
    QImage picture_;
    uint responseCode_ = 0;
    int calls_ = 0;
    QStringList problems_;
    QStringList files_;
};

} // namespace fakes
