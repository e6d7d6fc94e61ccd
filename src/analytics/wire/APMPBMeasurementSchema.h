#pragma once

// Measurement messages: the upload batch, the bundle with its events and user
// properties, the per-audience filter results and their timestamp records.
// Field lists: F(X, a, slot, name, tag, label, type, submessage), in tag order.

#include "analytics/wire/APMPBSchema.h"

#define APMPB_FIELDS_DynamicFilterResultTimestamp(F, X, a)                                                   \
    F(X, a, 0, filter_id, 1, Singular, Int32, None)                                                          \
    F(X, a, 1, timestamp_millis, 2, Singular, Int64, None)

// Evaluation times of one sequence filter.
#define APMPB_FIELDS_SequenceFilterResultTimestamp(F, X, a)                                                  \
    F(X, a, 0, filter_id, 1, Singular, Int32, None)                                                          \
    F(X, a, 1, eval_timestamps, 2, Repeated, Int64, None)

// The evaluated state of one audience's filters: filter ID n is bit n % 64 of
// word n / 64 of each list; status marks evaluated filters, results true ones.
#define APMPB_FIELDS_ResultData(F, X, a)                                                                     \
    F(X, a, 0, status, 1, Repeated, UInt64, None)                                                            \
    F(X, a, 1, results, 2, Repeated, UInt64, None)                                                           \
    F(X, a, 2, dynamic_filter_timestamps, 3, Repeated, Message, DynamicFilterResultTimestamp)                \
    F(X, a, 3, sequence_filter_timestamps, 4, Repeated, Message, SequenceFilterResultTimestamp)

// One audience's filter results in a bundle.
#define APMPB_FIELDS_AudienceLeafFilterResult(F, X, a)                                                       \
    F(X, a, 0, audience_id, 1, Singular, Int32, None)                                                        \
    F(X, a, 1, current_results, 2, Singular, Message, ResultData)                                            \
    F(X, a, 2, previous_results, 3, Singular, Message, ResultData)                                           \
    F(X, a, 3, previous_results_cleared, 4, Singular, Bool, None)

// One event parameter; param_value holds the elements of an array value.
#define APMPB_FIELDS_EventParam(F, X, a)                                                                     \
    F(X, a, 0, name, 1, Singular, String, None)                                                              \
    F(X, a, 1, string_value, 2, Singular, String, None)                                                      \
    F(X, a, 2, int_value, 3, Singular, Int64, None)                                                          \
    F(X, a, 3, float_value, 4, Singular, Float, None)                                                        \
    F(X, a, 4, double_value, 5, Singular, Double, None)                                                      \
    F(X, a, 5, param_value, 6, Repeated, Message, EventParam)

// One logged event; times in milliseconds since 1970.
#define APMPB_FIELDS_Event(F, X, a)                                                                          \
    F(X, a, 0, params, 1, Repeated, Message, EventParam)                                                     \
    F(X, a, 1, name, 2, Singular, String, None)                                                              \
    F(X, a, 2, timestamp_millis, 3, Singular, Int64, None)                                                   \
    F(X, a, 3, previous_timestamp_millis, 4, Singular, Int64, None)                                          \
    F(X, a, 4, tag_5, 5, Singular, Int32, None)

// One user property.
#define APMPB_FIELDS_UserAttribute(F, X, a)                                                                  \
    F(X, a, 0, set_timestamp_millis, 1, Singular, Int64, None)                                               \
    F(X, a, 1, name, 2, Singular, String, None)                                                              \
    F(X, a, 2, string_value, 3, Singular, String, None)                                                      \
    F(X, a, 3, int_value, 4, Singular, Int64, None)                                                          \
    F(X, a, 4, float_value, 5, Singular, Float, None)                                                        \
    F(X, a, 5, double_value, 6, Singular, Double, None)

