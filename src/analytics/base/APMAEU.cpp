#include "analytics/base/APMAEU.h"

#include "platform/SystemFacts.h"

QString APMAEU::deviceModel(const platform::SystemFacts* facts)
{
    return (facts ? *facts : platform::SystemFacts::shared()).deviceModel();
}

QString APMAEU::systemVersion(const platform::SystemFacts* facts)
{
    return (facts ? *facts : platform::SystemFacts::shared()).osVersion();
}
