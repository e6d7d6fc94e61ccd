// nanopb bindings, slot tables and operations of the remote configuration messages.
#include "analytics/wire/APMPBConfigurationSchema.h"

#include "analytics/wire/APMPBCodec.h"

#include <iterator>

#define APMPBNanoNumberFilter_FIELDLIST(X, a) APMPB_FIELDS_NumberFilter(APMPB_NANO_FIELD, X, a)
#define APMPBNanoNumberFilter_CALLBACK pb_default_field_callback
#define APMPBNanoNumberFilter_DEFAULT NULL
APMPB_DEFINE_MESSAGE_TYPE(NumberFilter)

#define APMPBNanoStringFilter_FIELDLIST(X, a) APMPB_FIELDS_StringFilter(APMPB_NANO_FIELD, X, a)
#define APMPBNanoStringFilter_CALLBACK pb_default_field_callback
#define APMPBNanoStringFilter_DEFAULT NULL
APMPB_DEFINE_MESSAGE_TYPE(StringFilter)
APMPB_DEFINE_ALLOCATE_ARRAYS(StringFilter)

#define APMPBNanoFilter_FIELDLIST(X, a) APMPB_FIELDS_Filter(APMPB_NANO_FIELD, X, a)
#define APMPBNanoFilter_CALLBACK pb_default_field_callback
#define APMPBNanoFilter_DEFAULT NULL
#define APMPBNanoFilter_string_filter_MSGTYPE APMPBNanoStringFilter
#define APMPBNanoFilter_number_filter_MSGTYPE APMPBNanoNumberFilter
APMPB_DEFINE_MESSAGE_TYPE(Filter)
APMPB_DEFINE_ALLOCATE_ARRAYS(Filter)

#define APMPBNanoPropertyFilter_FIELDLIST(X, a) APMPB_FIELDS_PropertyFilter(APMPB_NANO_FIELD, X, a)
#define APMPBNanoPropertyFilter_CALLBACK pb_default_field_callback
#define APMPBNanoPropertyFilter_DEFAULT NULL
#define APMPBNanoPropertyFilter_filter_MSGTYPE APMPBNanoFilter
APMPB_DEFINE_MESSAGE_TYPE(PropertyFilter)
APMPB_DEFINE_ALLOCATE_ARRAYS(PropertyFilter)

#define APMPBNanoEventFilter_FIELDLIST(X, a) APMPB_FIELDS_EventFilter(APMPB_NANO_FIELD, X, a)
#define APMPBNanoEventFilter_CALLBACK pb_default_field_callback
#define APMPBNanoEventFilter_DEFAULT NULL
#define APMPBNanoEventFilter_filters_MSGTYPE APMPBNanoFilter
#define APMPBNanoEventFilter_event_count_filter_MSGTYPE APMPBNanoNumberFilter
APMPB_DEFINE_MESSAGE_TYPE(EventFilter)
APMPB_DEFINE_ALLOCATE_ARRAYS(EventFilter)

#define APMPBNanoAudience_FIELDLIST(X, a) APMPB_FIELDS_Audience(APMPB_NANO_FIELD, X, a)
#define APMPBNanoAudience_CALLBACK pb_default_field_callback
#define APMPBNanoAudience_DEFAULT NULL
#define APMPBNanoAudience_property_filters_MSGTYPE APMPBNanoPropertyFilter
#define APMPBNanoAudience_event_filters_MSGTYPE APMPBNanoEventFilter
APMPB_DEFINE_MESSAGE_TYPE(Audience)
APMPB_DEFINE_ALLOCATE_ARRAYS(Audience)

#define APMPBNanoSetting_FIELDLIST(X, a) APMPB_FIELDS_Setting(APMPB_NANO_FIELD, X, a)
#define APMPBNanoSetting_CALLBACK pb_default_field_callback
#define APMPBNanoSetting_DEFAULT NULL
APMPB_DEFINE_MESSAGE_TYPE(Setting)

