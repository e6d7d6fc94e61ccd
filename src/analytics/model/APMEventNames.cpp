#include "analytics/model/APMEventNames.h"

#include "analytics/model/APMEvent.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMLibrary.h"

#include <QSet>

namespace {

const QString kBasaltPrefix = QStringLiteral("basalt_");

QMap<QString, QString> invertedPreferringNonBasalt(const QMap<QString, QString>& table)
{
    QMap<QString, QString> inverted;
    for (auto it = table.cbegin(); it != table.cend(); ++it) {
        const auto existing = inverted.constFind(it.value());
        if (existing == inverted.cend() || existing.value().startsWith(kBasaltPrefix))
            inverted.insert(it.value(), it.key());
    }
    return inverted;
}

} // namespace

const QMap<QString, QString>& APMPublicToInternalEventNames()
{
    static const QMap<QString, QString> table = {
        { QStringLiteral("adunit_exposure"), QStringLiteral("_xu") },
        { QStringLiteral("ad_activeview"), QStringLiteral("_aa") },
        { QStringLiteral("ad_click"), QStringLiteral("_ac") },
        { QStringLiteral("ad_exposure"), QStringLiteral("_xa") },
        { APMEventNames::kAdImpressionEvent, APMEventNames::kAdImpressionInternalEvent },
        { QStringLiteral("ad_query"), QStringLiteral("_aq") },
        { QStringLiteral("ad_reward"), QStringLiteral("_ar") },
        { QStringLiteral("app_clear_data"), QStringLiteral("_cd") },
        { QStringLiteral("app_exception"), QStringLiteral("_ae") },
        { QStringLiteral("app_remove"), QStringLiteral("_ui") },
        { QStringLiteral("app_store_refund"), QStringLiteral("_asr") },
        { QStringLiteral("app_store_subscription_cancel"), QStringLiteral("_asse") },
        { QStringLiteral("app_store_subscription_convert"), QStringLiteral("_assc") },
        { QStringLiteral("app_store_subscription_renew"), QStringLiteral("_assr") },
        { QStringLiteral("app_update"), QStringLiteral("_au") },
        { QStringLiteral("app_upgrade"), QStringLiteral("_ug") },
        { QStringLiteral("basalt_campaign"), APMEventNames::kCampaignEvent },
        { QStringLiteral("first_open"), QStringLiteral("_f") },
        { QStringLiteral("first_visit"), QStringLiteral("_v") },
        { QStringLiteral("va_campaign"), APMEventNames::kCampaignEvent },
        { QStringLiteral("va_extra_parameter"), QStringLiteral("_ep") },
        { QStringLiteral("in_app_purchase"), APMEventNames::kInAppPurchaseEvent },
        { QStringLiteral("notification_dismiss"), QStringLiteral("_nd") },
        { QStringLiteral("notification_foreground"), QStringLiteral("_nf") },
        { QStringLiteral("notification_open"), QStringLiteral("_no") },
        { QStringLiteral("notification_receive"), QStringLiteral("_nr") },
        { QStringLiteral("os_update"), QStringLiteral("_ou") },
        { APMEventNames::kScreenViewEvent, QStringLiteral("_vs") },
        { QStringLiteral("session_start"), QStringLiteral("_s") },
        { QStringLiteral("session_start_with_rollout"), QStringLiteral("_ssr") },
        { QStringLiteral("user_engagement"), QStringLiteral("_e") },
        { QStringLiteral("error"), APMEventNames::kErrorEvent },
    };
    return table;
}

const QMap<QString, QString>& APMInternalToPublicEventNames()
{
    static const QMap<QString, QString> table = invertedPreferringNonBasalt(APMPublicToInternalEventNames());
    return table;
}

const QMap<QString, QString>& APMPublicEventsConvertedToInternal()
{
    static const QMap<QString, QString> table = {
        { APMEventNames::kAdImpressionEvent, APMEventNames::kAdImpressionInternalEvent },
    };
    return table;
}

