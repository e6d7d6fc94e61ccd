#pragma once

#include "analytics/model/EventParameterLimits.h"
#include "analytics/base/APMValue.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <optional>

class APMEvent;

// The parameters of an event once cleaned: name to value. Iterates in key
// order, so every walk over parameters is the same from run to run.
using EventParameters = QMap<QString, APMValue>;

// Hands an internal event to the measurement pipeline (origin, name,
// parameters); the front end supplies it.
using InternalEventLogger
    = std::function<void(const QString& origin, const QString& name, const QVariantMap& parameters)>;

// The parameters as a plain dictionary, each value an APMValue in a QVariant.
QVariantMap APMVariantMapFromParameters(const EventParameters& parameters);

// Screen parameters: "_sn" (name), "_sc" (class), "_si" (instance id).
bool APMHasScreenParameters(const QVariantMap& parameters);
bool APMHasScreenParameters(const EventParameters& parameters);
QVariantMap APMScreenParametersFromParameters(const QVariantMap& parameters);
EventParameters APMScreenParametersFromParameters(const EventParameters& parameters);

// Whether any value is an array (a list, or an APMValue holding one).
bool APMHasArrayParameter(const QVariantMap& parameters);
bool APMHasArrayParameter(const EventParameters& parameters);
// The number of items in the event's array parameters; 0 without an event.
qint64 APMEventArrayItemCount(const APMEvent* event);

// The number of keys that are public names, not counting the standard item
// parameter names when asked.
qint64 APMCountPublicParameters(const EventParameters& parameters, bool excludeItemParameters);

// Whether the name may be a parameter name (under the public rules too when
// checkPublic is set). A refused name is recorded in `errors`, when given, as
// InvalidParameterName or ParameterNameIsReserved.
bool APMIsValidParameterName(const QString& name, bool checkPublic, EventParameters* errors);

// The names of the parameters that pass the name check (violations recorded
// in `errors` as by APMIsValidParameterName), sorted by APMCompareNamesEnUS.
QStringList APMValidParameterNamesSorted(const QVariantMap& parameters, bool checkPublic, EventParameters* errors);
// Orders names as an English (United States) reader would; a null name
// sorts first. -1, 0 or 1.
int APMCompareNamesEnUS(const QString& a, const QString& b);

// Error parameters: "_err" (the APMEventErrorCode), "_ev" (the offending name
// or value, at most maxLength code points and then "..."), "_el" (the length
// of the offending value). The first error recorded in a dictionary wins.
void APMSetErrorCodeIfAbsent(EventParameters& parameters, qint64 code);
// Records code, value and length unless any of the three is present. The
// length comes from lengthSource (an invalid QVariant: no length).
void APMSetErrorIfAbsent(EventParameters& parameters, qint64 code, const QVariant& value, qint64 maxLength,
    const QVariant& lengthSource);
// Records "_ev" (and "_el" from lengthSource) unless either is present. A
// value that is not a string is described by its type name, nil as "(nil)".
void trimStringToLength(
    EventParameters& parameters, const QVariant& value, qint64 maxLength, const QVariant& lengthSource);
// Records the error that an array refusal of the validator stands for.
void APMSetArrayParameterError(
    EventParameters& parameters, qint64 failureCode, const QString& parameterName, const QString& eventName);

// Logs the internal error event "_err" (origin "auto") with the code; nothing
// for code 0. The longer form also names the offending parameter in "_ev"
// and gives the offending value's length in "_el" when that matters.
void APMLogErrorEvent(qint64 code, const InternalEventLogger& logger);
void APMLogErrorEventWithValue(qint64 code, const QString& name, qint64 maxLength, const QVariant& value,
    const InternalEventLogger& logger);

// Cleans an event's parameter dictionary: drops parameters whose name or
// value breaks the rules (recording the first violation as error
// parameters), converts values to APMValue, cleans item arrays and applies
// the parameter limits. Nothing for an empty dictionary. `isItem` marks the
// dictionary of one element of an item array.
std::optional<EventParameters> APMCleanEventParameters(const QVariantMap& parameters,
    const QString& eventName, bool checkPublic, bool isItem, const EventParameterLimits& limits);
// The same without an event.
std::optional<EventParameters> APMCleanParameters(
    const QVariantMap& parameters, bool checkPublic, const EventParameterLimits& limits);
// Cleans the array parameter `parameterName` of the event; nothing when the
// array may not be there at all (failureCode says why). An array that is only
// too long keeps its first 200 items (failureCode 12).
std::optional<APMValue> APMCleanArrayParameter(const QVariantList& array, const QString& parameterName,
    const QString& eventName, EventParameters* errors, bool isNested, bool checkPublic,
    const EventParameterLimits& limits, qint64* failureCode);
// Conversions and ad impressions carry money: a "value" must be numeric and
// come with a valid "currency", or it is removed (with error 18 or 19).
bool APMCheckValueAndCurrency(EventParameters& parameters);

// Removes public parameters, last in key order first, until at most `limit`
// remain; internal parameters are never counted or removed. With itemScoped
// the standard item parameters are left alone too.
void APMTrimParametersToLimit(EventParameters& parameters, qint64 limit, bool itemScoped);
void APMTrimPublicParametersToLimit(EventParameters& parameters, qint64 limit);
