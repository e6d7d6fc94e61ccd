#include "analytics/model/APMScreen.h"

#include "analytics/base/APMLibrary.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMValue.h"
#include "analytics/model/APMDataTypeValidator.h"
#include "analytics/model/APMEventNames.h"

namespace {

const QString kPreviousInstanceKey = QStringLiteral("_pi");
const QString kPreviousClassKey = QStringLiteral("_pc");
const QString kPreviousNameKey = QStringLiteral("_pn");

bool isUsableScreenText(
    const QString& text, const EventParameterLimits& limits, qint64* failureCode = nullptr)
{
    return !text.isNull() && APMDataTypeValidator::isValidScreenParameterValue(text, limits, failureCode);
}

} // namespace

QVariant APMScreenText(const QString& text)
{
    return QVariant::fromValue(APMValue::initWithString(text).value_or(APMValue()));
}

QVariantMap APMScreenParametersForScreen(const APMScreen& screen, const EventParameterLimits& limits)
{
    QVariantMap parameters { { APMEventNames::kScreenIDParameter,
        QVariant::fromValue(APMValue::initWithInt64(screen.instanceID())) } };
    if (screen.className().isEmpty())
        APMLibrary::monitor().logWithLevel(
            APMMonitor::kLevelWarning, 31014, QStringLiteral("Screen class name is empty"));
    if (!screen.className().isNull()) {
        qint64 failure = 0;
        if (!isUsableScreenText(screen.className(), limits, &failure)) {
            APMLibrary::monitor().logWithLevel(APMMonitor::kLevelWarning, 31015,
                QStringLiteral("Screen class name is invalid. Error code"), failure);
            return parameters;
        }
        parameters.insert(APMEventNames::kScreenClassParameter, APMScreenText(screen.className()));
    }
    if (isUsableScreenText(screen.name(), limits))
        parameters.insert(APMEventNames::kScreenNameParameter, APMScreenText(screen.name()));
    return parameters;
}

QVariantMap APMPreviousScreenParametersForScreen(const APMScreen& screen, const EventParameterLimits& limits)
{
    QVariantMap parameters { { kPreviousInstanceKey,
        QVariant::fromValue(APMValue::initWithInt64(screen.instanceID())) } };
    if (!screen.className().isEmpty() && isUsableScreenText(screen.className(), limits))
        parameters.insert(kPreviousClassKey, APMScreenText(screen.className()));
    if (isUsableScreenText(screen.name(), limits))
        parameters.insert(kPreviousNameKey, APMScreenText(screen.name()));
    return parameters;
}

bool APMAutomaticScreenReportingEnabled()
{
    return false;
}
