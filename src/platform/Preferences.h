#pragma once

#include <QMutex>
#include <QString>
#include <QVariant>
#include <QVariantMap>

namespace platform {

// The user defaults: one suite is one XML property-list file. Values keep
// their kind. Reads fall through to a registered-defaults layer that is never
// written to disk. Every change is written through at once, atomically
// (temporary file, then rename), so nothing is lost when the process ends.
// A file that cannot be read is kept aside and the suite starts empty (see
// PropertyListFile). When the folder refuses writes, values still change in
// memory for this run, and the user is told once. Safe to use from any thread.
class Preferences {
public:
    // The process-wide standard suite and named suites, stored under
    // AppPaths::preferences(). The same name always gives the same object.
    static Preferences& standard();
    static Preferences& suite(const QString& name);
    static QString standardSuiteName(); // the application's defaults domain

    // A suite kept in the given file (tests, or a caller that manages files).
    explicit Preferences(QString filePath);

    QString filePath() const { return filePath_; }

    QVariant value(const QString& key) const; // invalid QVariant when absent
    bool contains(const QString& key) const;   // stored or registered
    // Stores the value; an invalid QVariant removes the key. Values that a
    // property list cannot hold are refused (false) and nothing changes. A
    // failed write also answers false; the value then stays in memory.
    bool setValue(const QString& key, const QVariant& value);
    void remove(const QString& key);
    // Stores several values (an invalid QVariant removes its key) with one
    // write of the file. A value a property list cannot hold refuses the
    // whole batch (false) and nothing changes.
    bool setValues(const QVariantMap& values);
    void registerDefaults(const QVariantMap& defaults);
    QVariantMap dictionaryRepresentation() const; // stored values over defaults
    QVariantMap storedValues() const;

    // Writes the stored values to the file; false when the write fails.
    bool synchronize();
    // Drops the in-memory copy and reads the file again.
    void reload();

    // Typed reads. Numbers convert between kinds; a missing key or a value of
    // another kind gives the fallback.
    bool boolValue(const QString& key, bool fallback = false) const;
    qlonglong integerValue(const QString& key, qlonglong fallback = 0) const;
    double doubleValue(const QString& key, double fallback = 0) const;
    QString stringValue(const QString& key, const QString& fallback = {}) const;

private:
    // False with the reason when the file cannot be written.
    bool writeLocked(QString* failure);

    QString filePath_;
    mutable QMutex mutex_;
    QVariantMap values_;
    QVariantMap defaults_;
};

} // namespace platform
