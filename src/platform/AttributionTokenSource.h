#pragma once

#include <QString>

#include <optional>

namespace platform {

// The system's ad-attribution service: hands out a short-lived token that an
// attribution server turns into the campaign an installation came from. Some
// systems offer it; this one does not, so the shared backend answers "not
// available". Called from the analytics worker queue.
class AttributionTokenSource {
public:
    virtual ~AttributionTokenSource() = default;

    // Whether the system offers attribution tokens at all.
    virtual bool isAvailable() const = 0;
    // A token, or nothing with the reason in error (when given).
    virtual std::optional<QString> attributionToken(QString* error) = 0;

    // The backend of this system.
    static AttributionTokenSource& shared();
};

} // namespace platform
