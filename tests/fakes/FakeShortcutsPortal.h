#pragma once

#include "fakes/FakeSessionBus.h"
#include "platform/PortalGlobalHotkey.h"

#include <QDBusContext>
#include <QDBusObjectPath>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <vector>

namespace fakes {

class FakePortalSession;

// The desktop portal's GlobalShortcuts interface on a private session bus.
// Each call is checked as the portal checks it (handle tokens, a session
// that exists and is open, one bind per session, shortcuts with an id and a
// preferred trigger); the answers come as Response signals on the request
// paths. activate() sends Activated for the shortcut of the newest open
// session, as the desktop does when the user presses its trigger.
class FakeShortcutsPortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")
    Q_PROPERTY(uint version READ version)
public:
    FakeShortcutsPortal();
    ~FakeShortcutsPortal() override;

    bool isRunning() const { return portal_.isConnected(); }
    QDBusConnection clientConnection() { return bus_.connect(); }
    uint version() const { return 1; }

    // The response code of the next binds (0 accepts).
    void setBindResponse(uint code) { bindResponse_ = code; }
    // The preferred triggers bound so far, in order.
    QStringList boundTriggers() const { return triggers_; }
    int openSessions() const;
    // Sends Activated for the shortcut of the newest open session; false
    // when there is none.
    bool activate();
    QStringList problems() const { return problems_; }

public slots:
    QDBusObjectPath CreateSession(const QVariantMap& options);
    QDBusObjectPath BindShortcuts(const QDBusObjectPath& session,
        const QList<platform::PortalShortcut>& shortcuts, const QString& parentWindow,
        const QVariantMap& options);

private:
    QString requestPath(const QVariantMap& options);
    void respond(const QString& path, uint code, const QVariantMap& results);

    FakeSessionBus bus_;
    QDBusConnection portal_ { QString() };
    std::vector<std::unique_ptr<FakePortalSession>> sessions_;
    uint bindResponse_ = 0;
    QStringList triggers_;
    QStringList problems_;
};

// One session object; the client closes it.
class FakePortalSession : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Session")
public:
    explicit FakePortalSession(QString path)
        : path(std::move(path))
    {
    }
    QString path;
    QString shortcutId;
    bool bound = false;
    bool closed = false;

public slots:
    void Close() { closed = true; }
};

} // namespace fakes
