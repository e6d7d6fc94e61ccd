#pragma once

#include "platform/AttributionTokenSource.h"

namespace platform {

// No attribution service here.
class NullAttributionTokenSource final : public AttributionTokenSource {
public:
    bool isAvailable() const override { return false; }
    std::optional<QString> attributionToken(QString* error) override
    {
        if (error)
            *error = QStringLiteral("not available");
        return std::nullopt;
    }
};

} // namespace platform
