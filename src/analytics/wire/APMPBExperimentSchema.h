#pragma once

// Experiment messages (the request describing the application and the SDKs
// taking part, the response with one snapshot per SDK) and the two
// conversion-value messages.
// Field lists: F(X, a, slot, name, tag, label, type, submessage), in tag order.

#include "analytics/wire/APMPBSchema.h"

// The application as the experiment request describes it.
#define APMPB_FIELDS_AppProperty(F, X, a)                                                                    \
    F(X, a, 0, platform, 1, Singular, String, None)                                                          \
    F(X, a, 1, tag_2, 2, Singular, String, None)                                                             \
    F(X, a, 2, tag_3, 3, Singular, String, None)                                                             \
    F(X, a, 3, language, 4, Singular, String, None)                                                          \
    F(X, a, 4, bundle_identifier, 5, Singular, String, None)                                                 \
    F(X, a, 5, is_from_app_store, 6, Singular, Bool, None)                                                   \
    F(X, a, 6, sdk_version, 7, Singular, Int64, None)

#define APMPB_FIELDS_CustomProperty(F, X, a)                                                                 \
    F(X, a, 0, name, 1, Singular, String, None)                                                              \
    F(X, a, 1, value, 2, Singular, String, None)

// One SDK taking part in experiments.
#define APMPB_FIELDS_ClientProperty(F, X, a)                                                                 \
    F(X, a, 0, sdk_name, 1, Singular, String, None)                                                          \
    F(X, a, 1, diversion_key, 2, Singular, String, None)                                                     \
    F(X, a, 2, sdk_version, 3, Singular, Int64, None)                                                        \
    F(X, a, 3, app_id, 4, Singular, String, None)                                                            \
    F(X, a, 4, custom_properties, 5, Repeated, Message, CustomProperty)

#define APMPB_FIELDS_ExperimentRequest(F, X, a)                                                              \
    F(X, a, 0, app_property, 1, Singular, Message, AppProperty)                                              \
    F(X, a, 1, client_properties, 2, Repeated, Message, ClientProperty)

// One experiment flag; its value is in one of the four value fields.
#define APMPB_FIELDS_Flag(F, X, a)                                                                           \
    F(X, a, 0, name, 1, Singular, String, None)                                                              \
    F(X, a, 1, int_value, 2, Singular, Int64, None)                                                          \
    F(X, a, 2, string_value, 3, Singular, String, None)                                                      \
    F(X, a, 3, double_value, 4, Singular, Double, None)                                                      \
    F(X, a, 4, bool_value, 5, Singular, Bool, None)

#define APMPB_FIELDS_Experiment(F, X, a)                                                                     \
    F(X, a, 0, experiment_id, 1, Singular, Int32, None)                                                      \
    F(X, a, 1, flags, 2, Repeated, Message, Flag)

// The experiments that apply to one SDK.
#define APMPB_FIELDS_Snapshot(F, X, a)                                                                       \
    F(X, a, 0, sdk_name, 1, Singular, String, None)                                                          \
    F(X, a, 1, experiments, 2, Repeated, Message, Experiment)

// The result for one SDK; a non-zero error_code reports an error.
#define APMPB_FIELDS_SdkResponse(F, X, a)                                                                    \
    F(X, a, 0, sdk_name, 1, Singular, String, None)                                                          \
    F(X, a, 1, error_code, 2, Singular, Enum, None)                                                          \
    F(X, a, 2, snapshot, 3, Singular, Message, Snapshot)

#define APMPB_FIELDS_ExperimentResponse(F, X, a)                                                             \
    F(X, a, 0, snapshots, 1, Repeated, Message, Snapshot)                                                    \
    F(X, a, 1, sdk_responses, 2, Repeated, Message, SdkResponse)

#define APMPB_FIELDS_SkAdNetworkConversionValueRequest(F, X, a)                                              \
    F(X, a, 0, tag_1, 1, Singular, Int64, None)                                                              \
    F(X, a, 1, tag_2, 2, Singular, String, None)                                                             \
    F(X, a, 2, tag_3, 3, Singular, String, None)                                                             \
    F(X, a, 3, tag_4, 4, Singular, String, None)                                                             \
    F(X, a, 4, tag_5, 5, Singular, Int64, None)                                                              \
    F(X, a, 5, tag_6, 6, Singular, Int64, None)

#define APMPB_FIELDS_SkAdNetworkConversionValueResponse(F, X, a)                                             \
    F(X, a, 0, tag_1, 1, Singular, Enum, None)                                                               \
    F(X, a, 1, tag_2, 2, Singular, String, None)                                                             \
    F(X, a, 2, tag_3, 3, Singular, Int32, None)                                                              \
    F(X, a, 3, tag_4, 4, Singular, Enum, None)                                                               \
    F(X, a, 4, tag_5, 5, Singular, Bool, None)                                                               \
    F(X, a, 5, tag_6, 6, Singular, Int64, None)                                                              \
    F(X, a, 6, tag_7, 7, Singular, Int64, None)                                                              \
    F(X, a, 7, tag_8, 8, Singular, Int64, None)

APMPB_DECLARE_MESSAGE(AppProperty)
APMPB_DECLARE_MESSAGE(CustomProperty)
APMPB_DECLARE_MESSAGE(ClientProperty)
APMPB_DECLARE_ALLOCATE_ARRAYS(ClientProperty)
APMPB_DECLARE_MESSAGE(ExperimentRequest)
APMPB_DECLARE_ALLOCATE_ARRAYS(ExperimentRequest)
APMPB_DECLARE_MESSAGE(Flag)
APMPB_DECLARE_MESSAGE(Experiment)
APMPB_DECLARE_ALLOCATE_ARRAYS(Experiment)
APMPB_DECLARE_MESSAGE(Snapshot)
APMPB_DECLARE_ALLOCATE_ARRAYS(Snapshot)
APMPB_DECLARE_MESSAGE(SdkResponse)
APMPB_DECLARE_ALLOCATE_ARRAYS(SdkResponse)
APMPB_DECLARE_MESSAGE(ExperimentResponse)
APMPB_DECLARE_ALLOCATE_ARRAYS(ExperimentResponse)
APMPB_DECLARE_MESSAGE(SkAdNetworkConversionValueRequest)
APMPB_DECLARE_MESSAGE(SkAdNetworkConversionValueResponse)
