#pragma once

#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <optional>

// A key-value store of small configuration values: the plist-file store
// (APMPersistentDictionary) and the preferences store (APMUserDefaults).
// Keys are non-empty strings; values are strings, numbers (bool, integer or
// real, kept apart), arrays, dictionaries, dates (QDateTime) or data
// (QByteArray), and everything nested in them must be of those kinds too.
// Invalid keys and values are refused with a warning and change nothing.
class APMConfigStore {
public:
    virtual ~APMConfigStore() = default;

    // An invalid QVariant when absent or the key is invalid.
    virtual QVariant objectForKey(const QString& key) = 0;
    // Typed reads answer nothing (or a null string, an invalid number)
    // when the stored value is absent or of another kind.
    std::optional<QVariantList> arrayForKey(const QString& key);
    std::optional<QVariantMap> dictionaryForKey(const QString& key);
    QString stringForKey(const QString& key);
    QVariant numberForKey(const QString& key);
    // 0, 0.0 or false unless a number is stored.
    qint64 integerForKey(const QString& key);
    float floatForKey(const QString& key);
    double doubleForKey(const QString& key);
    bool boolForKey(const QString& key);

    // An invalid QVariant removes the key. False when the key or value was
    // refused or the store could not take it.
    virtual bool setObject(const QVariant& value, const QString& key) = 0;
    bool setFloat(float value, const QString& key);
    bool setDouble(double value, const QString& key);
    bool setInteger(qint64 value, const QString& key);
    bool setBool(bool value, const QString& key);
    bool removeObjectForKey(const QString& key);
    virtual void clearAllData() = 0;
    // False when the values could not be written out.
    virtual bool synchronize() = 0;

    // A boolean, integer or real QVariant.
    static bool isNumber(const QVariant& value);
    // The number's 64-bit integer reading: reals are truncated and held
    // inside the int64 range (NaN gives 0); not a number gives 0.
    static qint64 int64FromNumber(const QVariant& value);
    // True for the kinds above, nested values included.
    static bool isValidValue(const QVariant& value);
};
