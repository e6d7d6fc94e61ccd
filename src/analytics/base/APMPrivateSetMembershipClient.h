#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QtGlobal>

#include <optional>

// One attempt of the optional on-device conversion component: it holds the
// hashed identifier it was made with, supplies the query address for each
// try and reads the match out of the answer. The engine sends the query and
// keeps the counts; the component never sees plain user data.
class APMPrivateSetMembershipClient {
public:
    // What the client was made with; the engine keeps a request count per kind.
    enum InputType : qint32 {
        EmailAddress = 1,
        PhoneNumber = 2,
        HashedEmailAddress = 3,
        HashedPhoneNumber = 4,
    };

    virtual ~APMPrivateSetMembershipClient() = default;

    // The address to GET for the given retry count; nothing when it cannot be made.
    virtual std::optional<QUrl> PSMRequestURLWithRetryCount(qint32 retryCount) = 0;
    virtual qint32 inputType() const = 0;
    // A key added to debug requests; nothing when the client has none.
    virtual std::optional<QString> debugKey() const = 0;
    // The match value in the answer's body; empty for no match.
    virtual QString parsedPSMValueFromResponse(const QByteArray& body) = 0;
};
