#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace platform {

// One stored secret: the bytes of a password-like value, found by its
// service and account. `generic` is a free-form attribute kept beside it;
// items written by older versions may lack it.
struct SecretItem {
    QString service;
    QString account;
    std::optional<QString> generic;
    QByteArray secret;

    bool operator==(const SecretItem&) const = default;
};

// Where the application keeps small secrets that must stay on this machine
// and out of other users' reach. An item is identified by service and
// account; both are non-empty. Every operation answers a status; on Failed
// it also writes the reason into `error` when one is given. Safe to use
// from any thread.
class SecretStore {
public:
    enum class Status {
        Success,
        NotFound, // find, update, remove: no item of that service and account
        Duplicate, // add: the item exists already
        Failed, // the store could not be read or written, or a bad argument
    };

    virtual ~SecretStore() = default;

    virtual Status find(const QString& service, const QString& account, SecretItem* item, QString* error) = 0;
    virtual Status add(const SecretItem& item, QString* error) = 0;
    // Replaces the generic attribute and the secret of the existing item.
    virtual Status update(const SecretItem& item, QString* error) = 0;
    virtual Status remove(const QString& service, const QString& account, QString* error) = 0;

    // The store of this machine: a file readable by its owner only, in the
    // Application Support folder.
    static SecretStore& shared();
};

} // namespace platform
