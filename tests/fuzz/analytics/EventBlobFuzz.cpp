// Events as the measurement database keeps them: the wire form of an event
// in a blob, read back into an event (the audience evaluation's main event)
// and into a raw event with its row.
//
// Input: the blob.

#include "FuzzTarget.h"
#include "MemoryConfigStore.h"
#include "VirtualExecutor.h"
#include "analytics/base/APMError.h"
#include "analytics/model/APMEvent.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/store/APMDatabase.h"
#include "analytics/wire/APMPBEvent.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/model/APMRawEventData.h"

namespace {

constexpr int32_t kBlobEventNameSlot = 1;

APMDatabase& database()
{
    static VirtualExecutor queue;
    static MemoryConfigStore sharedDefaults;
    static const std::unique_ptr<APMPersistedConfig> persisted = [] {
        APMPersistedConfig::Environment environment;
        environment.queue = &queue;
        environment.storeQueue = &queue;
        environment.store = std::make_unique<MemoryConfigStore>();
        environment.sharedUserDefaults = &sharedDefaults;
        return APMPersistedConfig::initWithSuiteName(APMPersistedConfig::kSuiteName, std::move(environment));
    }();
    static const std::unique_ptr<APMDatabase> opened = [] {
        APMError error;
        auto db = APMDatabase::initWithDatabasePath(
            fuzz::scratchDir() + QStringLiteral("/") + APMDatabase::kDatabaseName, persisted.get(), &error);
        if (!db)
            fuzz::fail("cannot open the measurement database: %s", qPrintable(error.description()));
        return db;
    }();
    return *opened;
}

std::optional<QByteArray> encoded(const APMEvent& event)
{
    const std::unique_ptr<APMPBEvent> proto = event.protoEvent();
    return proto ? proto->protoBuffer() : std::nullopt;
}

} // namespace

PRAVIK_FUZZ_TARGET(event_blob)
{
    const std::unique_ptr<APMPBEvent> proto = APMPBEvent::initWithBuffer(input);

    // The main event of a complex event: an event read from its blob must
    // write a blob that reads back to the same event.
    if (proto) {
        if (const std::optional<APMEvent> event
            = APMEvent::initWithEventProto(*proto, EventParameterLimits())) {
            const std::optional<QByteArray> blob = encoded(*event);
            if (!blob)
                fuzz::fail("an event read from a blob does not write one");
            const std::unique_ptr<APMPBEvent> reread = APMPBEvent::initWithBuffer(*blob);
            const std::optional<APMEvent> again
                = reread ? APMEvent::initWithEventProto(*reread, EventParameterLimits()) : std::nullopt;
            if (!again)
                fuzz::fail("an event's own blob does not read back");
            if (encoded(*again) != blob)
                fuzz::fail("an event changed on its way through its blob");
        }
    }

    // A raw event's row, with the name it was stored under.
    const APMRow row { { QStringLiteral("rowid"), QVariant(qint64(1)) },
        { QStringLiteral("name"),
            proto ? APMPBGetStringField(proto.get(), kBlobEventNameSlot) : QStringLiteral("_e") },
        { QStringLiteral("timestamp"), QVariant(1'700'000'000.0) },
        { QStringLiteral("metadata_fingerprint"), QVariant(qint64(42)) },
        { QStringLiteral("data"), QVariant(input) } };
    APMError error;
    (void)database().rawEventDataFromDictionary(row, &error);
}