const QMap<QString, QString>& APMPublicToInternalParameterNames()
{
    static const QMap<QString, QString> table = {
        { QStringLiteral("ad_event_id"), QStringLiteral("_aeid") },
        { QStringLiteral("ad_unit_id"), QStringLiteral("_ai") },
        { QStringLiteral("app_in_background"), QStringLiteral("_aib") },
        { QStringLiteral("deferred_analytics_collection"), QStringLiteral("_dac") },
        { QStringLiteral("engagement_time_msec"), QStringLiteral("_et") },
        { QStringLiteral("exposure_time"), QStringLiteral("_xt") },
        { QStringLiteral("basalt_conversion"), APMEventNames::kConversionParameter },
        { QStringLiteral("basalt_debug"), APMEventNames::kDebugParameter },
        { QStringLiteral("basalt_error"), APMEventNames::kErrorParameter },
        { QStringLiteral("basalt_error_length"), APMEventNames::kErrorLengthParameter },
        { QStringLiteral("basalt_error_value"), APMEventNames::kErrorValueParameter },
        { QStringLiteral("basalt_event_origin"), APMEventNames::kOriginParameter },
        { QStringLiteral("basalt_feature_rollouts"), QStringLiteral("_ffr") },
        { QStringLiteral("basalt_previous_class"), QStringLiteral("_pc") },
        { QStringLiteral("basalt_previous_id"), QStringLiteral("_pi") },
        { QStringLiteral("basalt_previous_screen"), QStringLiteral("_pn") },
        { QStringLiteral("basalt_realtime"), APMEventNames::kRealtimeParameter },
        { QStringLiteral("basalt_screen"), APMEventNames::kScreenNameParameter },
        { QStringLiteral("basalt_screen_class"), APMEventNames::kScreenClassParameter },
        { QStringLiteral("basalt_screen_id"), APMEventNames::kScreenIDParameter },
        { QStringLiteral("va_conversion"), APMEventNames::kConversionParameter },
        { QStringLiteral("va_debug"), APMEventNames::kDebugParameter },
        { QStringLiteral("va_dedupe_id"), QStringLiteral("_did") },
        { QStringLiteral("va_error"), APMEventNames::kErrorParameter },
        { QStringLiteral("va_error_length"), APMEventNames::kErrorLengthParameter },
        { QStringLiteral("va_error_value"), APMEventNames::kErrorValueParameter },
        { QStringLiteral("va_event_id"), QStringLiteral("_eid") },
        { QStringLiteral("va_event_name"), QStringLiteral("_en") },
        { QStringLiteral("va_event_origin"), APMEventNames::kOriginParameter },
        { QStringLiteral("va_extra_params_ct"), QStringLiteral("_epc") },
        { QStringLiteral("va_group_name"), QStringLiteral("_gn") },
        { QStringLiteral("va_index"), QStringLiteral("_i") },
        { QStringLiteral("va_list_length"), QStringLiteral("_ll") },
        { QStringLiteral("va_previous_class"), QStringLiteral("_pc") },
        { QStringLiteral("va_previous_id"), QStringLiteral("_pi") },
        { QStringLiteral("va_previous_screen"), QStringLiteral("_pn") },
        { QStringLiteral("va_realtime"), APMEventNames::kRealtimeParameter },
        { QStringLiteral("va_screen"), APMEventNames::kScreenNameParameter },
        { QStringLiteral("va_screen_class"), APMEventNames::kScreenClassParameter },
        { QStringLiteral("va_screen_id"), APMEventNames::kScreenIDParameter },
        { QStringLiteral("message_id"), QStringLiteral("_nmid") },
        { QStringLiteral("message_name"), QStringLiteral("_nmn") },
        { QStringLiteral("message_time"), QStringLiteral("_nmt") },
        { QStringLiteral("message_tracking_id"), QStringLiteral("_nmtid") },
        { QStringLiteral("message_type"), QStringLiteral("_nmc") },
        { QStringLiteral("message_device_time"), QStringLiteral("_ndt") },
        { QStringLiteral("previous_app_version"), QStringLiteral("_pv") },
        { QStringLiteral("previous_first_open_count"), QStringLiteral("_pfo") },
        { QStringLiteral("previous_vmp_app_id"), QStringLiteral("_pvmp") },
        { QStringLiteral("previous_os_version"), QStringLiteral("_po") },
        { QStringLiteral("session_id"), QStringLiteral("_sid") },
        { QStringLiteral("session_number"), QStringLiteral("_sno") },
        { QStringLiteral("topic"), QStringLiteral("_nt") },
        { QStringLiteral("update_with_analytics"), QStringLiteral("_uwa") },
    };
    return table;
}

