// The pending deep-link store and the hour arithmetic beside it.
#include "EngineTestFixture.h"

#include "analytics/base/APMDeepLinkStore.h"

#include <limits>

namespace {

class EnvironmentFactsTest : public engine_test::EngineFixture { };

TEST_F(EnvironmentFactsTest, StoredDeepLinksExpireAfterTheirTimeToLiveEitherWay)
{
    const auto store = APMPersistentDictionary::inMemory();
    const double now = 1'700'000'000;
    struct Case {
        const char* name;
        std::optional<double> storedAt;
        bool expired;
    };
    const Case cases[] = {
        { "no time stored", std::nullopt, false },
        { "just stored", now, false },
        { "exactly the time to live", now - 100, false },
        { "older", now - 100.5, true },
        { "in the future beyond it (clock set back)", now + 101, true },
        { "in the future within it", now + 99, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clearStoredDeepLink(*store);
        store->setObject(QStringLiteral("pravik://x?utm_source=s"), APMDeepLinkStore::kDeepLinkKey);
        if (c.storedAt)
            store->setDouble(*c.storedAt, APMDeepLinkStore::kDeepLinkTimestampKey);
        EXPECT_EQ(isStoredDeepLinkExpired(*store, 100, now), c.expired);
        EXPECT_EQ(clearExpiredStoredDeepLink(*store, 100, now), c.expired);
        EXPECT_EQ(store->objectForKey(APMDeepLinkStore::kDeepLinkKey).isValid(), !c.expired);
    }
    storeDeepLink(*store, QStringLiteral("pravik://y"), now);
    EXPECT_EQ(store->stringForKey(APMDeepLinkStore::kDeepLinkKey), QStringLiteral("pravik://y"));
    EXPECT_EQ(store->doubleForKey(APMDeepLinkStore::kDeepLinkTimestampKey), now);
    clearStoredDeepLink(*store);
    EXPECT_FALSE(store->objectForKey(APMDeepLinkStore::kDeepLinkKey).isValid());
    EXPECT_FALSE(store->objectForKey(APMDeepLinkStore::kDeepLinkTimestampKey).isValid());
}

TEST_F(EnvironmentFactsTest, PreviousHourStartIsTheHourBeforeTheOneHoldingTheTime)
{
    constexpr qint64 kMin = std::numeric_limits<qint64>::min();
    const std::pair<qint64, qint64> cases[] = {
        { 7'200'000, 3'600'000 },
        { 7'199'999, 0 },
        { 3'600'000, 0 },
        { 0, -3'600'000 },
        { kMin, kMin }, // no hour before the first one
        { std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::max() / 3'600'000 * 3'600'000 - 3'600'000 },
    };
    for (const auto& [in, out] : cases) {
        SCOPED_TRACE(in);
        EXPECT_EQ(previousHourStartMillis(in), out);
    }
}

} // namespace