// One bundle of events with the device, application, identity and consent
// data that apply to all of them. Slots follow tags except tag 26 (slot 6)
// and tag 27 (slot 20).
#define APMPB_FIELDS_MeasurementBundle(F, X, a)                                                              \
    F(X, a, 0, protocol_version, 1, Singular, Int32, None)                                                   \
    F(X, a, 1, events, 2, Repeated, Message, Event)                                                          \
    F(X, a, 2, user_attributes, 3, Repeated, Message, UserAttribute)                                         \
    F(X, a, 3, upload_timestamp_millis, 4, Singular, Int64, None)                                            \
    F(X, a, 4, start_timestamp_millis, 5, Singular, Int64, None)                                             \
    F(X, a, 5, end_timestamp_millis, 6, Singular, Int64, None)                                               \
    F(X, a, 7, tag_7, 7, Singular, Int64, None)                                                              \
    F(X, a, 8, platform, 8, Singular, String, None)                                                          \
    F(X, a, 9, os_version, 9, Singular, String, None)                                                        \
    F(X, a, 10, device_model, 10, Singular, String, None)                                                    \
    F(X, a, 11, user_default_language, 11, Singular, String, None)                                           \
    F(X, a, 12, timezone_offset_minutes, 12, Singular, Int32, None)                                          \
    F(X, a, 13, app_store, 13, Singular, String, None)                                                       \
    F(X, a, 14, app_id, 14, Singular, String, None)                                                          \
    F(X, a, 15, tag_15, 15, Singular, Int64, None)                                                           \
    F(X, a, 16, app_version, 16, Singular, String, None)                                                     \
    F(X, a, 17, vmp_version, 17, Singular, Int64, None)                                                      \
    F(X, a, 18, uploading_vmp_version, 18, Singular, Int64, None)                                            \
    F(X, a, 19, resettable_device_id, 19, Singular, String, None)                                            \
    F(X, a, 21, limited_ad_tracking, 20, Singular, Bool, None)                                               \
    F(X, a, 22, app_instance_id, 21, Singular, String, None)                                                 \
    F(X, a, 23, tag_22, 22, Singular, Int64, None)                                                           \
    F(X, a, 24, bundle_index, 23, Singular, Int32, None)                                                     \
    F(X, a, 25, monitoring_data, 24, Singular, String, None)                                                 \
    F(X, a, 26, vmp_app_id, 25, Singular, String, None)                                                      \
    F(X, a, 6, tag_26, 26, Singular, Int64, None)                                                            \
    F(X, a, 20, vendor_device_id, 27, Singular, String, None)                                                \
    F(X, a, 27, tag_28, 28, Singular, Bool, None)                                                            \
    F(X, a, 28, audience_evaluation_results, 29, Repeated, Message, AudienceLeafFilterResult)                \
    F(X, a, 29, basalt_installation_id, 30, Singular, String, None)                                          \
    F(X, a, 30, app_version_major, 31, Singular, Int32, None)                                                \
    F(X, a, 31, app_version_minor, 32, Singular, Int32, None)                                                \
    F(X, a, 32, app_version_release, 33, Singular, Int32, None)                                              \
    F(X, a, 33, tag_34, 34, Singular, String, None)                                                          \
    F(X, a, 34, config_version, 35, Singular, Int64, None)                                                   \
    F(X, a, 35, retry_count, 39, Singular, Int32, None)                                                      \
    F(X, a, 36, adnest_app_id, 41, Singular, String, None)                                                   \
    F(X, a, 37, experiment_ids, 45, Repeated, UInt32, None)                                                  \
    F(X, a, 38, bundle_checksum, 47, Singular, Int64, None)                                                  \
    F(X, a, 39, tag_50, 50, Singular, String, None)                                                          \
    F(X, a, 40, consent_signals, 52, Singular, String, None)                                                 \
    F(X, a, 41, apple_consent_status, 53, Singular, Enum, None)                                              \
    F(X, a, 42, tag_55, 55, Singular, Bool, None)                                                            \
    F(X, a, 43, session_stitching_token, 63, Singular, String, None)                                         \
    F(X, a, 44, redacted_fields, 64, Repeated, String, None)                                                 \
    F(X, a, 45, ephemeral_app_instance_id, 65, Singular, String, None)                                       \
    F(X, a, 46, tag_67, 67, Singular, Int64, None)                                                           \
    F(X, a, 47, consent_diagnostics, 71, Singular, String, None)                                             \
    F(X, a, 48, dma_region, 72, Singular, Bool, None)                                                        \
    F(X, a, 49, core_platform_services, 73, Singular, String, None)                                          \
    F(X, a, 50, tag_75, 75, Singular, String, None)                                                          \
    F(X, a, 51, tag_77, 77, Singular, Int32, None)

// The upload request body, one element per bundle.
#define APMPB_FIELDS_MeasurementBatch(F, X, a)                                                               \
    F(X, a, 0, bundles, 1, Repeated, Message, MeasurementBundle)                                             \
    F(X, a, 1, tag_7, 7, Singular, String, None)                                                             \
    F(X, a, 2, tag_8, 8, Singular, String, None)                                                             \
    F(X, a, 3, tag_9, 9, Singular, Enum, None)

APMPB_DECLARE_MESSAGE(DynamicFilterResultTimestamp)
APMPB_DECLARE_MESSAGE(SequenceFilterResultTimestamp)
APMPB_DECLARE_ALLOCATE_ARRAYS(SequenceFilterResultTimestamp)
APMPB_DECLARE_MESSAGE(ResultData)
APMPB_DECLARE_ALLOCATE_ARRAYS(ResultData)
APMPB_DECLARE_MESSAGE(AudienceLeafFilterResult)
APMPB_DECLARE_ALLOCATE_ARRAYS(AudienceLeafFilterResult)
APMPB_DECLARE_MESSAGE(EventParam)
APMPB_DECLARE_ALLOCATE_ARRAYS(EventParam)
APMPB_DECLARE_MESSAGE(Event)
APMPB_DECLARE_ALLOCATE_ARRAYS(Event)
APMPB_DECLARE_MESSAGE(UserAttribute)
APMPB_DECLARE_MESSAGE(MeasurementBundle)
APMPB_DECLARE_ALLOCATE_ARRAYS(MeasurementBundle)
APMPB_DECLARE_MESSAGE(MeasurementBatch)
APMPB_DECLARE_ALLOCATE_ARRAYS(MeasurementBatch)
