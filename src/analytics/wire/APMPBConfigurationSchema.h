#pragma once

// Remote measurement configuration messages: settings, per-event
// configuration, audiences and their filters, consent configuration, data
// controls and the event-editing programs of the rules runtime.
// Field lists: F(X, a, slot, name, tag, label, type, submessage), in tag order.

#include "analytics/wire/APMPBSchema.h"

// A comparison against one value or a range; values travel as decimal text.
#define APMPB_FIELDS_NumberFilter(F, X, a)                                                                   \
    F(X, a, 0, comparison_type, 1, Singular, Enum, None)                                                     \
    F(X, a, 1, match_as_float, 2, Singular, Bool, None)                                                      \
    F(X, a, 2, comparison_value, 3, Singular, String, None)                                                  \
    F(X, a, 3, min_comparison_value, 4, Singular, String, None)                                              \
    F(X, a, 4, max_comparison_value, 5, Singular, String, None)

#define APMPB_FIELDS_StringFilter(F, X, a)                                                                   \
    F(X, a, 0, match_type, 1, Singular, Enum, None)                                                          \
    F(X, a, 1, expression, 2, Singular, String, None)                                                        \
    F(X, a, 2, case_sensitive, 3, Singular, Bool, None)                                                      \
    F(X, a, 3, expression_list, 4, Repeated, String, None)

// A value filter: one of string_filter and number_filter.
#define APMPB_FIELDS_Filter(F, X, a)                                                                         \
    F(X, a, 0, string_filter, 1, Singular, Message, StringFilter)                                            \
    F(X, a, 1, number_filter, 2, Singular, Message, NumberFilter)                                            \
    F(X, a, 2, complement, 3, Singular, Bool, None)                                                          \
    F(X, a, 3, param_name, 4, Singular, String, None)

// A user-property filter of an audience.
#define APMPB_FIELDS_PropertyFilter(F, X, a)                                                                 \
    F(X, a, 0, filter_id, 1, Singular, Int32, None)                                                          \
    F(X, a, 1, property_name, 2, Singular, String, None)                                                     \
    F(X, a, 2, filter, 3, Singular, Message, Filter)                                                         \
    F(X, a, 3, dynamic, 4, Singular, Bool, None)                                                             \
    F(X, a, 4, sequence, 5, Singular, Bool, None)                                                            \
    F(X, a, 5, session_scoped, 6, Singular, Bool, None)

// An event filter of an audience.
#define APMPB_FIELDS_EventFilter(F, X, a)                                                                    \
    F(X, a, 0, filter_id, 1, Singular, Int32, None)                                                          \
    F(X, a, 1, event_name, 2, Singular, String, None)                                                        \
    F(X, a, 2, filters, 3, Repeated, Message, Filter)                                                        \
    F(X, a, 3, tag_4, 4, Singular, Bool, None)                                                               \
    F(X, a, 4, event_count_filter, 5, Singular, Message, NumberFilter)                                       \
    F(X, a, 5, dynamic, 6, Singular, Bool, None)                                                             \
    F(X, a, 6, sequence, 7, Singular, Bool, None)                                                            \
    F(X, a, 7, session_scoped, 8, Singular, Bool, None)

#define APMPB_FIELDS_Audience(F, X, a)                                                                       \
    F(X, a, 0, audience_id, 1, Singular, Int32, None)                                                        \
    F(X, a, 1, property_filters, 2, Repeated, Message, PropertyFilter)                                       \
    F(X, a, 2, event_filters, 3, Repeated, Message, EventFilter)                                             \
    F(X, a, 3, tag_4, 4, Singular, Bool, None)                                                               \
    F(X, a, 4, tag_5, 5, Singular, Bool, None)

// One remote setting; the value is text.
#define APMPB_FIELDS_Setting(F, X, a)                                                                        \
    F(X, a, 0, name, 1, Singular, String, None)                                                              \
    F(X, a, 1, value, 2, Singular, String, None)

