#include "analytics/base/APMUserDefaults.h"

#include "analytics/base/APMBackupExclusion.h"
#include "analytics/base/APMError.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/VULLogger.h"
#include "platform/Preferences.h"

#include <QFileInfo>

namespace {

const QString kExcludeFailedMessage
    = QStringLiteral("Failed to exclude preferences file from backup. Error code %1");
const QString kDefaultsInvalidGetKeyMessage = QStringLiteral("Cannot get object for invalid user default key.");
const QString kDefaultsInvalidSetKeyMessage = QStringLiteral("Cannot set object for invalid user default key.");
const QString kDefaultsInvalidValueMessage = QStringLiteral(
    "Cannot set invalid object to user defaults. Must be a string or number or an array. Value %1");
const QString kSynchronizeFailedMessage = QStringLiteral("Cannot synchronize user defaults to disk");

void logDefaults(int level, qint64 code, const QString& message)
{
    VULLogger::shared().log(
        level, APMMonitor::kDefaultLogTag, APMMonitor::formattedMessageCode(code), message);
}

platform::Preferences& preferencesFor(const QString& suiteName)
{
    return suiteName.isEmpty() ? platform::Preferences::standard() : platform::Preferences::suite(suiteName);
}

} // namespace

APMUserDefaults& APMUserDefaults::sharedUserDefaults()
{
    static APMUserDefaults* defaults = [] {
        auto* d = new APMUserDefaults(); // lives as long as the process
        d->setPreferenceFileExcluded(true);
        return d;
    }();
    return *defaults;
}

APMUserDefaults::APMUserDefaults()
    : APMUserDefaults(QString())
{
}

APMUserDefaults::APMUserDefaults(const QString& suiteName)
    : APMUserDefaults(suiteName, preferencesFor(suiteName))
{
}

APMUserDefaults::APMUserDefaults(const QString& suiteName, platform::Preferences& preferences)
    : suiteName_(suiteName)
    , appNameRef_(suiteName.isEmpty() ? platform::Preferences::standardSuiteName() : suiteName)
    , preferences_(preferences)
{
}

bool APMUserDefaults::isPreferenceFileExcluded() const
{
    QMutexLocker lock(&exclusionMutex_);
    return preferenceFileExcluded_;
}

void APMUserDefaults::setPreferenceFileExcluded(bool excluded)
{
    QMutexLocker lock(&exclusionMutex_);
    preferenceFileExcluded_ = excluded;
}

QVariant APMUserDefaults::objectForKey(const QString& key)
{
    if (key.isEmpty()) {
        logDefaults(VULLogger::Warning, 41001, kDefaultsInvalidGetKeyMessage);
        return QVariant();
    }
    return preferences_.value(key);
}

bool APMUserDefaults::setObject(const QVariant& value, const QString& key)
{
    if (key.isEmpty()) {
        logDefaults(VULLogger::Warning, 41002, kDefaultsInvalidSetKeyMessage);
        return false;
    }
    if (!value.isValid()) {
        preferences_.remove(key);
        return true;
    }
    if (!isValidValue(value)) {
        logDefaults(VULLogger::Warning, 41003, kDefaultsInvalidValueMessage.arg(value.toString()));
        return false;
    }
    return preferences_.setValue(key, value);
}

void APMUserDefaults::clearAllData()
{
    const QVariantMap stored = preferences_.storedValues();
    for (auto it = stored.constBegin(); it != stored.constEnd(); ++it)
        preferences_.remove(it.key());
}

bool APMUserDefaults::synchronize()
{
    const bool flushed = preferences_.synchronize();
    if (!flushed)
        logDefaults(VULLogger::Error, 41004, kSynchronizeFailedMessage);

    if (suiteName_.isEmpty())
        return flushed; // the application's own defaults are not a suite file
    QMutexLocker lock(&exclusionMutex_);
    const QString path = preferences_.filePath();
    if (!preferenceFileExcluded_ && QFileInfo::exists(path)) {
        APMError error;
        if (APMExcludePathFromBackup(path, &error))
            preferenceFileExcluded_ = true;
        else
            logDefaults(VULLogger::Warning, 41000, kExcludeFailedMessage.arg(error.code()));
    }
    return flushed;
}
