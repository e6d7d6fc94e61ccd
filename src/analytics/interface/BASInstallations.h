#pragma once

#include "analytics/base/APMError.h"

#include <QString>

#include <functional>
#include <optional>

// The platform's installation identifier service. This system has no such
// service: the process uses the null backend, which answers "none" without
// an error; a host program (or a test) may install another backend.
class BASInstallations {
public:
    static const QString kIDDidChangeNotification; // "BASInstallationIDDidChangeNotification"

    // A null QString stands for no identifier.
    using Completion = std::function<void(const QString& installationID, const std::optional<APMError>& error)>;

    virtual ~BASInstallations() = default;
    virtual void installationIDWithCompletion(Completion completion) = 0;

    // The null backend unless another was set.
    static BASInstallations& shared();
    // Null puts the null backend back. The backend must outlive its use.
    static void setShared(BASInstallations* installations);
};