#define APMPB_FIELDS_EventConfig(F, X, a)                                                                    \
    F(X, a, 0, name, 1, Singular, String, None)                                                              \
    F(X, a, 1, blocklisted, 2, Singular, Bool, None)                                                         \
    F(X, a, 2, custom_conversion, 3, Singular, Bool, None)                                                   \
    F(X, a, 3, sampling_rate, 4, Singular, Int32, None)

#define APMPB_FIELDS_ConsentDefaultEntry(F, X, a)                                                            \
    F(X, a, 0, consent_type, 1, Singular, Enum, None)                                                        \
    F(X, a, 1, default_value, 2, Singular, Enum, None)

#define APMPB_FIELDS_ConsentDelegationEntry(F, X, a)                                                         \
    F(X, a, 0, consent_type, 1, Singular, Enum, None)                                                        \
    F(X, a, 1, delegated_consent_type, 2, Singular, Enum, None)

#define APMPB_FIELDS_CorePlatformServiceEntry(F, X, a)                                                       \
    F(X, a, 0, name, 1, Singular, String, None)                                                              \
    F(X, a, 1, tag_2, 2, Singular, String, None)

#define APMPB_FIELDS_ConsentConfig(F, X, a)                                                                  \
    F(X, a, 0, defaults, 1, Repeated, Message, ConsentDefaultEntry)                                          \
    F(X, a, 1, delegations, 2, Repeated, Message, ConsentDelegationEntry)                                    \
    F(X, a, 2, core_platform_services, 3, Repeated, Message, CorePlatformServiceEntry)                       \
    F(X, a, 3, is_dma_region, 4, Singular, Bool, None)                                                       \
    F(X, a, 4, enforced_defaults, 5, Repeated, Message, ConsentDefaultEntry)

#define APMPB_FIELDS_Region(F, X, a)                                                                         \
    F(X, a, 0, tag_1, 1, Singular, String, None)                                                             \
    F(X, a, 1, tag_2, 2, Singular, String, None)

#define APMPB_FIELDS_DataControl(F, X, a)                                                                    \
    F(X, a, 0, name, 1, Singular, String, None)                                                              \
    F(X, a, 1, opt_out_regions, 2, Repeated, Message, Region)                                                \
    F(X, a, 2, tag_3, 3, Singular, Bool, None)

// Declared defaults 14, 11 and 60 (never stored into a record by decoding).
#define APMPB_FIELDS_PsmSetting(F, X, a)                                                                     \
    F(X, a, 0, psm_prefix_email, 1, Singular, Int32, None)                                                   \
    F(X, a, 1, psm_prefix_phone, 2, Singular, Int32, None)                                                   \
    F(X, a, 2, psm_signin_delay, 3, Singular, Int32, None)

#define APMPB_FIELDS_SvtmSetting(F, X, a)                                                                    \
    F(X, a, 0, tag_1, 1, Singular, String, None)                                                             \
    F(X, a, 1, tag_2, 2, Singular, String, None)                                                             \
    F(X, a, 2, tag_3, 3, Singular, String, None)                                                             \
    F(X, a, 3, tag_4, 4, Singular, Int32, None)

// One node of a rules-runtime program tree.
#define APMPB_FIELDS_RuntimeEntity(F, X, a)                                                                  \
    F(X, a, 0, type, 1, Singular, Enum, None)                                                                \
    F(X, a, 1, value, 2, Repeated, Message, RuntimeEntity)                                                   \
    F(X, a, 2, statement, 3, Singular, String, None)                                                         \
    F(X, a, 3, string_value, 4, Singular, String, None)                                                      \
    F(X, a, 4, boolean_value, 5, Singular, Bool, None)                                                       \
    F(X, a, 5, number_value, 6, Singular, Double, None)

#define APMPB_FIELDS_OgtActivity(F, X, a)                                                                    \
    F(X, a, 0, name, 1, Singular, String, None)                                                              \
    F(X, a, 1, data, 2, Repeated, Message, RuntimeEntity)

#define APMPB_FIELDS_OgtActivities(F, X, a) F(X, a, 0, activities, 1, Repeated, Message, OgtActivity)

