// nanopb bindings, slot tables and operations of the experiment and conversion-value messages.
#include "analytics/wire/APMPBExperimentSchema.h"

#include "analytics/wire/APMPBCodec.h"

#include <iterator>

#define APMPBNanoAppProperty_FIELDLIST(X, a) APMPB_FIELDS_AppProperty(APMPB_NANO_FIELD, X, a)
#define APMPBNanoAppProperty_CALLBACK pb_default_field_callback
#define APMPBNanoAppProperty_DEFAULT NULL
APMPB_DEFINE_MESSAGE_TYPE(AppProperty)

#define APMPBNanoCustomProperty_FIELDLIST(X, a) APMPB_FIELDS_CustomProperty(APMPB_NANO_FIELD, X, a)
#define APMPBNanoCustomProperty_CALLBACK pb_default_field_callback
#define APMPBNanoCustomProperty_DEFAULT NULL
APMPB_DEFINE_MESSAGE_TYPE(CustomProperty)

#define APMPBNanoClientProperty_FIELDLIST(X, a) APMPB_FIELDS_ClientProperty(APMPB_NANO_FIELD, X, a)
#define APMPBNanoClientProperty_CALLBACK pb_default_field_callback
#define APMPBNanoClientProperty_DEFAULT NULL
#define APMPBNanoClientProperty_custom_properties_MSGTYPE APMPBNanoCustomProperty
APMPB_DEFINE_MESSAGE_TYPE(ClientProperty)
APMPB_DEFINE_ALLOCATE_ARRAYS(ClientProperty)

#define APMPBNanoExperimentRequest_FIELDLIST(X, a) APMPB_FIELDS_ExperimentRequest(APMPB_NANO_FIELD, X, a)
#define APMPBNanoExperimentRequest_CALLBACK pb_default_field_callback
#define APMPBNanoExperimentRequest_DEFAULT NULL
#define APMPBNanoExperimentRequest_app_property_MSGTYPE APMPBNanoAppProperty
#define APMPBNanoExperimentRequest_client_properties_MSGTYPE APMPBNanoClientProperty
APMPB_DEFINE_MESSAGE_TYPE(ExperimentRequest)
APMPB_DEFINE_ALLOCATE_ARRAYS(ExperimentRequest)

#define APMPBNanoFlag_FIELDLIST(X, a) APMPB_FIELDS_Flag(APMPB_NANO_FIELD, X, a)
#define APMPBNanoFlag_CALLBACK pb_default_field_callback
#define APMPBNanoFlag_DEFAULT NULL
APMPB_DEFINE_MESSAGE_TYPE(Flag)

#define APMPBNanoExperiment_FIELDLIST(X, a) APMPB_FIELDS_Experiment(APMPB_NANO_FIELD, X, a)
#define APMPBNanoExperiment_CALLBACK pb_default_field_callback
#define APMPBNanoExperiment_DEFAULT NULL
#define APMPBNanoExperiment_flags_MSGTYPE APMPBNanoFlag
APMPB_DEFINE_MESSAGE_TYPE(Experiment)
APMPB_DEFINE_ALLOCATE_ARRAYS(Experiment)

#define APMPBNanoSnapshot_FIELDLIST(X, a) APMPB_FIELDS_Snapshot(APMPB_NANO_FIELD, X, a)
#define APMPBNanoSnapshot_CALLBACK pb_default_field_callback
#define APMPBNanoSnapshot_DEFAULT NULL
#define APMPBNanoSnapshot_experiments_MSGTYPE APMPBNanoExperiment
APMPB_DEFINE_MESSAGE_TYPE(Snapshot)
APMPB_DEFINE_ALLOCATE_ARRAYS(Snapshot)

#define APMPBNanoSdkResponse_FIELDLIST(X, a) APMPB_FIELDS_SdkResponse(APMPB_NANO_FIELD, X, a)
#define APMPBNanoSdkResponse_CALLBACK pb_default_field_callback
#define APMPBNanoSdkResponse_DEFAULT NULL
#define APMPBNanoSdkResponse_snapshot_MSGTYPE APMPBNanoSnapshot
APMPB_DEFINE_MESSAGE_TYPE(SdkResponse)
APMPB_DEFINE_ALLOCATE_ARRAYS(SdkResponse)

#define APMPBNanoExperimentResponse_FIELDLIST(X, a) APMPB_FIELDS_ExperimentResponse(APMPB_NANO_FIELD, X, a)
#define APMPBNanoExperimentResponse_CALLBACK pb_default_field_callback
#define APMPBNanoExperimentResponse_DEFAULT NULL
#define APMPBNanoExperimentResponse_snapshots_MSGTYPE APMPBNanoSnapshot
#define APMPBNanoExperimentResponse_sdk_responses_MSGTYPE APMPBNanoSdkResponse
APMPB_DEFINE_MESSAGE_TYPE(ExperimentResponse)
APMPB_DEFINE_ALLOCATE_ARRAYS(ExperimentResponse)

#define APMPBNanoSkAdNetworkConversionValueRequest_FIELDLIST(X, a)                                           \
    APMPB_FIELDS_SkAdNetworkConversionValueRequest(APMPB_NANO_FIELD, X, a)
#define APMPBNanoSkAdNetworkConversionValueRequest_CALLBACK pb_default_field_callback
#define APMPBNanoSkAdNetworkConversionValueRequest_DEFAULT NULL
APMPB_DEFINE_MESSAGE_TYPE(SkAdNetworkConversionValueRequest)

#define APMPBNanoSkAdNetworkConversionValueResponse_FIELDLIST(X, a)                                          \
    APMPB_FIELDS_SkAdNetworkConversionValueResponse(APMPB_NANO_FIELD, X, a)
#define APMPBNanoSkAdNetworkConversionValueResponse_CALLBACK pb_default_field_callback
#define APMPBNanoSkAdNetworkConversionValueResponse_DEFAULT NULL
APMPB_DEFINE_MESSAGE_TYPE(SkAdNetworkConversionValueResponse)
