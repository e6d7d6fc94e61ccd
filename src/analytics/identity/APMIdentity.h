#pragma once

#include <QList>
#include <QMutex>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

namespace platform {
class Clock;
class SerialQueue;
} // namespace platform

class APMIdentitySupport;
class APMPersistedConfig;

// The identifiers the analytics library attaches to what it records: the
// app instance ID (persisted; replaced when the advertising identifier is
// reset), the advertising identifier (memory only) and its MD5 hash
// (persisted), the tracking-authorisation status and limited-ad-tracking
// flag, the app IDs of the service configuration, the application's
// identifier and version, a session stitching token, a five-character
// diversion key and an ephemeral app instance ID.
//
// Consent rules: with analytics storage denied no app instance ID is handed
// out or created; with ad storage denied no advertising identifier or hash
// is. When the advertising identifier changes, the new app instance ID, the
// new hash and the reset flag are stored together; while analytics storage
// is denied none of them is, and the change is taken up by the first
// refresh after analytics storage is allowed again.
//
// All state lives behind the serial queue "APMIdentityWorkerQueue": writes
// are queued, and a read waits for the writes queued before it. A read while
// nothing is queued runs on the caller under the state's lock instead of
// waking the queue's thread (the engine reads for every event it stores).
// Never call a reading operation from a task of that queue or from within
// another read. Destroying the identity finishes the tasks already queued.
class APMIdentity {
public:
    static const QString kQueueName; // "APMIdentityWorkerQueue"
    static const QString kIDFVCollectionEnabledKey; // "VIREO_ANALYTICS_IDFV_COLLECTION_ENABLED"
    static const QString kBASAnalyticsClassName; // "BASAnalytics"
    static constexpr double kSessionStitchingTokenLifetime = 86400.0;

    // appleConsentStatus(): the tracking-authorisation status.
    enum ConsentStatus : quint64 {
        StatusRestricted = 1,
        StatusDenied = 2,
        StatusAuthorized = 3,
        StatusNotDetermined = 4,
        StatusUnknown = 5, // identifiers known, no (or an unknown) status
        StatusUnavailable = 6, // no source of advertising identifiers
    };

    // What the identity needs from the rest of the process; every member
    // has a working default (defaultEnvironment()).
    struct Environment {
        std::function<void(qint64 level, qint64 code, const QString& message, const QVariantList& contexts)>
            log;
        platform::Clock* clock = nullptr;
        APMIdentitySupport* identitySupport = nullptr;
        // Remote settings: how long a refresh holds (seconds), and whether
        // the advertising identifier needs tracking authorisation.
        std::function<double()> adIDCacheTime;
        std::function<bool()> gateIDFAOnATTMASEnabled;
        // The service configuration's dictionary, or nothing.
        std::function<std::optional<QVariantMap>()> serviceInfoDictionary;
        // The application's information dictionary.
        QVariantMap infoDictionary;
        std::function<bool(const QString&)> classExists;
    };
    static Environment defaultEnvironment();

    // The process-wide identity over the shared persisted configuration.
    static APMIdentity& sharedInstance();
    // 102700.
    static qint64 appMetricsLibraryVersion();
    // "1.2.3" gives 1, 2, 3; "2.0b4" gives 2, 4: empty parts are skipped and
    // other characters than digits dropped (logged at level 5, code 20002).
    // Numbers past the 32-bit range are held at its top.
    static QList<qint32> numericFieldsFromAppVersionNumeric(const QString& text);
    // A fresh random UUID's text without "-": 32 upper-case hex digits.
    static QString randomAppInstanceID();

    // Nothing, after logging (level 2, code 20004), without a persisted
    // configuration. May create and store an app instance ID.
    static std::unique_ptr<APMIdentity> initWithPersistedConfig(
        APMPersistedConfig* persistedConfig, Environment environment = defaultEnvironment());
    ~APMIdentity();

    APMIdentity(const APMIdentity&) = delete;
    APMIdentity& operator=(const APMIdentity&) = delete;

    // Queues a refresh of the advertising-derived values (skipped while the
    // last one is younger than adIDCacheTime and an app instance ID exists).
    void updateIdentifiers();
    void updateIdentifiersAndWait();

    // A null QString stands for none in the following.
    QString appInstanceID();
    void setAppInstanceID(const QString& appInstanceID);
    QString hashedResettableDeviceID();
    QString resettableDeviceID();
    bool limitedAdTracking();
    quint64 appleConsentStatus();
    bool hasLimitedAdTracking();

    // The five advertising-derived values above, after one refresh, read
    // together in one trip to the identity's queue (they go into every
    // event's metadata).
    struct AdvertisingIdentifiers {
        quint64 appleConsentStatus = 0;
        bool hasLimitedAdTracking = false;
        bool limitedAdTracking = false;
        QString resettableDeviceID;
        QString appInstanceID; // null with analytics storage denied
    };
    AdvertisingIdentifiers advertisingIdentifiers();

