#pragma once

#include "analytics/audience/APMAudienceLimits.h"
#include "analytics/model/APMEventFilter.h"
#include "analytics/model/APMPropertyFilter.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class APMDatabase;
class APMError;
class APMPBAudience;
class APMPBEventFilter;
class APMPBPropertyFilter;

// The audience definitions of the remote configuration on this device:
// checks each definition, stores its filters as event- and property-filter
// rows under the internal names the events and properties carry, and hands
// out the rows of one name and their decoded filter messages.
//
// The stored definitions change only through updateAudiences(), which drops
// both caches: every event of a bundle then costs no filter query and no
// decoding of the filters it is matched against. A false answer reports a
// failure already logged. Not locked; used on the engine's worker queue.
class APMAudienceDefinitions {
public:
    using LimitsProvider = std::function<APMAudienceLimits()>;

    // The limits are read at each use; without a provider the defaults apply.
    explicit APMAudienceDefinitions(APMDatabase& database, LimitsProvider limits = {});

    bool updateAudiences(const std::vector<std::unique_ptr<APMPBAudience>>& audiences);
    bool maybeDeleteStaleFilterResults(const QSet<qint32>& acceptedAudienceIDs);

    // The stored rows of one name, read once until the definitions change;
    // nothing when they cannot be read (with the error set when that is a
    // failure rather than nothing to read).
    std::optional<QList<APMEventFilter>> eventFilterRows(const QString& eventName, APMError* error);
    std::optional<QList<APMPropertyFilter>> propertyFilterRows(const QString& propertyName, APMError* error);
    // A row's filter message; null when the row holds no data or data that
    // does not decode.
    std::shared_ptr<const APMPBEventFilter> decodedEventFilter(const QByteArray& data);
    std::shared_ptr<const APMPBPropertyFilter> decodedPropertyFilter(const QByteArray& data);

private:
    APMAudienceLimits limits() const;
    void forgetDefinitions();

    APMDatabase& database_;
    LimitsProvider limits_;
    // Bounded, as names without filters are remembered too.
    static constexpr qsizetype kMaxCachedNames = 1024;
    QHash<QString, QList<APMEventFilter>> eventFiltersByName_;
    QHash<QString, QList<APMPropertyFilter>> propertyFiltersByName_;
    QHash<QByteArray, std::shared_ptr<const APMPBEventFilter>> decodedEventFilters_;
    QHash<QByteArray, std::shared_ptr<const APMPBPropertyFilter>> decodedPropertyFilters_;
};
