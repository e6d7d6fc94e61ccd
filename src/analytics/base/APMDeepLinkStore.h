#pragma once

#include <QString>
#include <QtGlobal>

class APMConfigStore;

// One pending deep link and the time it was stored, kept in a preferences
// store the caller passes in (the application's own defaults in the engine).
// The engine keeps the link the application was launched with, drops it
// when it grew older than the attribution cache time and reports a stored
// one as a campaign at its next start.
namespace APMDeepLinkStore {

inline const QString kDeepLinkKey = QStringLiteral("/vireo/measurement/deep_link");
inline const QString kDeepLinkTimestampKey = QStringLiteral("/vireo/measurement/deep_link_timestamp_seconds");

} // namespace APMDeepLinkStore

// Stores the link with the time now (seconds since 1970).
void storeDeepLink(APMConfigStore& store, const QString& link, double now);
// Removes the link and its time.
void clearStoredDeepLink(APMConfigStore& store);
// True when a time is stored and lies more than timeToLive seconds away from
// now (either way: a clock set back counts too); a link without a time never
// expires.
bool isStoredDeepLinkExpired(APMConfigStore& store, double timeToLive, double now);
// Clears the stored link when it has expired; true when it did.
bool clearExpiredStoredDeepLink(APMConfigStore& store, double timeToLive, double now);

// The start of the hour before the one holding the time (milliseconds).
qint64 previousHourStartMillis(qint64 milliseconds);
