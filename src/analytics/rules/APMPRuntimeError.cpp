#include "analytics/rules/APMPRuntimeError.h"

#include "analytics/base/APMError.h"

namespace APMPRuntimeError {

const QString kDomain = QStringLiteral("com.vireo.vmp.measurement.pixie.ErrorDomain");
const QString kEditingDomain = QStringLiteral("com.vireo.vmp.measurement.pixie.editing.ErrorDomain");

void set(APMError* error, qint64 code)
{
    if (error)
        *error = APMError(kDomain, code);
}

void setEditing(APMError* error, qint64 code)
{
    if (error)
        *error = APMError(kEditingDomain, code);
}

} // namespace APMPRuntimeError
