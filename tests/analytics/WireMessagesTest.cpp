// Behaviour every one of the 41 message classes shares, and the agreement of
// each type's slot table with its nanopb field table.
#include "analytics/wire/APMPBAppProperty.h"
#include "analytics/wire/APMPBAudience.h"
#include "analytics/wire/APMPBAudienceLeafFilterResult.h"
#include "analytics/wire/APMPBClientProperty.h"
#include "analytics/wire/APMPBConsentConfig.h"
#include "analytics/wire/APMPBConsentDefaultEntry.h"
#include "analytics/wire/APMPBConsentDelegationEntry.h"
#include "analytics/wire/APMPBCorePlatformServiceEntry.h"
#include "analytics/wire/APMPBCustomProperty.h"
#include "analytics/wire/APMPBDataControl.h"
#include "analytics/wire/APMPBDynamicFilterResultTimestamp.h"
#include "analytics/wire/APMPBEvent.h"
#include "analytics/wire/APMPBEventConfig.h"
#include "analytics/wire/APMPBEventFilter.h"
#include "analytics/wire/APMPBEventParam.h"
#include "analytics/wire/APMPBExperiment.h"
#include "analytics/wire/APMPBExperimentRequest.h"
#include "analytics/wire/APMPBExperimentResponse.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBFilter.h"
#include "analytics/wire/APMPBFlag.h"
#include "analytics/wire/APMPBMeasurementBatch.h"
#include "analytics/wire/APMPBMeasurementBundle.h"
#include "analytics/wire/APMPBMeasurementConfig.h"
#include "analytics/wire/APMPBNumberFilter.h"
#include "analytics/wire/APMPBOgtActivities.h"
#include "analytics/wire/APMPBOgtActivity.h"
#include "analytics/wire/APMPBProgram.h"
#include "analytics/wire/APMPBPropertyFilter.h"
#include "analytics/wire/APMPBPsmSetting.h"
#include "analytics/wire/APMPBRegion.h"
#include "analytics/wire/APMPBResultData.h"
#include "analytics/wire/APMPBRuntimeEntity.h"
#include "analytics/wire/APMPBSdkResponse.h"
#include "analytics/wire/APMPBSequenceFilterResultTimestamp.h"
#include "analytics/wire/APMPBSetting.h"
#include "analytics/wire/APMPBSkAdNetworkConversionValueRequest.h"
#include "analytics/wire/APMPBSkAdNetworkConversionValueResponse.h"
#include "analytics/wire/APMPBSnapshot.h"
#include "analytics/wire/APMPBStringFilter.h"
#include "analytics/wire/APMPBSvtmSetting.h"
#include "analytics/wire/APMPBUserAttribute.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <pb_common.h>
#include <set>
#include <string>