const QMap<qint64, QString>& APMEventErrorCodeNames()
{
    static const QMap<qint64, QString> table = {
        { APMEventErrorCodeNoError, QStringLiteral("NoError") },
        { APMEventErrorCodeInvalidVMPAppID, QStringLiteral("InvalidVMPAppID") },
        { APMEventErrorCodeInvalidEventName, QStringLiteral("InvalidEventName") },
        { APMEventErrorCodeInvalidParameterName, QStringLiteral("InvalidParameterName") },
        { APMEventErrorCodeInvalidParameterValue, QStringLiteral("InvalidParameterValue") },
        { APMEventErrorCodeParameterLimitReached, QStringLiteral("ParameterLimitReached") },
        { APMEventErrorCodeInvalidUserPropertyName, QStringLiteral("InvalidUserPropertyName") },
        { APMEventErrorCodeUserPropertyValueTooLong, QStringLiteral("UserPropertyValueTooLong") },
        { APMEventErrorCodeEventLimitReached, QStringLiteral("EventLimitReached") },
        { APMEventErrorCodeUserPropertyLimitReached, QStringLiteral("UserPropertyLimitReached") },
        { APMEventErrorCodeConversionEventLimitReached, QStringLiteral("ConversionEventLimitReached") },
        { APMEventErrorCodeEventIsBlocked, QStringLiteral("EventIsBlocked") },
        { APMEventErrorCodeUserPropertyIsBlocked, QStringLiteral("UserPropertyIsBlocked") },
        { APMEventErrorCodeEventNameIsReserved, QStringLiteral("EventNameIsReserved") },
        { APMEventErrorCodeParameterNameIsReserved, QStringLiteral("ParameterNameIsReserved") },
        { APMEventErrorCodeUserPropertyNameIsReserved, QStringLiteral("UserPropertyNameIsReserved") },
        { APMEventErrorCodePublicEventLimitReached, QStringLiteral("PublicEventLimitReached") },
        { APMEventErrorCodeTooManyExtraParamEvents, QStringLiteral("TooManyExtraParamEvents") },
        { APMEventErrorCodeValueIsNotNumeric, QStringLiteral("ValueIsNotNumeric") },
        { APMEventErrorCodeCurrencyCodeIsMissingOrInvalid, QStringLiteral("CurrencyCodeIsMissingOrInvalid") },
        { APMEventErrorCodeInvalidArrayParamName, QStringLiteral("InvalidArrayParamName") },
        { APMEventErrorCodeInvalidArrayParamEventName, QStringLiteral("InvalidArrayParamEventName") },
        { APMEventErrorCodeInvalidArrayParamNesting, QStringLiteral("InvalidArrayParamNesting") },
        { APMEventErrorCodeCustomParamsInArrayElement, QStringLiteral("CustomParamsInArrayElement") },
        { APMEventErrorCodeItemScopedCustomParameterLimitReached,
            QStringLiteral("ItemScopedCustomParameterLimitReached") },
    };
    return table;
}

