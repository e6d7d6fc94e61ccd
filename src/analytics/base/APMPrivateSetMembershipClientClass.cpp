#include "analytics/base/APMPrivateSetMembershipClientClass.h"

namespace {

class UnavailableMembershipClientClass final : public APMPrivateSetMembershipClientClass {
public:
    bool isAvailable() const override { return false; }
    bool supportsInputType(APMPrivateSetMembershipClient::InputType) const override { return false; }
    std::unique_ptr<APMPrivateSetMembershipClient> clientWithIdentifier(
        APMPrivateSetMembershipClient::InputType, const QByteArray&, const QString&, qint32) override
    {
        return nullptr;
    }
};

} // namespace

std::shared_ptr<APMPrivateSetMembershipClientClass> APMPrivateSetMembershipClientClass::notAvailable()
{
    static const auto unavailable = std::make_shared<UnavailableMembershipClientClass>();
    return unavailable;
}
