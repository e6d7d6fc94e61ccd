#include "analytics/identity/APMKeychainWrapper.h"

#include "analytics/base/APMError.h"
#include "platform/Utf8Text.h"

#include <atomic>

namespace {

std::atomic<platform::SecretStore*> replacementStore { nullptr };
std::atomic<bool> firstReadDone { false };

bool checkQuery(const std::optional<platform::SecretItem>& query, APMError* error)
{
    return APMCheckCondition(query.has_value(), error, APMError::InvalidArgument,
        QStringLiteral("A keychain item needs an identifier and an app ID"));
}

void setStoreError(APMError* error, const QString& what, const QString& reason)
{
    APMSetErrorWithCode(error, APMError::InvalidState, QStringLiteral("%1: %2").arg(what, reason));
}

} // namespace

void APMKeychainWrapper::setSecretStore(platform::SecretStore* store)
{
    replacementStore.store(store);
}

platform::SecretStore& APMKeychainWrapper::secretStore()
{
    platform::SecretStore* store = replacementStore.load();
    return store ? *store : platform::SecretStore::shared();
}

std::optional<platform::SecretItem> APMKeychainWrapper::searchDirectoryForIdentifier(
    const QString& identifier, const QString& appID)
{
    if (identifier.isEmpty() || appID.isEmpty())
        return std::nullopt;
    return platform::SecretItem { appID, identifier, identifier, QByteArray() };
}

std::optional<QByteArray> APMKeychainWrapper::keychainDataWithIdentifier(
    const QString& identifier, const QString& appID, APMError* error)
{
    const auto query = searchDirectoryForIdentifier(identifier, appID);
    if (!checkQuery(query, error))
        return std::nullopt;
    platform::SecretItem item;
    QString reason;
    switch (secretStore().find(query->service, query->account, &item, &reason)) {
    case platform::SecretStore::Status::Success:
        return item.secret;
    case platform::SecretStore::Status::NotFound:
        return std::nullopt;
    default:
        setStoreError(error, QStringLiteral("Cannot read the keychain item"), reason);
        return std::nullopt;
    }
}

std::optional<QString> APMKeychainWrapper::keychainValueWithIdentifier(
    const QString& identifier, const QString& appID, APMError* error)
{
    // The first read of the process brings an older item up to date; when
    // that cannot be done now the item is still read, and a later read
    // tries again.
    if (searchDirectoryForIdentifier(identifier, appID) && !firstReadDone.exchange(true)
        && !migrateKeychainDataToStringWithIdentifier(identifier, appID, nullptr))
        firstReadDone.store(false);
    const auto data = keychainDataWithIdentifier(identifier, appID, error);
    if (!data || data->isEmpty())
        return std::nullopt;
    return platform::Utf8Text::decode(*data);
}

bool APMKeychainWrapper::upsertKeychainValue(
    const QVariant& value, const QString& identifier, const QString& appID, APMError* error)
{
    const QByteArray data = value.typeId() == QMetaType::QString ? value.toString().toUtf8() : QByteArray();
    if (!APMCheckCondition(!data.isEmpty(), error, APMError::InvalidArgument,
            QStringLiteral("A keychain value must be a non-empty string")))
        return false;
    auto item = searchDirectoryForIdentifier(identifier, appID);
    if (!checkQuery(item, error))
        return false;
    item->secret = data;
    platform::SecretStore& store = secretStore();
    QString reason;
    // Whether an item exists decides between update and add; an item that
    // holds an empty value is updated too, never added a second time.
    platform::SecretStore::Status status = store.find(item->service, item->account, nullptr, &reason);
    if (status == platform::SecretStore::Status::Success)
        status = store.update(*item, &reason);
    else if (status == platform::SecretStore::Status::NotFound)
        status = store.add(*item, &reason);
    if (status == platform::SecretStore::Status::Success)
        return true;
    if (reason.isEmpty())
        reason = QStringLiteral("the item changed while it was written");
    setStoreError(error, QStringLiteral("Cannot store the keychain item"), reason);
    return false;
}

bool APMKeychainWrapper::deleteKeychainValueWithIdentifier(
    const QString& identifier, const QString& appID, APMError* error)
{
    const auto query = searchDirectoryForIdentifier(identifier, appID);
    if (!checkQuery(query, error))
        return false;
    QString reason;
    if (secretStore().remove(query->service, query->account, &reason)
        == platform::SecretStore::Status::Failed) {
        setStoreError(error, QStringLiteral("Cannot delete the keychain item"), reason);
        return false;
    }
    return true;
}

bool APMKeychainWrapper::isMigrationNeededForIdentifier(const QString& identifier, const QString& appID)
{
    const auto query = searchDirectoryForIdentifier(identifier, appID);
    if (!query)
        return false;
    platform::SecretItem item;
    QString reason;
    if (secretStore().find(query->service, query->account, &item, &reason)
        != platform::SecretStore::Status::Success)
        return false;
    return !item.generic.has_value();
}

bool APMKeychainWrapper::migrateKeychainDataToStringWithIdentifier(
    const QString& identifier, const QString& appID, APMError* error)
{
    const auto query = searchDirectoryForIdentifier(identifier, appID);
    if (!checkQuery(query, error))
        return false;
    platform::SecretStore& store = secretStore();
    platform::SecretItem item;
    QString reason;
    switch (store.find(query->service, query->account, &item, &reason)) {
    case platform::SecretStore::Status::NotFound:
        return true;
    case platform::SecretStore::Status::Success:
        break;
    default:
        setStoreError(error, QStringLiteral("Cannot read the keychain item"), reason);
        return false;
    }
    if (item.generic)
        return true;
    item.generic = query->generic;
    if (store.update(item, &reason) != platform::SecretStore::Status::Success) {
        setStoreError(error, QStringLiteral("Cannot migrate the keychain item"), reason);
        return false;
    }
    return true;
}
