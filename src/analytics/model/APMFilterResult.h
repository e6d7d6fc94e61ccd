#pragma once

#include <QByteArray>

// The evaluation state of one audience: its current and its previous
// results, each an encoded result-data message. Stores its arguments as given.
class APMFilterResult {
public:
    APMFilterResult() = default;
    APMFilterResult(qint32 audienceID, const QByteArray& currentResults, const QByteArray& previousResults);

    qint32 audienceID() const { return audienceID_; }
    const QByteArray& currentResults() const { return currentResults_; }
    const QByteArray& previousResults() const { return previousResults_; }

private:
    qint32 audienceID_ = 0;
    QByteArray currentResults_;
    QByteArray previousResults_;
};
