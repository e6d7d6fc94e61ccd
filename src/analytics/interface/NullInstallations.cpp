#include "analytics/interface/NullInstallations.h"

void NullInstallations::installationIDWithCompletion(Completion completion)
{
    if (completion)
        completion(QString(), std::nullopt);
}
