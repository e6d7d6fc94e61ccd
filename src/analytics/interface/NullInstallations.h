#pragma once

#include "analytics/interface/BASInstallations.h"

// No installations service: there is never an identifier, and that is no error.
class NullInstallations final : public BASInstallations {
public:
    void installationIDWithCompletion(Completion completion) override;
};
