// nanopb bindings, slot tables and operations of the measurement messages.
#include "analytics/wire/APMPBMeasurementSchema.h"

#include "analytics/wire/APMPBCodec.h"

#include <iterator>

#define APMPBNanoDynamicFilterResultTimestamp_FIELDLIST(X, a)                                                \
    APMPB_FIELDS_DynamicFilterResultTimestamp(APMPB_NANO_FIELD, X, a)
#define APMPBNanoDynamicFilterResultTimestamp_CALLBACK pb_default_field_callback
#define APMPBNanoDynamicFilterResultTimestamp_DEFAULT NULL
APMPB_DEFINE_MESSAGE_TYPE(DynamicFilterResultTimestamp)

#define APMPBNanoSequenceFilterResultTimestamp_FIELDLIST(X, a)                                               \
    APMPB_FIELDS_SequenceFilterResultTimestamp(APMPB_NANO_FIELD, X, a)
#define APMPBNanoSequenceFilterResultTimestamp_CALLBACK pb_default_field_callback
#define APMPBNanoSequenceFilterResultTimestamp_DEFAULT NULL
APMPB_DEFINE_MESSAGE_TYPE(SequenceFilterResultTimestamp)
APMPB_DEFINE_ALLOCATE_ARRAYS(SequenceFilterResultTimestamp)

#define APMPBNanoResultData_FIELDLIST(X, a) APMPB_FIELDS_ResultData(APMPB_NANO_FIELD, X, a)
#define APMPBNanoResultData_CALLBACK pb_default_field_callback
#define APMPBNanoResultData_DEFAULT NULL
#define APMPBNanoResultData_dynamic_filter_timestamps_MSGTYPE APMPBNanoDynamicFilterResultTimestamp
#define APMPBNanoResultData_sequence_filter_timestamps_MSGTYPE APMPBNanoSequenceFilterResultTimestamp
APMPB_DEFINE_MESSAGE_TYPE(ResultData)
APMPB_DEFINE_ALLOCATE_ARRAYS(ResultData)

#define APMPBNanoAudienceLeafFilterResult_FIELDLIST(X, a)                                                    \
    APMPB_FIELDS_AudienceLeafFilterResult(APMPB_NANO_FIELD, X, a)
#define APMPBNanoAudienceLeafFilterResult_CALLBACK pb_default_field_callback
#define APMPBNanoAudienceLeafFilterResult_DEFAULT NULL
#define APMPBNanoAudienceLeafFilterResult_current_results_MSGTYPE APMPBNanoResultData
#define APMPBNanoAudienceLeafFilterResult_previous_results_MSGTYPE APMPBNanoResultData
APMPB_DEFINE_MESSAGE_TYPE(AudienceLeafFilterResult)
APMPB_DEFINE_ALLOCATE_ARRAYS(AudienceLeafFilterResult)

#define APMPBNanoEventParam_FIELDLIST(X, a) APMPB_FIELDS_EventParam(APMPB_NANO_FIELD, X, a)
#define APMPBNanoEventParam_CALLBACK pb_default_field_callback
#define APMPBNanoEventParam_DEFAULT NULL
#define APMPBNanoEventParam_param_value_MSGTYPE APMPBNanoEventParam
APMPB_DEFINE_MESSAGE_TYPE(EventParam)
APMPB_DEFINE_ALLOCATE_ARRAYS(EventParam)

#define APMPBNanoEvent_FIELDLIST(X, a) APMPB_FIELDS_Event(APMPB_NANO_FIELD, X, a)
#define APMPBNanoEvent_CALLBACK pb_default_field_callback
#define APMPBNanoEvent_DEFAULT NULL
#define APMPBNanoEvent_params_MSGTYPE APMPBNanoEventParam
APMPB_DEFINE_MESSAGE_TYPE(Event)
APMPB_DEFINE_ALLOCATE_ARRAYS(Event)

#define APMPBNanoUserAttribute_FIELDLIST(X, a) APMPB_FIELDS_UserAttribute(APMPB_NANO_FIELD, X, a)
#define APMPBNanoUserAttribute_CALLBACK pb_default_field_callback
#define APMPBNanoUserAttribute_DEFAULT NULL
APMPB_DEFINE_MESSAGE_TYPE(UserAttribute)

#define APMPBNanoMeasurementBundle_FIELDLIST(X, a) APMPB_FIELDS_MeasurementBundle(APMPB_NANO_FIELD, X, a)
#define APMPBNanoMeasurementBundle_CALLBACK pb_default_field_callback
#define APMPBNanoMeasurementBundle_DEFAULT NULL
#define APMPBNanoMeasurementBundle_events_MSGTYPE APMPBNanoEvent
#define APMPBNanoMeasurementBundle_user_attributes_MSGTYPE APMPBNanoUserAttribute
#define APMPBNanoMeasurementBundle_audience_evaluation_results_MSGTYPE APMPBNanoAudienceLeafFilterResult
APMPB_DEFINE_MESSAGE_TYPE(MeasurementBundle)
APMPB_DEFINE_ALLOCATE_ARRAYS(MeasurementBundle)

#define APMPBNanoMeasurementBatch_FIELDLIST(X, a) APMPB_FIELDS_MeasurementBatch(APMPB_NANO_FIELD, X, a)
#define APMPBNanoMeasurementBatch_CALLBACK pb_default_field_callback
#define APMPBNanoMeasurementBatch_DEFAULT (const pb_byte_t*)"\x48\x00\x00"
#define APMPBNanoMeasurementBatch_bundles_MSGTYPE APMPBNanoMeasurementBundle
APMPB_DEFINE_MESSAGE_TYPE(MeasurementBatch)
APMPB_DEFINE_ALLOCATE_ARRAYS(MeasurementBatch)