// One event-editing program.
#define APMPB_FIELDS_Program(F, X, a)                                                                        \
    F(X, a, 0, instructions, 1, Repeated, Message, RuntimeEntity)                                            \
    F(X, a, 1, activities, 2, Singular, Message, OgtActivities)

// The remote configuration. Tags 12 and 13 are not defined.
#define APMPB_FIELDS_MeasurementConfig(F, X, a)                                                              \
    F(X, a, 0, version, 1, Singular, Int64, None)                                                            \
    F(X, a, 1, vmp_app_id, 2, Singular, String, None)                                                        \
    F(X, a, 2, tag_3, 3, Singular, Int32, None)                                                              \
    F(X, a, 3, settings, 4, Repeated, Message, Setting)                                                      \
    F(X, a, 4, event_config, 5, Repeated, Message, EventConfig)                                              \
    F(X, a, 5, audiences, 6, Repeated, Message, Audience)                                                    \
    F(X, a, 6, adnest_app_id, 7, Singular, String, None)                                                     \
    F(X, a, 7, tag_8, 8, Singular, Bool, None)                                                               \
    F(X, a, 8, dynamic_event_editing, 9, Repeated, Message, Program)                                         \
    F(X, a, 9, data_controls, 10, Repeated, Message, DataControl)                                            \
    F(X, a, 10, upload_subdomain, 11, Singular, String, None)                                                \
    F(X, a, 11, tag_14, 14, Singular, String, None)                                                          \
    F(X, a, 12, consent_config, 15, Singular, Message, ConsentConfig)                                        \
    F(X, a, 13, psm_setting, 16, Singular, Message, PsmSetting)                                              \
    F(X, a, 14, svtm_setting, 17, Singular, Message, SvtmSetting)                                            \
    F(X, a, 15, region, 18, Singular, Message, Region)

APMPB_DECLARE_MESSAGE(NumberFilter)
APMPB_DECLARE_MESSAGE(StringFilter)
APMPB_DECLARE_ALLOCATE_ARRAYS(StringFilter)
APMPB_DECLARE_MESSAGE(Filter)
APMPB_DECLARE_ALLOCATE_ARRAYS(Filter)
APMPB_DECLARE_MESSAGE(PropertyFilter)
APMPB_DECLARE_ALLOCATE_ARRAYS(PropertyFilter)
APMPB_DECLARE_MESSAGE(EventFilter)
APMPB_DECLARE_ALLOCATE_ARRAYS(EventFilter)
APMPB_DECLARE_MESSAGE(Audience)
APMPB_DECLARE_ALLOCATE_ARRAYS(Audience)
APMPB_DECLARE_MESSAGE(Setting)
APMPB_DECLARE_MESSAGE(EventConfig)
APMPB_DECLARE_MESSAGE(ConsentDefaultEntry)
APMPB_DECLARE_MESSAGE(ConsentDelegationEntry)
APMPB_DECLARE_MESSAGE(CorePlatformServiceEntry)
APMPB_DECLARE_MESSAGE(ConsentConfig)
APMPB_DECLARE_ALLOCATE_ARRAYS(ConsentConfig)
APMPB_DECLARE_MESSAGE(Region)
APMPB_DECLARE_MESSAGE(DataControl)
APMPB_DECLARE_ALLOCATE_ARRAYS(DataControl)
APMPB_DECLARE_MESSAGE(PsmSetting)
APMPB_DECLARE_MESSAGE(SvtmSetting)
APMPB_DECLARE_MESSAGE(RuntimeEntity)
APMPB_DECLARE_ALLOCATE_ARRAYS(RuntimeEntity)
APMPB_DECLARE_MESSAGE(OgtActivity)
APMPB_DECLARE_ALLOCATE_ARRAYS(OgtActivity)
APMPB_DECLARE_MESSAGE(OgtActivities)
APMPB_DECLARE_ALLOCATE_ARRAYS(OgtActivities)
APMPB_DECLARE_MESSAGE(Program)
APMPB_DECLARE_ALLOCATE_ARRAYS(Program)
APMPB_DECLARE_MESSAGE(MeasurementConfig)
APMPB_DECLARE_ALLOCATE_ARRAYS(MeasurementConfig)