bool APMIsPublicName(const QString& name)
{
    if (name.isEmpty()) {
        APMLibrary::monitor().logWithLevel(
            APMMonitor::kLevelErrorSilent, 18003, QStringLiteral("Cannot check the name. Name is empty"));
        return false;
    }
    return name.front() != QLatin1Char('_');
}

bool APMIsErrorEvent(const APMEvent& event)
{
    if (event.name().isEmpty()) {
        APMLibrary::monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 18004,
            QStringLiteral("Cannot check the event name. Name is empty"));
        return false;
    }
    return event.name() == APMEventNames::kErrorEvent;
}

bool APMIsNotErrorEventName(const QString& name)
{
    return name != APMEventNames::kErrorEvent;
}

bool APMIsItemArrayEvent(const QString& name)
{
    static const QSet<QString> names = {
        QStringLiteral("add_payment_info"),
        QStringLiteral("add_shipping_info"),
        QStringLiteral("add_to_cart"),
        QStringLiteral("add_to_wishlist"),
        QStringLiteral("begin_checkout"),
        QStringLiteral("purchase"),
        QStringLiteral("refund"),
        QStringLiteral("remove_from_cart"),
        QStringLiteral("select_item"),
        QStringLiteral("select_promotion"),
        QStringLiteral("view_cart"),
        QStringLiteral("view_item"),
        QStringLiteral("view_item_list"),
        QStringLiteral("view_promotion"),
        QStringLiteral("ecommerce_purchase"),
        QStringLiteral("checkout_progress"),
        QStringLiteral("purchase_refund"),
        QStringLiteral("select_content"),
        QStringLiteral("set_checkout_option"),
        QStringLiteral("view_search_results"),
    };
    return names.contains(name);
}

bool APMIsItemParameterName(const QString& name)
{
    static const QSet<QString> names = {
        QStringLiteral("affiliation"),
        QStringLiteral("coupon"),
        QStringLiteral("creative_name"),
        QStringLiteral("creative_slot"),
        APMEventNames::kCurrencyParameter,
        QStringLiteral("discount"),
        QStringLiteral("index"),
        QStringLiteral("item_id"),
        QStringLiteral("item_brand"),
        QStringLiteral("item_category"),
        QStringLiteral("item_category2"),
        QStringLiteral("item_category3"),
        QStringLiteral("item_category4"),
        QStringLiteral("item_category5"),
        QStringLiteral("item_list_name"),
        QStringLiteral("item_list_id"),
        QStringLiteral("item_name"),
        QStringLiteral("item_variant"),
        QStringLiteral("location_id"),
        QStringLiteral("payment_type"),
        QStringLiteral("price"),
        QStringLiteral("promotion_id"),
        QStringLiteral("promotion_name"),
        QStringLiteral("quantity"),
        QStringLiteral("shipping"),
        QStringLiteral("shipping_tier"),
        QStringLiteral("tax"),
        QStringLiteral("transaction_id"),
        APMEventNames::kValueParameter,
        QStringLiteral("checkout_step"),
        QStringLiteral("checkout_option"),
        QStringLiteral("item_list"),
        QStringLiteral("item_location_id"),
    };
    return names.contains(name);
}

bool APMIsPurchaseRelatedEvent(const QString& name)
{
    static const QSet<QString> names = {
        QStringLiteral("ecommerce_purchase"),
        QStringLiteral("_f"),
        APMEventNames::kInAppPurchaseEvent,
        QStringLiteral("purchase"),
        QStringLiteral("refund"),
    };
    return names.contains(name);
}

bool APMIsSubscriptionEvent(const APMEvent& event)
{
    if (event.name() == QLatin1String("_assc") || event.name() == QLatin1String("_assr"))
        return true;
    if (event.name() != APMEventNames::kInAppPurchaseEvent)
        return false;
    const auto it = event.parameters().constFind(APMEventNames::kSubscriptionParameter);
    return it != event.parameters().cend() && it->isInt64() && it->int64Value() == 1;
}
