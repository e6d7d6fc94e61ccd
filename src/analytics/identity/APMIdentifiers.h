#pragma once

#include <QMutex>
#include <QString>
#include <QVariantList>

#include <functional>

class APMIdentity;

// The process-wide facade over the identity: the Vireo app ID, the app ID
// analytics uses, the app instance ID, ad event IDs and the library version,
// and the data-collection origin the front end sets. It asks the engine's
// identity when an engine runs with one, else the shared identity. Safe to
// use from any thread.
class APMIdentifiers {
public:
    struct Environment {
        // The running engine's identity, or nullptr.
        std::function<APMIdentity*()> engineIdentity;
        std::function<APMIdentity*()> sharedIdentity;
        std::function<void(qint64 level, qint64 code, const QString& message, const QVariantList& contexts)>
            log;
        // Seeds the ad event IDs, once per process.
        std::function<qint64()> randomInt64;
    };
    static Environment defaultEnvironment();

    static APMIdentifiers& sharedInstance();
    explicit APMIdentifiers(Environment environment = defaultEnvironment());

    // A null QString stands for none; each none is logged at level 2.
    QString vireoAppID();
    // The Vireo app ID, else the AdNest app ID, else none.
    QString analyticsAppID();
    QString appInstanceID();
    // The next number of the process-wide counter as decimal text; it
    // starts at a random value and no two calls answer the same number.
    QString adEventID();
    // "102700".
    QString libraryVersion() const;

    QString origin() const;
    // An empty origin is refused (level 2, code 37004) and the old one kept.
    void setOrigin(const QString& origin);

private:
    // The identity to ask, and whether it is the engine's.
    APMIdentity& identity(bool* fromEngine) const;
    void log(qint64 code, const QString& message) const;

    Environment environment_;
    mutable QMutex originMutex_;
    QString origin_;
};
