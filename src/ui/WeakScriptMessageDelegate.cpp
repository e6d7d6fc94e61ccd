#include "ui/WeakScriptMessageDelegate.h"

#include <QJsonArray>
#include <QJsonDocument>

WeakScriptMessageDelegate::WeakScriptMessageDelegate(QObject* parent)
    : QObject(parent)
{
}

void WeakScriptMessageDelegate::setUucDelegate(QObject* owner, Receiver receiver)
{
    owner_ = owner;
    receiver_ = std::move(receiver);
}

std::optional<QJsonValue> WeakScriptMessageDelegate::parseBody(const QString& json)
{
    // A document holds an object or an array; a body may be any value, so it
    // is read as the single element of a list.
    QJsonParseError error;
    const QJsonDocument document
        = QJsonDocument::fromJson(QByteArray("[") + json.toUtf8() + QByteArray("]"), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray() || document.array().size() != 1)
        return std::nullopt;
    return document.array().at(0);
}

void WeakScriptMessageDelegate::postMessage(const QString& name, const QString& bodyJson)
{
    const std::optional<QJsonValue> body = parseBody(bodyJson);
    if (!body) {
        qWarning(
            "Settings page: message \"%s\" ignored: its body is not JSON", qUtf8Printable(name.left(64)));
        return;
    }
    if (owner_ && receiver_)
        receiver_(name, *body);
}