namespace {

template <class T> class WireMessage : public testing::Test {
};

using AllMessages = testing::Types<APMPBAppProperty, APMPBAudience, APMPBAudienceLeafFilterResult,
    APMPBClientProperty, APMPBConsentConfig, APMPBConsentDefaultEntry, APMPBConsentDelegationEntry,
    APMPBCorePlatformServiceEntry, APMPBCustomProperty, APMPBDataControl, APMPBDynamicFilterResultTimestamp,
    APMPBEvent, APMPBEventConfig, APMPBEventFilter, APMPBEventParam, APMPBExperiment, APMPBExperimentRequest,
    APMPBExperimentResponse, APMPBFilter, APMPBFlag, APMPBMeasurementBatch, APMPBMeasurementBundle,
    APMPBMeasurementConfig, APMPBNumberFilter, APMPBOgtActivities, APMPBOgtActivity, APMPBProgram,
    APMPBPropertyFilter, APMPBPsmSetting, APMPBRegion, APMPBResultData, APMPBRuntimeEntity, APMPBSdkResponse,
    APMPBSequenceFilterResultTimestamp, APMPBSetting, APMPBSvtmSetting,
    APMPBSkAdNetworkConversionValueRequest, APMPBSkAdNetworkConversionValueResponse, APMPBSnapshot,
    APMPBStringFilter, APMPBUserAttribute>;
TYPED_TEST_SUITE(WireMessage, AllMessages);

TYPED_TEST(WireMessage, MessageIDIsTheClassNameWithoutPrefix)
{
    auto message = TypeParam::initWithMessageInfo();
    ASSERT_TRUE(message);
    const std::string className = testing::internal::GetTypeName<TypeParam>();
    EXPECT_EQ("APMPB" + std::string(message->messageID()), className);
    EXPECT_STREQ(message->messageInfo()->name, message->messageID());
    EXPECT_EQ(message->messageInfo()->fieldTypes, message->messageType().fieldTypes);
}

TYPED_TEST(WireMessage, EmptyMessagesHaveNothingSetAndEncodeToNoBytes)
{
    std::vector<std::unique_ptr<TypeParam>> messages;
    messages.push_back(TypeParam::initWithMessageInfo());
    messages.push_back(TypeParam::initWithBuffer(QByteArray()));
    messages.push_back(TypeParam::initWithBuffer(QByteArray("")));
    for (const auto& message : messages) {
        ASSERT_TRUE(message);
        const apmpb::MessageType& type = message->messageType();
        for (uint32_t slot = 0; slot < type.slotCount; ++slot) {
            const bool repeated = type.fieldTypes[slot] & APMPBFieldRepeated;
            EXPECT_EQ(APMPBHasField(message.get(), static_cast<int32_t>(slot)), repeated) << slot;
            if (repeated) {
                const auto* array = static_cast<const APMPBRepeated*>(message->messageInfo()->values[slot]);
                ASSERT_NE(array, nullptr);
                EXPECT_EQ(array->count, 0u);
                EXPECT_EQ(array->elements, nullptr);
            }
        }
        const std::optional<QByteArray> bytes = message->protoBuffer();
        ASSERT_TRUE(bytes.has_value());
        EXPECT_TRUE(bytes->isEmpty());
    }
}

TYPED_TEST(WireMessage, BytesThatDoNotDecodeGiveNothing)
{
    const char* name = TypeParam::initWithMessageInfo()->messageID();
    // A truncated varint key, a length running past the end, an invalid wire type.
    for (const QByteArray& bytes : { QByteArray("\xff", 1),
             QByteArray("\x0a\x05"
                        "ab",
                 4),
             QByteArray("\x0f\x00", 2) }) {
        testing::internal::CaptureStdout();
        EXPECT_FALSE(TypeParam::initWithBuffer(bytes)) << bytes.toHex().constData();
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_NE(out.find(std::string("<ERROR> ") + name + " decoder failed: "), std::string::npos) << out;
    }
}

TYPED_TEST(WireMessage, RecordsOfAnotherTypeAreRefused)
{
    auto region = APMPBRegion::initWithMessageInfo();
    auto setting = APMPBSetting::initWithMessageInfo();
    auto self = TypeParam::initWithMessageInfo();
    const APMPBMessageInfo* other
        = std::string(self->messageID()) == "Region" ? setting->messageInfo() : region->messageInfo();
    EXPECT_FALSE(TypeParam::initWithMessageInfo(other));

    // The operations handed out build, copy and free records of the type.
    auto* record = static_cast<APMPBMessageInfo*>(std::calloc(1, sizeof(APMPBMessageInfo)));
    ASSERT_TRUE(self->initMessageInfoFn()(record));
    EXPECT_FALSE(self->copyMessageInfoFn()(&record, other));
    EXPECT_TRUE(self->copyMessageInfoFn()(&record, self->messageInfo()));
    EXPECT_NE(record, self->messageInfo());
    auto copy = TypeParam::initWithMessageInfo(record);
    ASSERT_TRUE(copy);
    EXPECT_NE(copy->messageInfo(), record);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(self->deallocMessageFieldFn()(record, self->messageType().slotCount));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
        std::string("<ERROR> ") + self->messageID() + ": Cannot deallocate field "
            + std::to_string(self->messageType().slotCount) + ": Unknown field\n");
    EXPECT_TRUE(self->deallocMessageFieldFn()(record, 0));
    EXPECT_TRUE(self->messageType().freeMessageInfo(record));
}

