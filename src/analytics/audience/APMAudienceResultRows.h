#pragma once

#include "analytics/model/APMFilterResult.h"

#include <QHash>
#include <QList>
#include <QtGlobal>

#include <optional>

class APMAudienceTimestampsCache;
class APMDatabase;
class APMError;

// The result rows of the audiences that evaluations touch, each read from
// the database at its first touch and then held as its status and result
// words; write() saves the changed ones in one call.
//
// One evaluation call holds its own for the length of the call. A bundling
// pass holds one for the whole bundle together with its timestamps cache, so
// that every audience's row is read once and written once per bundle
// however many of its events touch it. The words and the cache stay in step:
// an audience's times in the cache move only when its words change, so the
// row written at the end is the row the last change would have written.
//
// Nothing reaches the database before write(): a pass writes inside the
// transaction that stores its bundle, so a pass that never gets there (a
// failure, the program stopping) leaves the stored results as they were,
// with the bundle's raw events still there to evaluate again. Not locked.
class APMAudienceResultRows {
public:
    struct Row {
        // The row as read at the first touch; nothing when there was none.
        std::optional<APMFilterResult> stored;
        QList<quint64> status, results;
        bool changed = false;
    };

    explicit APMAudienceResultRows(APMDatabase& database);

    // The audience's row, read at the first ask; the pointer holds until the
    // next call. Null when it cannot be read, with the error set. A stored
    // row with result bytes but without both word lists counts as no result
    // (logged, as when reading one filter).
    Row* row(qint32 audienceID, APMError* error);
    // Saves every changed row in one call (its current result from the words
    // and the cache's times of the audience, its previous result as read);
    // the next touch then reads the saved row again. False with the error
    // set when the save fails; the rows are then kept as they were.
    bool write(const APMAudienceTimestampsCache& cache, APMError* error);

    // The current-result bytes of an audience's words with its times from
    // the cache.
    static QByteArray encodedResult(const QList<quint64>& status, const QList<quint64>& results,
        qint32 audienceID, const APMAudienceTimestampsCache& cache);

private:
    APMDatabase& database_;
    QHash<qint32, Row> rows_;
};
