#pragma once

#include <QMap>
#include <QString>

class APMEvent;

// Public names are what an application passes ("screen_view"); internal names
// are the short forms beginning with "_" ("_vs") that are stored and
// uploaded. A name is public exactly when it does not begin with "_".

// The value of the "_err" parameter: why an event lost a parameter or why an
// error event was logged.
enum APMEventErrorCode : qint64 {
    APMEventErrorCodeNoError = 0,
    APMEventErrorCodeInvalidVMPAppID = 1,
    APMEventErrorCodeInvalidEventName = 2,
    APMEventErrorCodeInvalidParameterName = 3,
    APMEventErrorCodeInvalidParameterValue = 4,
    APMEventErrorCodeParameterLimitReached = 5,
    APMEventErrorCodeInvalidUserPropertyName = 6,
    APMEventErrorCodeUserPropertyValueTooLong = 7,
    APMEventErrorCodeEventLimitReached = 8,
    APMEventErrorCodeUserPropertyLimitReached = 9,
    APMEventErrorCodeConversionEventLimitReached = 10,
    APMEventErrorCodeEventIsBlocked = 11,
    APMEventErrorCodeUserPropertyIsBlocked = 12,
    APMEventErrorCodeEventNameIsReserved = 13,
    APMEventErrorCodeParameterNameIsReserved = 14,
    APMEventErrorCodeUserPropertyNameIsReserved = 15,
    APMEventErrorCodePublicEventLimitReached = 16,
    APMEventErrorCodeTooManyExtraParamEvents = 17,
    APMEventErrorCodeValueIsNotNumeric = 18,
    APMEventErrorCodeCurrencyCodeIsMissingOrInvalid = 19,
    APMEventErrorCodeInvalidArrayParamName = 20,
    APMEventErrorCodeInvalidArrayParamEventName = 21,
    APMEventErrorCodeInvalidArrayParamNesting = 22,
    APMEventErrorCodeCustomParamsInArrayElement = 23,
    APMEventErrorCodeItemScopedCustomParameterLimitReached = 28,
};

// Names that carry meaning of their own.
namespace APMEventNames {
// Event origins: the library's own events, the application's, the ad front end's.
inline const QString kAutoOrigin = QStringLiteral("auto");
inline const QString kAppOrigin = QStringLiteral("app");
inline const QString kAdOrigin = QStringLiteral("am");
inline const QString kCampaignEvent = QStringLiteral("_cmp");
inline const QString kErrorEvent = QStringLiteral("_err");
inline const QString kScreenViewEvent = QStringLiteral("screen_view");
inline const QString kAdImpressionEvent = QStringLiteral("ad_impression");
inline const QString kAdImpressionInternalEvent = QStringLiteral("_ai");
inline const QString kInAppPurchaseEvent = QStringLiteral("_iap");
inline const QString kItemsParameter = QStringLiteral("items");
inline const QString kValueParameter = QStringLiteral("value");
inline const QString kCurrencyParameter = QStringLiteral("currency");
inline const QString kSubscriptionParameter = QStringLiteral("subscription");
inline const QString kOriginParameter = QStringLiteral("_o");
inline const QString kConversionParameter = QStringLiteral("_c");
inline const QString kRealtimeParameter = QStringLiteral("_r");
inline const QString kDebugParameter = QStringLiteral("_dbg");
inline const QString kErrorParameter = QStringLiteral("_err");
inline const QString kErrorValueParameter = QStringLiteral("_ev");
inline const QString kErrorLengthParameter = QStringLiteral("_el");
inline const QString kScreenNameParameter = QStringLiteral("_sn");
inline const QString kScreenClassParameter = QStringLiteral("_sc");
inline const QString kScreenIDParameter = QStringLiteral("_si");
} // namespace APMEventNames

// Fixed tables, built once on first use.
const QMap<QString, QString>& APMPublicToInternalEventNames();
// The inverse; of the two public names of "_cmp" it holds "va_campaign".
const QMap<QString, QString>& APMInternalToPublicEventNames();
// The one public event that bundling renames to its internal name.
const QMap<QString, QString>& APMPublicEventsConvertedToInternal();
const QMap<QString, QString>& APMPublicToInternalParameterNames();
const QMap<qint64, QString>& APMEventErrorCodeNames();

// True for a non-empty name whose first character is not "_"; an empty name
// is logged (level 2, code 18003) and is not public.
bool APMIsPublicName(const QString& name);
// True when the event is the internal error event; an event without a name
// is logged (level 2, code 18004) and is not.
bool APMIsErrorEvent(const APMEvent& event);
bool APMIsNotErrorEventName(const QString& name);

// Event families, by exact name.
bool APMIsItemArrayEvent(const QString& name); // may carry an "items" array
bool APMIsItemParameterName(const QString& name); // standard parameters of an item
bool APMIsPurchaseRelatedEvent(const QString& name);
// "_assc", "_assr", or "_iap" whose "subscription" is the int64 value 1.
bool APMIsSubscriptionEvent(const APMEvent& event);
