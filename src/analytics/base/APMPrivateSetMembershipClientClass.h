#pragma once

#include "analytics/base/APMPrivateSetMembershipClient.h"

#include <memory>

// The optional on-device conversion component as the engine finds it: which
// kinds of input it takes, and a client per attempt. The component is not
// part of this application; without one the environment holds none (or one
// that is not available) and every attempt is refused with a message.
class APMPrivateSetMembershipClientClass {
public:
    virtual ~APMPrivateSetMembershipClientClass() = default;

    // False: the component is missing ("dependency not linked in").
    virtual bool isAvailable() const = 0;
    virtual bool supportsInputType(APMPrivateSetMembershipClient::InputType type) const = 0;
    // A client for a 32-byte SHA-256 digest of the normalised identifier;
    // null when the kind is not supported.
    virtual std::unique_ptr<APMPrivateSetMembershipClient> clientWithIdentifier(
        APMPrivateSetMembershipClient::InputType type, const QByteArray& hashedIdentifier, const QString& appID,
        qint32 prefixBitLength)
        = 0;
};
