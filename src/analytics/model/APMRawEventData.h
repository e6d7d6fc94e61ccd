#pragma once

#include "analytics/model/APMEvent.h"

#include <QtGlobal>

#include <optional>

// A raw event as read back from the raw-events table: the event, its row
// number and the fingerprint of the metadata row it was stored under.
// Immutable.
class APMRawEventData {
public:
    // Nothing (logged) without an event or with a negative row number; 0 is
    // a valid row and any fingerprint is accepted.
    static std::optional<APMRawEventData> initWithRawEvent(
        const std::optional<APMEvent>& rawEvent, qint64 rowID, qint64 metadataFingerprint);

    const APMEvent& rawEvent() const { return rawEvent_; }
    qint64 rowID() const { return rowID_; }
    qint64 metadataFingerprint() const { return metadataFingerprint_; }

private:
    APMRawEventData(const APMEvent& rawEvent, qint64 rowID, qint64 metadataFingerprint);

    APMEvent rawEvent_;
    qint64 rowID_;
    qint64 metadataFingerprint_;
};