    QString appIDFromVMP();
    QString appIDFromAdNest();
    // Only the first non-empty call of each setter in the process stores its
    // ID; an empty one is logged (level 2, codes 20005 and 20007).
    void setAppIDFromVMP(const QString& appID);
    void setAppIDFromAdNest(const QString& appID);

    bool shouldSetLastAdvertisingIDResetUserProperty();
    // What updateIdentifiers() followed by the flag's read gives, in one
    // trip to the queue (the engine needs both for every event it stores).
    bool updateIdentifiersAndReadShouldSetLastAdvertisingIDResetUserProperty();
    void setShouldSetLastAdvertisingIDResetUserProperty(bool value);

    // The token for this session, or none with analytics storage denied.
    // It survives a repeated call for the same session and the step from an
    // expired session to the next; without a user ID it expires a day after
    // it was made.
    QString sessionStitchingTokenWithSessionNumber(
        qint64 sessionNumber, bool sessionExpired, bool userIDAvailable);
    // The token and the advertising identifiers together, in one trip to
    // the queue instead of two (every stored event's metadata needs both):
    // the same as sessionStitchingTokenWithSessionNumber() followed by
    // advertisingIdentifiers().
    struct EventIdentifiers {
        QString sessionStitchingToken;
        AdvertisingIdentifiers advertising;
    };
    EventIdentifiers eventIdentifiersWithSessionNumber(
        qint64 sessionNumber, bool sessionExpired, bool userIDAvailable);
    void resetSessionStitchingToken();
    // The stored key when it has exactly five characters; else a new one,
    // stored.
    QString diversionKey();
    QString ephemeralAppInstanceID();
    void resetEphemeralAppInstanceID();

    bool isFromAppStore() const;
    // The system has no identifier for vendors; the library keeps one of its
    // own in the persisted state. Nothing when the information dictionary
    // switches its collection off.
    std::optional<QString> identifierForVendor() const;
    // The tracking-authorisation scheme always applies.
    bool iOS14OrAbove() const { return true; }

    const QString& appID() const { return appID_; }
    const QString& appVersion() const { return appVersion_; }
    std::optional<qint32> appVersionMajor() const { return appVersionMajor_; }
    std::optional<qint32> appVersionMinor() const { return appVersionMinor_; }
    std::optional<qint32> appVersionRelease() const { return appVersionRelease_; }
    qint64 devCertHash() const { return 0; }
    // The IDFV switch of the information dictionary when it is a number.
    const QVariant& isIDFVCollectionEnabledNumber() const { return isIDFVCollectionEnabledNumber_; }
    QString basaltInstallationID() const;
    void setBasaltInstallationID(const QString& installationID);

private:
    APMIdentity(APMPersistedConfig& persistedConfig, Environment environment);

    void log(qint64 level, qint64 code, const QString& message, const QVariantList& contexts = {}) const;
    void refreshOnWorkerQueue();
    void resetSessionStitchingTokenOnWorkerQueue();
    QString sessionStitchingTokenOnWorkerQueue(qint64 sessionNumber, bool sessionExpired, bool userIDAvailable);
    AdvertisingIdentifiers advertisingIdentifiersOnWorkerQueue(bool analyticsStorageDenied);
    void resetEphemeralAppInstanceIDOnWorkerQueue();
    // Runs the task on the queue and waits for it.
    template <typename Read> auto readOnQueue(Read read) -> decltype(read());
    // Queues a write; it runs under the state's lock.
    void post(std::function<void()> write);
    template <typename Read> auto refreshedReadOnQueue(Read read) -> decltype(read());

    APMPersistedConfig& persistedConfig_;
    Environment environment_;

    // Set before the queue runs, then read only.
    QString appID_;
    QString appVersion_;
    std::optional<qint32> appVersionMajor_;
    std::optional<qint32> appVersionMinor_;
    std::optional<qint32> appVersionRelease_;
    QVariant isIDFVCollectionEnabledNumber_;

    mutable QMutex installationIDMutex_;
    QString basaltInstallationID_;

    // Set once and read for every event: held under a lock of their own
    // rather than read through the queue.
    mutable QMutex appIDsMutex_;
    QString appIDFromVMP_;
    QString appIDFromAdNest_;

    // Worker-queue state, guarded by stateMutex_: the queue's tasks and the
    // reads that run on their callers take it. queuedWrites_ counts the
    // writes posted and not yet finished.
    QMutex stateMutex_;
    int queuedWrites_ = 0;
    std::optional<double> lastAppInstanceIDUpdateTimestamp_;
    quint64 appleConsentStatus_ = 0;
    std::optional<QString> resettableDeviceID_;
    bool limitedAdTracking_ = false;
    // A changed advertising identifier whose new app instance ID could not
    // be stored yet (analytics storage denied).
    bool rotationPending_ = false;
    QString sessionStitchingToken_;
    qint64 lastSessionNumber_ = 0;
    bool lastIsSessionExpired_ = false;
    std::optional<double> sessionStitchingTokenExpirationTime_;
    QString ephemeralAppInstanceID_;

    // Last, so that it is destroyed first: the tasks still queued run while
    // everything they touch is alive.
    std::unique_ptr<platform::SerialQueue> queue_;
};
