#include "platform/AttributionTokenSource.h"

#include "platform/NullAttributionTokenSource.h"

namespace platform {

AttributionTokenSource& AttributionTokenSource::shared()
{
    static NullAttributionTokenSource backend;
    return backend;
}

} // namespace platform
