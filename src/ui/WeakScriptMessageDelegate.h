#pragma once

#include <QJsonValue>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

// Where the settings pages' messages go: it hands name and body to its
// receiver, which it holds weakly: a message arriving after the receiver is
// gone reaches nobody.
class WeakScriptMessageDelegate : public QObject {
    Q_OBJECT
public:
    using Receiver = std::function<void(const QString& name, const QJsonValue& body)>;

    explicit WeakScriptMessageDelegate(QObject* parent = nullptr);

    // The receiver is called while `owner` lives.
    void setUucDelegate(QObject* owner, Receiver receiver);

    void postMessage(const QString& name, const QJsonValue& body);

private:
    QPointer<QObject> owner_;
    Receiver receiver_;
};
