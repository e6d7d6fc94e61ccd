#include "analytics/base/APMDeepLinkStore.h"

#include "analytics/base/APMConfigStore.h"

#include <cmath>
#include <limits>

void storeDeepLink(APMConfigStore& store, const QString& link, double now)
{
    store.setObject(link, APMDeepLinkStore::kDeepLinkKey);
    store.setDouble(now, APMDeepLinkStore::kDeepLinkTimestampKey);
}

void clearStoredDeepLink(APMConfigStore& store)
{
    store.removeObjectForKey(APMDeepLinkStore::kDeepLinkKey);
    store.removeObjectForKey(APMDeepLinkStore::kDeepLinkTimestampKey);
}

bool isStoredDeepLinkExpired(APMConfigStore& store, double timeToLive, double now)
{
    const QVariant stored = store.numberForKey(APMDeepLinkStore::kDeepLinkTimestampKey);
    if (!stored.isValid())
        return false;
    return std::fabs(now - stored.toDouble()) > timeToLive;
}

bool clearExpiredStoredDeepLink(APMConfigStore& store, double timeToLive, double now)
{
    if (!isStoredDeepLinkExpired(store, timeToLive, now))
        return false;
    clearStoredDeepLink(store);
    return true;
}

qint64 previousHourStartMillis(qint64 milliseconds)
{
    constexpr qint64 kHour = 3'600'000;
    const qint64 hourStart = milliseconds / kHour * kHour;
    // The earliest hours have no hour before them in 64 bits.
    if (hourStart < std::numeric_limits<qint64>::min() + kHour)
        return std::numeric_limits<qint64>::min();
    return hourStart - kHour;
}
