#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QLocalServer;

namespace platform {

// Keeps one running instance per user. The first instance listens on a
// local socket; a later launch tells it to reopen and then exits, the way a
// second click on the application icon brings the running program forward.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // key names the socket (per user: the runtime folder is private).
    explicit SingleInstance(const QString& key, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is the one to run. False when another instance
    // answered; it has been asked to reopen.
    bool claim();
    // Called in the running instance each time a later launch asks to reopen.
    void setReopenHandler(std::function<void()> handler) { onReopen_ = std::move(handler); }

    QString serverName() const { return name_; }

private:
    void acceptConnections();

    QString name_;
    QLocalServer* server_ = nullptr;
    std::function<void()> onReopen_;
};

} // namespace platform
