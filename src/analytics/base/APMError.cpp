#include "analytics/base/APMError.h"

const QString APMError::kMeasurementErrorDomain = QStringLiteral("com.vireo.vmp.measurement.ErrorDomain");
const QString APMError::kMonitorContextKey = QStringLiteral("APMMonitorContext");
const QString APMError::kLocalizedDescriptionKey = QStringLiteral("localizedDescription");

APMError APMError::apm_errorWithCode(qint64 code, const QString& description)
{
    return APMError(kMeasurementErrorDomain, code, description);
}

APMError APMError::apm_errorWithCodeDescriptionMonitorContext(
    qint64 code, const QString& description, const QString& monitorContext)
{
    return APMError(kMeasurementErrorDomain, code, description, monitorContext);
}

APMError::APMError(QString domain, qint64 code, const QString& description, const QString& monitorContext)
    : domain_(std::move(domain))
    , code_(code)
{
    if (!description.isEmpty())
        userInfo_.insert(kLocalizedDescriptionKey, description);
    if (!monitorContext.isEmpty())
        userInfo_.insert(kMonitorContextKey, monitorContext);
}

QString APMError::localizedDescription() const
{
    return userInfo_.value(kLocalizedDescriptionKey).toString();
}

QString APMError::monitorContext() const
{
    return userInfo_.value(kMonitorContextKey).toString();
}

QString APMError::description() const
{
    QString text = QStringLiteral("Error Domain=%1 Code=%2").arg(domain_).arg(code_);
    const QString described = localizedDescription();
    if (!described.isEmpty())
        text += QStringLiteral(" \"%1\"").arg(described);
    const QString context = monitorContext();
    if (!context.isEmpty())
        text += QStringLiteral(" (%1)").arg(context);
    return text;
}

void APMSetErrorWithCode(APMError* error, qint64 code, const QString& description)
{
    if (error)
        *error = APMError::apm_errorWithCode(code, description);
}

void APMSetErrorWithCodeAndContext(
    APMError* error, qint64 code, const QString& description, const QString& context)
{
    if (error)
        *error = APMError::apm_errorWithCodeDescriptionMonitorContext(code, description, context);
}

bool APMCheckCondition(bool condition, APMError* error, qint64 code, const QString& description)
{
    if (!condition)
        APMSetErrorWithCode(error, code, description);
    return condition;
}

bool APMCheckObjectNotNil(const QVariant& object, APMError* error, qint64 code, const QString& description)
{
    return APMCheckCondition(object.isValid() && !object.isNull(), error, code, description);
}

bool APMCheckPointerNotNull(const void* pointer, APMError* error, qint64 code, const QString& description)
{
    return APMCheckCondition(pointer != nullptr, error, code, description);
}

bool APMCheckNonZero(quintptr value, APMError* error, qint64 code, const QString& description)
{
    return APMCheckCondition(value != 0, error, code, description);
}