// What the nanopb field table says about each field must be what the slot
// table says: tag, label, storage, element size and submessage type.
TYPED_TEST(WireMessage, SlotTableAgreesWithTheNanopbFieldTable)
{
    const apmpb::MessageType& type = TypeParam::initWithMessageInfo()->messageType();
    std::vector<char> nano(type.nanoSize);
    pb_field_iter_t field;
    ASSERT_TRUE(pb_field_iter_begin(&field, type.descriptor, nano.data()));
    std::set<uint32_t> seen;
    uint32_t previousTag = 0;
    do {
        const uint32_t slot = type.fieldSlots[field.index];
        ASSERT_LT(slot, type.slotCount);
        seen.insert(slot);
        const uint32_t flags = type.fieldTypes[slot];
        const apmpb::Slot& info = type.slotInfo[slot];
        SCOPED_TRACE(info.name);
        EXPECT_EQ(field.tag, info.tag);
        EXPECT_GT(field.tag, previousTag);
        previousTag = field.tag;
        const pb_type_t ltype = PB_LTYPE(field.type);
        if ((flags & APMPBFieldRepeated) || (flags & APMPBFieldString)) {
            EXPECT_EQ(PB_ATYPE(field.type), PB_ATYPE_CALLBACK);
            EXPECT_EQ(
                PB_HTYPE(field.type), (flags & APMPBFieldRepeated) ? PB_HTYPE_REPEATED : PB_HTYPE_OPTIONAL);
        } else {
            EXPECT_EQ(PB_ATYPE(field.type), PB_ATYPE_STATIC);
            EXPECT_EQ(PB_HTYPE(field.type), PB_HTYPE_OPTIONAL);
            EXPECT_NE(field.pSize, nullptr);
        }
        EXPECT_EQ(info.messageType != nullptr, (flags & APMPBFieldMessage) != 0);
        if (flags & APMPBFieldMessage) {
            ASSERT_NE(info.messageType, nullptr);
            EXPECT_EQ(ltype, PB_LTYPE_SUBMESSAGE);
            EXPECT_EQ(field.submsg_desc, info.messageType->descriptor);
        } else if (flags & APMPBFieldString) {
            EXPECT_EQ(ltype, PB_LTYPE_STRING);
        } else if (flags & (APMPBFieldUInt32 | APMPBFieldUInt64)) {
            EXPECT_EQ(ltype, PB_LTYPE_UVARINT);
        } else if (flags & APMPBFieldBool) {
            EXPECT_EQ(ltype, PB_LTYPE_BOOL);
            EXPECT_EQ(field.data_size, 1u);
        } else if (flags & APMPBFieldFloat) {
            EXPECT_EQ(ltype, PB_LTYPE_FIXED32);
            EXPECT_EQ(field.data_size, 4u);
        } else if (flags & APMPBFieldDouble) {
            EXPECT_EQ(ltype, PB_LTYPE_FIXED64);
            EXPECT_EQ(field.data_size, 8u);
        } else {
            EXPECT_EQ(ltype, PB_LTYPE_VARINT);
            if (!(flags & APMPBFieldRepeated)) {
                EXPECT_EQ(field.data_size, (flags & APMPBFieldInt32) ? 4u : 8u);
            }
        }
    } while (pb_field_iter_next(&field));
    EXPECT_EQ(seen.size(), type.slotCount);
}

