#pragma once

#include "analytics/base/APMConfigStore.h"

#include <QHash>

// A settings store in memory that refuses what the file stores refuse.
class MemoryConfigStore final : public APMConfigStore {
public:
    QVariant objectForKey(const QString& key) override { return values_.value(key); }
    bool setObject(const QVariant& value, const QString& key) override
    {
        if (key.isEmpty())
            return false;
        if (!value.isValid()) {
            values_.remove(key);
            return true;
        }
        if (!isValidValue(value))
            return false;
        values_.insert(key, value);
        return true;
    }
    void clearAllData() override { values_.clear(); }
    bool synchronize() override { return true; }

private:
    QHash<QString, QVariant> values_;
};

// Another owner's store, for code that insists on owning the one it is given.
class BorrowedConfigStore final : public APMConfigStore {
public:
    explicit BorrowedConfigStore(APMConfigStore& store)
        : store_(store)
    {
    }
    QVariant objectForKey(const QString& key) override { return store_.objectForKey(key); }
    bool setObject(const QVariant& value, const QString& key) override
    {
        return store_.setObject(value, key);
    }
    void clearAllData() override { store_.clearAllData(); }
    bool synchronize() override { return store_.synchronize(); }

private:
    APMConfigStore& store_;
};
