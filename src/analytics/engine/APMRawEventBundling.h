#pragma once

#include <QList>
#include <QtGlobal>

class APMDatabase;
class APMEvent;
class APMMonitor;

// The free functions of bundling: removing the raw events a bundle used and
// the real-time rules that bundling and the event pipeline share.

// Deletes the raw events of the fingerprint up to the row ID, and their
// metadata row once no raw event of it is left. Failures are logged to the
// monitor (level 1, codes 23119-23121) and answer false.
bool APMDeleteConsumedRawEvents(APMDatabase& database, qint64 maxRowID, qint64 fingerprint, APMMonitor& monitor);

// Whether any of the events is marked real-time.
bool APMEventsContainRealtimeEvent(const QList<APMEvent>& events);

// The events the daily real-time limit never applies to: "_iap", "_f",
// "_dcu" and "_fx".
bool APMIsRealtimeExemptEvent(const APMEvent& event);

// Whether the event counts against the daily real-time limit: never in the
// monitor's debug mode, else every event that is not exempt.
bool APMIsRealtimeLimitedEvent(const APMEvent& event, const APMMonitor& monitor);

// Whether the event counts against the daily real-time limit of consent
// changes: "_dcu", outside the monitor's debug mode.
bool APMIsDCURealtimeEvent(const APMEvent& event, const APMMonitor& monitor);
