#pragma once

#include <QJsonValue>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

// The object a settings page talks to. The page script posts each message as
// its name and its body serialised as JSON text (so a number stays a number
// and a text a text); the relay reads the body back and hands name and body
// to its receiver. It holds the receiver weakly: a message arriving after
// the receiver is gone reaches nobody.
class WeakScriptMessageDelegate : public QObject {
    Q_OBJECT
public:
    using Receiver = std::function<void(const QString& name, const QJsonValue& body)>;

    explicit WeakScriptMessageDelegate(QObject* parent = nullptr);

    // The receiver is called while `owner` lives.
    void setUucDelegate(QObject* owner, Receiver receiver);

    // One JSON value of any kind (number, text, object, array, true, false,
    // null); nothing for anything else. Page bodies are outside input.
    static std::optional<QJsonValue> parseBody(const QString& json);

public slots:
    // Called by the page through the web channel.
    void postMessage(const QString& name, const QString& bodyJson);

private:
    QPointer<QObject> owner_;
    Receiver receiver_;
};