TEST(WireMessageTable, SlotCountsAndTwoPassTypes)
{
    struct Expected {
        const apmpb::MessageType& type;
        uint32_t slotCount;
        bool twoPasses;
    };
    const std::vector<Expected> table = {
        { APMPBAppPropertyMessageType, 7, false },
        { APMPBAudienceMessageType, 5, true },
        { APMPBAudienceLeafFilterResultMessageType, 4, true },
        { APMPBClientPropertyMessageType, 5, true },
        { APMPBConsentConfigMessageType, 5, true },
        { APMPBConsentDefaultEntryMessageType, 2, false },
        { APMPBConsentDelegationEntryMessageType, 2, false },
        { APMPBCorePlatformServiceEntryMessageType, 2, false },
        { APMPBCustomPropertyMessageType, 2, false },
        { APMPBDataControlMessageType, 3, true },
        { APMPBDynamicFilterResultTimestampMessageType, 2, false },
        { APMPBEventMessageType, 5, true },
        { APMPBEventConfigMessageType, 4, false },
        { APMPBEventFilterMessageType, 8, true },
        { APMPBEventParamMessageType, 6, true },
        { APMPBExperimentMessageType, 2, true },
        { APMPBExperimentRequestMessageType, 2, true },
        { APMPBExperimentResponseMessageType, 2, true },
        { APMPBFilterMessageType, 4, true },
        { APMPBFlagMessageType, 5, false },
        { APMPBMeasurementBatchMessageType, 4, true },
        { APMPBMeasurementBundleMessageType, 52, true },
        { APMPBMeasurementConfigMessageType, 16, true },
        { APMPBNumberFilterMessageType, 5, false },
        { APMPBOgtActivitiesMessageType, 1, true },
        { APMPBOgtActivityMessageType, 2, true },
        { APMPBProgramMessageType, 2, true },
        { APMPBPropertyFilterMessageType, 6, true },
        { APMPBPsmSettingMessageType, 3, false },
        { APMPBRegionMessageType, 2, false },
        { APMPBResultDataMessageType, 4, true },
        { APMPBRuntimeEntityMessageType, 6, true },
        { APMPBSdkResponseMessageType, 3, true },
        { APMPBSequenceFilterResultTimestampMessageType, 2, true },
        { APMPBSettingMessageType, 2, false },
        { APMPBSvtmSettingMessageType, 4, false },
        { APMPBSkAdNetworkConversionValueRequestMessageType, 6, false },
        { APMPBSkAdNetworkConversionValueResponseMessageType, 8, false },
        { APMPBSnapshotMessageType, 2, true },
        { APMPBStringFilterMessageType, 4, true },
        { APMPBUserAttributeMessageType, 6, false },
    };
    ASSERT_EQ(table.size(), 41u);
    for (const Expected& e : table) {
        EXPECT_EQ(e.type.slotCount, e.slotCount) << e.type.name;
        EXPECT_EQ(apmpb::decodesInTwoPasses(e.type), e.twoPasses) << e.type.name;
    }
}

TEST(WireMessageTable, BundleSlotsFollowTagsExceptTags26And27)
{
    const apmpb::MessageType& bundle = APMPBMeasurementBundleMessageType;
    EXPECT_EQ(bundle.slotInfo[6].tag, 26u);
    EXPECT_STREQ(bundle.slotInfo[6].name, "tag_26");
    EXPECT_EQ(bundle.slotInfo[20].tag, 27u);
    EXPECT_STREQ(bundle.slotInfo[20].name, "vendor_device_id");
    EXPECT_EQ(bundle.slotInfo[5].tag, 6u);
    EXPECT_EQ(bundle.slotInfo[7].tag, 7u);
    EXPECT_EQ(bundle.slotInfo[19].tag, 19u);
    EXPECT_EQ(bundle.slotInfo[21].tag, 20u);
    EXPECT_EQ(bundle.slotInfo[26].tag, 25u);
    EXPECT_EQ(bundle.slotInfo[27].tag, 28u);
    EXPECT_EQ(bundle.slotInfo[51].tag, 77u);
    EXPECT_EQ(bundle.fieldTypes[37], APMPBFieldRepeated | APMPBFieldUInt32);
    EXPECT_EQ(bundle.fieldTypes[41], APMPBFieldSingular | APMPBFieldEnum);
    EXPECT_EQ(bundle.fieldTypes[44], APMPBFieldRepeated | APMPBFieldString);
}

