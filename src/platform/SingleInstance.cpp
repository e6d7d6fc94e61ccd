#include "platform/SingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace platform {

namespace {
const QByteArray kReopen = "reopen\n";
}

SingleInstance::SingleInstance(const QString& key, QObject* parent)
    : QObject(parent)
    , name_(QStringLiteral("%1-%2").arg(key).arg(::getuid()))
{
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::claim()
{
    QLocalSocket probe;
    probe.connectToServer(name_);
    if (probe.waitForConnected(500)) {
        probe.write(kReopen);
        probe.waitForBytesWritten(1000);
        probe.disconnectFromServer();
        return false;
    }
    // Nobody answered: a socket file left by a crashed instance is stale.
    QLocalServer::removeServer(name_);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name_)) {
        qWarning("SingleInstance: cannot listen on %s: %s", qPrintable(name_), qPrintable(server_->errorString()));
        return true; // run anyway; only the reopen request is lost
    }
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    return true;
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            // Only the one request exists; anything longer is not ours.
            const QByteArray line = socket->readLine(64);
            if (line == kReopen && onReopen_)
                onReopen_();
            socket->disconnectFromServer();
        });
    }
}

} // namespace platform
