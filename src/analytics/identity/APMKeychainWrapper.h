#pragma once

#include "platform/SecretStore.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <optional>

class APMError;

// Keeps one UTF-8 string per identifier and app ID in the machine's secret
// store: the item's service is the app ID, its account and its generic
// attribute the identifier. Identifier and app ID must both be non-empty;
// otherwise every operation does nothing and answers false or nothing, with
// the reason in the out-parameter. A store that cannot be read or written
// gives the same answers, with the store's reason.
//
// Runs on the caller's thread; the store blocks while it reads or writes.
class APMKeychainWrapper {
public:
    // The item that an identifier and app ID name (service, account and
    // generic attribute; no secret), or nothing when either is empty.
    static std::optional<platform::SecretItem> searchDirectoryForIdentifier(
        const QString& identifier, const QString& appID);

    // Stores the value, replacing what was stored. The value must be a
    // string whose UTF-8 form is not empty.
    static bool upsertKeychainValue(
        const QVariant& value, const QString& identifier, const QString& appID, APMError* error = nullptr);
    // The stored text; nothing when none is stored or it is empty. The first
    // read of the process brings an item of an older layout up to date.
    static std::optional<QString> keychainValueWithIdentifier(
        const QString& identifier, const QString& appID, APMError* error = nullptr);
    static std::optional<QByteArray> keychainDataWithIdentifier(
        const QString& identifier, const QString& appID, APMError* error = nullptr);
    // True when no such item is left (also when there was none).
    static bool deleteKeychainValueWithIdentifier(
        const QString& identifier, const QString& appID, APMError* error = nullptr);

    // Whether the stored item lacks its generic attribute (older layout).
    static bool isMigrationNeededForIdentifier(const QString& identifier, const QString& appID);
    // Gives such an item its generic attribute, keeping its secret. True
    // when nothing needed doing or the item was rewritten.
    static bool migrateKeychainDataToStringWithIdentifier(
        const QString& identifier, const QString& appID, APMError* error = nullptr);

    // The store used from now on; nullptr returns to the machine's store.
    static void setSecretStore(platform::SecretStore* store);
    static platform::SecretStore& secretStore();
};
