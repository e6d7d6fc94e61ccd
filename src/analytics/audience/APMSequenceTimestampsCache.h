#pragma once

#include <QList>
#include <QMap>
#include <QtGlobal>

#include <memory>
#include <optional>
#include <vector>

class APMPBSequenceFilterResultTimestamp;

// The matching times of the sequence filters of one audience, collected
// during one bundling pass: event filters keep every whole second they
// matched in, property filters only their latest time.
class APMSequenceTimestampsCache {
public:
    explicit APMSequenceTimestampsCache(qint32 audienceID = 0);

    qint32 audienceID() const { return audienceID_; }

    // A copy of the filter's times; nothing for an unknown filter.
    std::optional<QList<double>> sequenceTimestampsForFilterID(qint32 filterID) const;
    // Appends the time unless it falls in the same whole second as the last
    // one; an earlier time is logged (level 5, code 42000) and appended.
    void addEventFilterTimestamp(double timestamp, qint32 filterID);
    // The time replaces the filter's list; an earlier time is logged (level
    // 5, code 42001) first.
    void setUserPropertyTimestamp(double timestamp, qint32 filterID);
    // One message per filter, in ascending filter ID order, with its times
    // sorted ascending as whole seconds.
    std::vector<std::unique_ptr<APMPBSequenceFilterResultTimestamp>> sequenceFilterResultTimestamps() const;

private:
    qint32 audienceID_;
    QMap<qint32, QList<double>> allSequenceTimestampsByFilterID_;
};
