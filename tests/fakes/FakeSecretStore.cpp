#include "fakes/FakeSecretStore.h"

namespace fakes {

using Status = platform::SecretStore::Status;

bool FakeSecretStore::begin(
    Operation operation, const QString& service, const QString& account, QString* error)
{
    calls_.append({ operation, service, account });
    const auto failure = failures_.constFind(operation);
    if (failure == failures_.cend())
        return false;
    if (error)
        *error = *failure;
    return true;
}

qsizetype FakeSecretStore::indexOf(const QString& service, const QString& account) const
{
    for (qsizetype i = 0; i < items_.size(); ++i) {
        if (items_[i].service == service && items_[i].account == account)
            return i;
    }
    return -1;
}

Status FakeSecretStore::find(
    const QString& service, const QString& account, platform::SecretItem* item, QString* error)
{
    QMutexLocker lock(&mutex_);
    if (begin(Operation::Find, service, account, error))
        return Status::Failed;
    const qsizetype index = indexOf(service, account);
    if (index < 0)
        return Status::NotFound;
    if (item)
        *item = items_[index];
    return Status::Success;
}

Status FakeSecretStore::add(const platform::SecretItem& item, QString* error)
{
    QMutexLocker lock(&mutex_);
    if (begin(Operation::Add, item.service, item.account, error))
        return Status::Failed;
    if (indexOf(item.service, item.account) >= 0)
        return Status::Duplicate;
    items_.append(item);
    return Status::Success;
}

Status FakeSecretStore::update(const platform::SecretItem& item, QString* error)
{
    QMutexLocker lock(&mutex_);
    if (begin(Operation::Update, item.service, item.account, error))
        return Status::Failed;
    const qsizetype index = indexOf(item.service, item.account);
    if (index < 0)
        return Status::NotFound;
    items_[index] = item;
    return Status::Success;
}

Status FakeSecretStore::remove(const QString& service, const QString& account, QString* error)
{
    QMutexLocker lock(&mutex_);
    if (begin(Operation::Remove, service, account, error))
        return Status::Failed;
    const qsizetype index = indexOf(service, account);
    if (index < 0)
        return Status::NotFound;
    items_.removeAt(index);
    return Status::Success;
}

void FakeSecretStore::setFailure(Operation operation, std::optional<QString> reason)
{
    QMutexLocker lock(&mutex_);
    if (reason)
        failures_.insert(operation, *reason);
    else
        failures_.remove(operation);
}

QList<FakeSecretStore::Call> FakeSecretStore::calls() const
{
    QMutexLocker lock(&mutex_);
    return calls_;
}

void FakeSecretStore::clearCalls()
{
    QMutexLocker lock(&mutex_);
    calls_.clear();
}

QList<platform::SecretItem> FakeSecretStore::items() const
{
    QMutexLocker lock(&mutex_);
    return items_;
}

void FakeSecretStore::putItem(const platform::SecretItem& item)
{
    QMutexLocker lock(&mutex_);
    const qsizetype index = indexOf(item.service, item.account);
    if (index >= 0)
        items_[index] = item;
    else
        items_.append(item);
}

} // namespace fakes
