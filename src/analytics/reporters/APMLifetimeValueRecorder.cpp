#include "analytics/reporters/APMLifetimeValueRecorder.h"

#include "analytics/base/APMError.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMNumericUtil.h"
#include "analytics/base/CodePoints.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/reporters/APMMeasurementNames.h"
#include "analytics/model/APMEvent.h"
#include "analytics/model/APMEventNames.h"
#include "analytics/model/APMLogNames.h"
#include "analytics/model/APMUserAttribute.h"
#include "analytics/store/APMDatabase.h"
#include "platform/Clock.h"

#include <cmath>
#include <limits>
#include <optional>

const QString APMLifetimeValueRecorder::kPropertyPrefix = QStringLiteral("_ltv_");

namespace lifetime_value {

const QString kEcommercePurchase = QStringLiteral("ecommerce_purchase");
const QString kPurchase = QStringLiteral("purchase");
const QString kRefund = QStringLiteral("refund");
constexpr double kMicrosPerUnit = 1000000.0;

class DatabaseRecorder final : public APMLifetimeValueRecorder {
public:
    explicit DatabaseRecorder(Sources sources)
        : sources_(std::move(sources))
    {
    }

    bool updateLifetimeValueWithEvent(const APMEvent& event) override
    {
        if (!isPurchaseEvent(event))
            return true;
        APMDatabase* database = sources_.database ? sources_.database() : nullptr;
        APMRemoteConfig* config = sources_.remoteConfig ? sources_.remoteConfig() : nullptr;
        if (!database || !config)
            return true;
        return recordLifetimeValueToDatabase(
            *database, event, config->maxTrackedCurrencies(), sources_.clock->now(), *sources_.monitor);
    }

private:
    Sources sources_;
};

} // namespace lifetime_value

std::shared_ptr<APMLifetimeValueRecorder> APMLifetimeValueRecorder::recordingToDatabase(Sources sources)
{
    if (!sources.clock)
        sources.clock = &platform::Clock::system();
    return std::make_shared<lifetime_value::DatabaseRecorder>(std::move(sources));
}

bool APMLifetimeValueRecorder::isPurchaseEvent(const APMEvent& event)
{
    return event.name() == APMEventNames::kInAppPurchaseEvent || isEcommercePurchaseEvent(event);
}

bool APMLifetimeValueRecorder::isEcommercePurchaseEvent(const APMEvent& event)
{
    const QString& name = event.name();
    return name == lifetime_value::kEcommercePurchase || name == lifetime_value::kPurchase
        || name == lifetime_value::kRefund;
}

bool APMLifetimeValueRecorder::recordLifetimeValueToDatabase(
    APMDatabase& database, const APMEvent& event, qint32 maxTrackedCurrencies, double now, APMMonitor& monitor)
{
    using namespace lifetime_value;
    if (!isPurchaseEvent(event))
        return true;
    const auto currency = event.parameters().constFind(APMEventNames::kCurrencyParameter);
    if (currency == event.parameters().cend() || !currency->isString()
        || CodePoints::length(currency->stringValue()) != 3) {
        monitor.logWithLevel(APMMonitor::kLevelErrorMonitored, 22000,
            QStringLiteral("Cannot record transaction with invalid currency code"),
            currency == event.parameters().cend() ? QVariant() : QVariant(currency->description()));
        return true;
    }
    const auto value = event.parameters().constFind(APMEventNames::kValueParameter);
    if (value == event.parameters().cend() || !(value->isDouble() || value->isInt64())) {
        monitor.logWithLevel(APMMonitor::kLevelErrorMonitored, 22001,
            QStringLiteral("Cannot record transaction with invalid transaction value"),
            value == event.parameters().cend() ? QVariant() : QVariant(value->description()));
        return true;
    }

    const auto outOfBounds = [&monitor] {
        monitor.logWithLevel(APMMonitor::kLevelErrorMonitored, 22002,
            QStringLiteral("Cannot record transaction with value that is out of bounds"));
        return false;
    };
    qint64 amount = 0;
    if (isEcommercePurchaseEvent(event)) {
        const double units = value->isDouble() ? value->doubleValue() : double(value->int64Value());
        // An amount beyond the 64-bit range is refused rather than clamped:
        // our own choice, as a clamped amount would be a made-up value.
        const std::optional<int64_t> micros = APMCheckedInt64(std::round(units * kMicrosPerUnit));
        if (!micros)
            return outOfBounds();
        amount = *micros;
        if (event.name() == kRefund) {
            // The one int64 without a negative counterpart.
            if (amount == std::numeric_limits<qint64>::min())
                return outOfBounds();
            amount = -amount;
        }
    } else if (value->isInt64()) {
        amount = value->int64Value();
    } else {
        const std::optional<int64_t> micros = APMCheckedInt64(value->doubleValue());
        if (!micros)
            return outOfBounds();
        amount = *micros;
    }

    const QString name = kPropertyPrefix + currency->stringValue().toUpper();
    APMError error;
    const std::optional<QList<APMUserAttribute>> tracked = database.allLifetimeValueUserAttributes(&error);
    if (!tracked) {
        monitor.logWithLevel(APMMonitor::kLevelErrorMonitored, 22003,
            QStringLiteral("Failed to query all Lifetime Value User properties. Error"), error.description());
        return false;
    }
    qint64 total = amount;
    bool found = false;
    for (const APMUserAttribute& attribute : *tracked) {
        if (attribute.name() != name)
            continue;
        found = true;
        // A total that would wrap around is refused like an out-of-range
        // value: our own choice, since a wrapped total would be a wrong
        // amount reported as right.
        if (__builtin_add_overflow(attribute.value().int64Value(), amount, &total))
            return outOfBounds();
        break;
    }
    if (!found && !tracked->isEmpty() && tracked->size() >= maxTrackedCurrencies) {
        const QString oldest = tracked->last().name();
        APMError deleteError;
        if (!database.deleteUserAttributeWithName(oldest, &deleteError) && deleteError.code() != 0) {
            monitor.logWithLevel(APMMonitor::kLevelErrorMonitored, 22004,
                QStringLiteral("Unable to delete Lifetime Value User property. Name, error"),
                APMUserPropertyNameForLog(oldest), deleteError.description());
            return false;
        }
    }
    const std::optional<APMUserAttribute> property = APMUserAttribute::initWithOrigin(
        apm_engine::kAutoOrigin, name, APMValue::initWithInt64(total), now);
    if (!property) {
        // Only a name the validator refuses gets here: the currency code
        // makes one (digits or symbols pass the length test).
        monitor.logWithLevel(APMMonitor::kLevelErrorMonitored, 22000,
            QStringLiteral("Cannot record transaction with invalid currency code"), currency->description());
        return true;
    }
    APMError updateError;
    if (!database.updateUserAttribute(*property, &updateError) && updateError.code() != 0) {
        monitor.logWithLevel(APMMonitor::kLevelErrorMonitored, 22005,
            QStringLiteral("Unable to upsert Lifetime Value User Attribute in database. Name, error"),
            APMUserPropertyNameForLog(name), updateError.description());
        return false;
    }
    monitor.logWithLevel(
        APMMonitor::kLevelDebug, 22006, QStringLiteral("Lifetime value has been updated in database"), name);
    return true;
}
