#include "analytics/identity/APMIdentifiers.h"

#include "analytics/identity/APMIdentity.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMNumericUtil.h"
#include "analytics/base/APMLibrary.h"

#include <atomic>
#include <mutex>

namespace {

const QString kNoAppIDFromEngineMessage = QStringLiteral("Unable to fetch Vireo App ID from identity");
const QString kNoAppIDFromSharedMessage = QStringLiteral("Unable to fetch Vireo App ID from default options");
const QString kNoAppInstanceIDFromEngineMessage
    = QStringLiteral("Unable to fetch App Instance ID from identity");
const QString kNoAppInstanceIDFromSharedMessage
    = QStringLiteral("Unable to fetch App Instance ID from identity shared instance");
const QString kEmptyOriginMessage
    = QStringLiteral("Cannot set the data collection origin. Origin cannot be empty");
const QString kNoEffectiveAppIDMessage = QStringLiteral("Unable to fetch effective App ID from identity");

// Shared by every instance. Atomic addition wraps around at the ends of the
// range, so the counter never overflows into undefined behaviour.
std::atomic<qint64> adEventCounter { 0 };
std::once_flag adEventCounterSeeded;

} // namespace

APMIdentifiers::Environment APMIdentifiers::defaultEnvironment()
{
    Environment environment;
    // No engine has been started in this process.
    environment.engineIdentity = [] { return static_cast<APMIdentity*>(nullptr); };
    environment.sharedIdentity = [] { return &APMIdentity::sharedInstance(); };
    environment.log = [](qint64 level, qint64 code, const QString& message, const QVariantList& contexts) {
        APMLibrary::monitor().logWithLevelContexts(level, code, message, contexts);
    };
    environment.randomInt64 = APMNumericUtil::randomInt64;
    return environment;
}

APMIdentifiers& APMIdentifiers::sharedInstance()
{
    static APMIdentifiers shared;
    return shared;
}

APMIdentifiers::APMIdentifiers(Environment environment)
    : environment_(std::move(environment))
{
}

APMIdentity& APMIdentifiers::identity(bool* fromEngine) const
{
    if (APMIdentity* engine = environment_.engineIdentity()) {
        *fromEngine = true;
        return *engine;
    }
    *fromEngine = false;
    return *environment_.sharedIdentity();
}

void APMIdentifiers::log(qint64 code, const QString& message) const
{
    environment_.log(APMMonitor::kLevelErrorSilent, code, message, {});
}

QString APMIdentifiers::vireoAppID()
{
    bool fromEngine = false;
    const QString appID = identity(&fromEngine).appIDFromVMP();
    if (appID.isEmpty()) {
        log(fromEngine ? 37000 : 37001, fromEngine ? kNoAppIDFromEngineMessage : kNoAppIDFromSharedMessage);
        return QString();
    }
    return appID;
}

QString APMIdentifiers::analyticsAppID()
{
    bool fromEngine = false;
    APMIdentity& source = identity(&fromEngine);
    const QString vmp = source.appIDFromVMP();
    if (!vmp.isEmpty())
        return vmp;
    const QString adNest = source.appIDFromAdNest();
    if (!adNest.isEmpty())
        return adNest;
    log(37005, kNoEffectiveAppIDMessage);
    return QString();
}

QString APMIdentifiers::appInstanceID()
{
    bool fromEngine = false;
    const QString appInstanceID = identity(&fromEngine).appInstanceID();
    if (appInstanceID.isEmpty()) {
        log(fromEngine ? 37002 : 37003,
            fromEngine ? kNoAppInstanceIDFromEngineMessage : kNoAppInstanceIDFromSharedMessage);
        return QString();
    }
    return appInstanceID;
}

QString APMIdentifiers::adEventID()
{
    std::call_once(adEventCounterSeeded, [this] { adEventCounter.store(environment_.randomInt64()); });
    return QString::number(adEventCounter.fetch_add(1));
}

QString APMIdentifiers::libraryVersion() const
{
    return QString::number(APMIdentity::appMetricsLibraryVersion());
}

QString APMIdentifiers::origin() const
{
    QMutexLocker lock(&originMutex_);
    return origin_;
}

void APMIdentifiers::setOrigin(const QString& origin)
{
    if (origin.isEmpty()) {
        log(37004, kEmptyOriginMessage);
        return;
    }
    QMutexLocker lock(&originMutex_);
    origin_ = origin;
}