TEST(WireMessageClass, InitWithMessageInfoKeepsItsOwnDeepCopy)
{
    auto param = APMPBEventParam::initWithMessageInfo();
    EXPECT_FALSE(APMPBEvent::initWithMessageInfo(param->messageInfo()));

    auto source = APMPBEvent::initWithMessageInfo();
    APMPBSetStringField(source.get(), 1, QStringLiteral("open"));
    APMPBSetStringField(param.get(), 0, QStringLiteral("p"));
    APMPBSetArrayField(source.get(), 0, std::vector<const NANOMessageBase*> { param.get() });
    auto copy = APMPBEvent::initWithMessageInfo(source->messageInfo());
    ASSERT_TRUE(copy);
    EXPECT_NE(copy->messageInfo(), source->messageInfo());
    APMPBSetStringField(copy.get(), 1, QStringLiteral("close"));
    APMPBSetArrayField(copy.get(), 0, QVariantList {});
    EXPECT_EQ(APMPBGetStringField(source.get(), 1), QStringLiteral("open"));
    ASSERT_EQ(APMPBGetArrayField<APMPBEventParam>(source.get(), 0).size(), 1u);
    EXPECT_EQ(APMPBGetStringField(APMPBGetArrayField<APMPBEventParam>(source.get(), 0)[0].get(), 0),
        QStringLiteral("p"));
    // Released separately: the source outlives the copy and the other way round.
    source.reset();
    EXPECT_EQ(APMPBGetStringField(copy.get(), 1), QStringLiteral("close"));
}

TEST(WireMessageClass, EncodingIsStableAcrossDecodeAndEncode)
{
    auto bundle = APMPBMeasurementBundle::initWithMessageInfo();
    APMPBSetInt32Field(bundle.get(), 0, 1);
    APMPBSetStringField(bundle.get(), 8, QStringLiteral("linux"));
    APMPBSetInt64Field(bundle.get(), 6, 99);
    APMPBSetArrayField(bundle.get(), 37, QVariantList { 1u, 2u });
    auto event = APMPBEvent::initWithMessageInfo();
    APMPBSetStringField(event.get(), 1, QStringLiteral("_s"));
    APMPBSetArrayField(bundle.get(), 1, std::vector<const NANOMessageBase*> { event.get(), event.get() });
    const QByteArray first = bundle->protoBuffer().value_or("<failed>");
    auto decoded = APMPBMeasurementBundle::initWithBuffer(first);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->protoBuffer().value_or("<failed>"), first);
    EXPECT_EQ(bundle->protoBuffer().value_or("<failed>"), first); // any number of times
}

TEST(WireMessageClass, TheLongestMessageID)
{
    EXPECT_STREQ(APMPBSkAdNetworkConversionValueResponse::initWithMessageInfo()->messageID(),
        "SkAdNetworkConversionValueResponse");
    auto request = APMPBSkAdNetworkConversionValueRequest::initWithMessageInfo();
    EXPECT_EQ(request->initMessageInfoFn(), &APMPBSkAdNetworkConversionValueRequestInitMessageInfo);
    EXPECT_EQ(request->deallocMessageFieldFn(), &APMPBSkAdNetworkConversionValueRequestDeallocField);
    EXPECT_EQ(request->copyMessageInfoFn(), &APMPBSkAdNetworkConversionValueRequestCopyMessageInfo);
}

} // namespace