#define APMPBNanoEventConfig_FIELDLIST(X, a) APMPB_FIELDS_EventConfig(APMPB_NANO_FIELD, X, a)
#define APMPBNanoEventConfig_CALLBACK pb_default_field_callback
#define APMPBNanoEventConfig_DEFAULT NULL
APMPB_DEFINE_MESSAGE_TYPE(EventConfig)

#define APMPBNanoConsentDefaultEntry_FIELDLIST(X, a) APMPB_FIELDS_ConsentDefaultEntry(APMPB_NANO_FIELD, X, a)
#define APMPBNanoConsentDefaultEntry_CALLBACK pb_default_field_callback
#define APMPBNanoConsentDefaultEntry_DEFAULT NULL
APMPB_DEFINE_MESSAGE_TYPE(ConsentDefaultEntry)

#define APMPBNanoConsentDelegationEntry_FIELDLIST(X, a)                                                      \
    APMPB_FIELDS_ConsentDelegationEntry(APMPB_NANO_FIELD, X, a)
#define APMPBNanoConsentDelegationEntry_CALLBACK pb_default_field_callback
#define APMPBNanoConsentDelegationEntry_DEFAULT NULL
APMPB_DEFINE_MESSAGE_TYPE(ConsentDelegationEntry)

#define APMPBNanoCorePlatformServiceEntry_FIELDLIST(X, a)                                                    \
    APMPB_FIELDS_CorePlatformServiceEntry(APMPB_NANO_FIELD, X, a)
#define APMPBNanoCorePlatformServiceEntry_CALLBACK pb_default_field_callback
#define APMPBNanoCorePlatformServiceEntry_DEFAULT NULL
APMPB_DEFINE_MESSAGE_TYPE(CorePlatformServiceEntry)

#define APMPBNanoConsentConfig_FIELDLIST(X, a) APMPB_FIELDS_ConsentConfig(APMPB_NANO_FIELD, X, a)
#define APMPBNanoConsentConfig_CALLBACK pb_default_field_callback
#define APMPBNanoConsentConfig_DEFAULT NULL
#define APMPBNanoConsentConfig_defaults_MSGTYPE APMPBNanoConsentDefaultEntry
#define APMPBNanoConsentConfig_delegations_MSGTYPE APMPBNanoConsentDelegationEntry
#define APMPBNanoConsentConfig_core_platform_services_MSGTYPE APMPBNanoCorePlatformServiceEntry
#define APMPBNanoConsentConfig_enforced_defaults_MSGTYPE APMPBNanoConsentDefaultEntry
APMPB_DEFINE_MESSAGE_TYPE(ConsentConfig)
APMPB_DEFINE_ALLOCATE_ARRAYS(ConsentConfig)

#define APMPBNanoRegion_FIELDLIST(X, a) APMPB_FIELDS_Region(APMPB_NANO_FIELD, X, a)
#define APMPBNanoRegion_CALLBACK pb_default_field_callback
#define APMPBNanoRegion_DEFAULT NULL
APMPB_DEFINE_MESSAGE_TYPE(Region)

#define APMPBNanoDataControl_FIELDLIST(X, a) APMPB_FIELDS_DataControl(APMPB_NANO_FIELD, X, a)
#define APMPBNanoDataControl_CALLBACK pb_default_field_callback
#define APMPBNanoDataControl_DEFAULT NULL
#define APMPBNanoDataControl_opt_out_regions_MSGTYPE APMPBNanoRegion
APMPB_DEFINE_MESSAGE_TYPE(DataControl)
APMPB_DEFINE_ALLOCATE_ARRAYS(DataControl)

#define APMPBNanoPsmSetting_FIELDLIST(X, a) APMPB_FIELDS_PsmSetting(APMPB_NANO_FIELD, X, a)
#define APMPBNanoPsmSetting_CALLBACK pb_default_field_callback
#define APMPBNanoPsmSetting_DEFAULT (const pb_byte_t*)"\x08\x0e\x10\x0b\x18\x3c\x00"
APMPB_DEFINE_MESSAGE_TYPE(PsmSetting)

