#pragma once

#include "analytics/base/APMConfigStore.h"

#include <QMutex>

namespace platform {
class Preferences;
} // namespace platform

// A config store over the shared preferences service: the application's own
// defaults or a named suite. Writes go through at once (the preferences
// service writes its file atomically); synchronize() flushes and, the first
// time a suite's file exists, marks it excluded from backups.
class APMUserDefaults final : public APMConfigStore {
public:
    // The application's own defaults; needs no backup exclusion.
    static APMUserDefaults& sharedUserDefaults();

    // The application's own defaults.
    APMUserDefaults();
    // A named suite; an empty name means the application's own defaults.
    explicit APMUserDefaults(const QString& suiteName);
    // A suite kept in the given preferences object (tests, or callers that
    // manage their own files); it must outlive the store.
    APMUserDefaults(const QString& suiteName, platform::Preferences& preferences);

    const QString& suiteName() const { return suiteName_; }
    // The suite name, or the application's defaults domain.
    const QString& appNameRef() const { return appNameRef_; }
    bool isPreferenceFileExcluded() const;
    void setPreferenceFileExcluded(bool excluded);

    QVariant objectForKey(const QString& key) override;
    bool setObject(const QVariant& value, const QString& key) override;
    void clearAllData() override;
    bool synchronize() override;

private:
    QString suiteName_;
    QString appNameRef_;
    platform::Preferences& preferences_;
    mutable QMutex exclusionMutex_;
    bool preferenceFileExcluded_ = false;
};
