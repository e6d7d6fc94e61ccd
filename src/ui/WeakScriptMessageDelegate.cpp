#include "ui/WeakScriptMessageDelegate.h"

WeakScriptMessageDelegate::WeakScriptMessageDelegate(QObject* parent)
    : QObject(parent)
{
}

void WeakScriptMessageDelegate::setUucDelegate(QObject* owner, Receiver receiver)
{
    owner_ = owner;
    receiver_ = std::move(receiver);
}

void WeakScriptMessageDelegate::postMessage(const QString& name, const QJsonValue& body)
{
    if (owner_ && receiver_)
        receiver_(name, body);
}