#define APMPBNanoSvtmSetting_FIELDLIST(X, a) APMPB_FIELDS_SvtmSetting(APMPB_NANO_FIELD, X, a)
#define APMPBNanoSvtmSetting_CALLBACK pb_default_field_callback
#define APMPBNanoSvtmSetting_DEFAULT NULL
APMPB_DEFINE_MESSAGE_TYPE(SvtmSetting)

#define APMPBNanoRuntimeEntity_FIELDLIST(X, a) APMPB_FIELDS_RuntimeEntity(APMPB_NANO_FIELD, X, a)
#define APMPBNanoRuntimeEntity_CALLBACK pb_default_field_callback
#define APMPBNanoRuntimeEntity_DEFAULT NULL
#define APMPBNanoRuntimeEntity_value_MSGTYPE APMPBNanoRuntimeEntity
APMPB_DEFINE_MESSAGE_TYPE(RuntimeEntity)
APMPB_DEFINE_ALLOCATE_ARRAYS(RuntimeEntity)

#define APMPBNanoOgtActivity_FIELDLIST(X, a) APMPB_FIELDS_OgtActivity(APMPB_NANO_FIELD, X, a)
#define APMPBNanoOgtActivity_CALLBACK pb_default_field_callback
#define APMPBNanoOgtActivity_DEFAULT NULL
#define APMPBNanoOgtActivity_data_MSGTYPE APMPBNanoRuntimeEntity
APMPB_DEFINE_MESSAGE_TYPE(OgtActivity)
APMPB_DEFINE_ALLOCATE_ARRAYS(OgtActivity)

#define APMPBNanoOgtActivities_FIELDLIST(X, a) APMPB_FIELDS_OgtActivities(APMPB_NANO_FIELD, X, a)
#define APMPBNanoOgtActivities_CALLBACK pb_default_field_callback
#define APMPBNanoOgtActivities_DEFAULT NULL
#define APMPBNanoOgtActivities_activities_MSGTYPE APMPBNanoOgtActivity
APMPB_DEFINE_MESSAGE_TYPE(OgtActivities)
APMPB_DEFINE_ALLOCATE_ARRAYS(OgtActivities)

#define APMPBNanoProgram_FIELDLIST(X, a) APMPB_FIELDS_Program(APMPB_NANO_FIELD, X, a)
#define APMPBNanoProgram_CALLBACK pb_default_field_callback
#define APMPBNanoProgram_DEFAULT NULL
#define APMPBNanoProgram_instructions_MSGTYPE APMPBNanoRuntimeEntity
#define APMPBNanoProgram_activities_MSGTYPE APMPBNanoOgtActivities
APMPB_DEFINE_MESSAGE_TYPE(Program)
APMPB_DEFINE_ALLOCATE_ARRAYS(Program)

#define APMPBNanoMeasurementConfig_FIELDLIST(X, a) APMPB_FIELDS_MeasurementConfig(APMPB_NANO_FIELD, X, a)
#define APMPBNanoMeasurementConfig_CALLBACK pb_default_field_callback
#define APMPBNanoMeasurementConfig_DEFAULT (const pb_byte_t*)"\x40\x00\x00"
#define APMPBNanoMeasurementConfig_settings_MSGTYPE APMPBNanoSetting
#define APMPBNanoMeasurementConfig_event_config_MSGTYPE APMPBNanoEventConfig
#define APMPBNanoMeasurementConfig_audiences_MSGTYPE APMPBNanoAudience
#define APMPBNanoMeasurementConfig_dynamic_event_editing_MSGTYPE APMPBNanoProgram
#define APMPBNanoMeasurementConfig_data_controls_MSGTYPE APMPBNanoDataControl
#define APMPBNanoMeasurementConfig_consent_config_MSGTYPE APMPBNanoConsentConfig
#define APMPBNanoMeasurementConfig_psm_setting_MSGTYPE APMPBNanoPsmSetting
#define APMPBNanoMeasurementConfig_svtm_setting_MSGTYPE APMPBNanoSvtmSetting
#define APMPBNanoMeasurementConfig_region_MSGTYPE APMPBNanoRegion
APMPB_DEFINE_MESSAGE_TYPE(MeasurementConfig)
APMPB_DEFINE_ALLOCATE_ARRAYS(MeasurementConfig)
