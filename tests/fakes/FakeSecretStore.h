#pragma once

#include "platform/SecretStore.h"

#include <QList>
#include <QMap>
#include <QMutex>

namespace fakes {

// A secret store in memory that records every call and can be told to fail
// an operation, the way a locked or broken store would.
class FakeSecretStore final : public platform::SecretStore {
public:
    enum class Operation { Find, Add, Update, Remove };
    struct Call {
        Operation operation;
        QString service;
        QString account;
        bool operator==(const Call&) const = default;
    };

    Status find(
        const QString& service, const QString& account, platform::SecretItem* item, QString* error) override;
    Status add(const platform::SecretItem& item, QString* error) override;
    Status update(const platform::SecretItem& item, QString* error) override;
    Status remove(const QString& service, const QString& account, QString* error) override;

    // From now on the operation fails with this reason (nothing: works again).
    void setFailure(Operation operation, std::optional<QString> reason);

    QList<Call> calls() const;
    void clearCalls();
    QList<platform::SecretItem> items() const;
    // Puts an item in place as it is, without recording a call.
    void putItem(const platform::SecretItem& item);

private:
    // Records the call; answers true (and fills error) when it must fail.
    bool begin(Operation operation, const QString& service, const QString& account, QString* error);
    qsizetype indexOf(const QString& service, const QString& account) const;

    mutable QMutex mutex_;
    QList<platform::SecretItem> items_;
    QList<Call> calls_;
    QMap<Operation, QString> failures_;
};

} // namespace fakes
