#include "platform/TrackingAuthorization.h"

#include "platform/NullTrackingAuthorization.h"

namespace platform {

const QString TrackingAuthorization::kZeroIdentifier = QStringLiteral("00000000-0000-0000-0000-000000000000");

TrackingAuthorization& TrackingAuthorization::shared()
{
    static NullTrackingAuthorization backend;
    return backend;
}

} // namespace platform
