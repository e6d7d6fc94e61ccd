// Every wire-message type of the analytics library: configurations and
// experiment replies from the servers, and events, bundles and records read
// back from the database.
//
// Input: a byte that picks the type (its index among the types sorted by
// name), then the message bytes.

#include "FuzzTarget.h"
#include "analytics/wire/APMPBCodec.h"
#include "analytics/wire/APMPBExperimentRequest.h"
#include "analytics/wire/APMPBExperimentResponse.h"
#include "analytics/wire/APMPBMeasurementBatch.h"
#include "analytics/wire/APMPBMeasurementConfig.h"
#include "analytics/wire/APMPBSkAdNetworkConversionValueRequest.h"
#include "analytics/wire/APMPBSkAdNetworkConversionValueResponse.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// The messages the library sends or receives, and every type nested in them.
std::vector<const apmpb::MessageType*> allTypes()
{
    std::vector<const apmpb::MessageType*> found = { &APMPBMeasurementBatchMessageType,
        &APMPBMeasurementConfigMessageType, &APMPBExperimentRequestMessageType,
        &APMPBExperimentResponseMessageType, &APMPBSkAdNetworkConversionValueRequestMessageType,
        &APMPBSkAdNetworkConversionValueResponseMessageType };
    for (std::size_t i = 0; i < found.size(); ++i) {
        for (uint32_t slot = 0; slot < found[i]->slotCount; ++slot) {
            const apmpb::MessageType* nested = found[i]->slotInfo[slot].messageType;
            if (nested && std::find(found.begin(), found.end(), nested) == found.end())
                found.push_back(nested);
        }
    }
    std::sort(found.begin(), found.end(), [](const apmpb::MessageType* a, const apmpb::MessageType* b) {
        return std::strcmp(a->name, b->name) < 0;
    });
    return found;
}

struct RecordDeleter {
    const apmpb::MessageType* type;
    void operator()(APMPBMessageInfo* info) const { apmpb::freeRecord(*type, info); }
};
using Record = std::unique_ptr<APMPBMessageInfo, RecordDeleter>;

Record newRecord(const apmpb::MessageType& type)
{
    auto* info = static_cast<APMPBMessageInfo*>(std::calloc(1, sizeof(APMPBMessageInfo)));
    if (!info || !apmpb::InitMessageInfo(type, info))
        fuzz::fail("cannot make an empty %s", type.name);
    return Record(info, RecordDeleter { &type });
}

bool decode(const apmpb::MessageType& type, const QByteArray& bytes, APMPBMessageInfo* info)
{
    return apmpb::decode(
        type, reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()), info);
}

} // namespace

PRAVIK_FUZZ_TARGET(wire_messages)
{
    static const std::vector<const apmpb::MessageType*> types = allTypes();
    if (input.isEmpty())
        return;
    const apmpb::MessageType& type = *types[static_cast<uchar>(input[0]) % types.size()];
    const QByteArray bytes = input.mid(1);

    Record decoded = newRecord(type);
    if (!decode(type, bytes, decoded.get()))
        return;
    APMPBMessageInfo* copied = nullptr;
    if (!apmpb::copyRecord(type, &copied, decoded.get()))
        fuzz::fail("%s: decoded a record it cannot copy", type.name);
    const Record copy(copied, RecordDeleter { &type });

    const std::optional<QByteArray> encoded = apmpb::encodeToByteArray(type, decoded.get());
    if (!encoded)
        fuzz::fail("%s: decoded a record it cannot encode", type.name);
    if (apmpb::encodeToByteArray(type, copy.get()) != encoded)
        fuzz::fail("%s: the copy encodes differently", type.name);
    uint8_t* buffer = nullptr;
    const int64_t length = apmpb::encode(type, decoded.get(), &buffer);
    const bool same = length == encoded->size()
        && (length == 0 || std::memcmp(buffer, encoded->constData(), size_t(length)) == 0);
    std::free(buffer);
    if (!same)
        fuzz::fail("%s: the two encoders disagree", type.name);

    Record again = newRecord(type);
    if (!decode(type, *encoded, again.get()))
        fuzz::fail("%s: cannot decode its own encoding", type.name);
    if (apmpb::encodeToByteArray(type, again.get()) != encoded)
        fuzz::fail("%s: decoding its own encoding changed it", type.name);
}
