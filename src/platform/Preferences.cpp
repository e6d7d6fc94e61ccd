#include "platform/Preferences.h"

#include "platform/AppPaths.h"
#include "platform/PropertyListCodec.h"
#include "platform/PropertyListFile.h"
#include "platform/UserNotices.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <cmath>
#include <map>
#include <memory>

namespace platform {
namespace {

const QString kStandardSuiteName = QStringLiteral("org.pravik.PraVik");
const QString kFileSuffix = QStringLiteral(".plist");
const QString kUnwritableKeyPrefix = QStringLiteral("preferences-unwritable:");
const QString kUnwritableNotice = QStringLiteral(
    "Settings cannot be saved in %1 (%2). Changes made now last only until the program ends.");

// A suite name becomes a file name; it must not lead out of the folder.
QString fileNameFor(const QString& suiteName)
{
    QString name = suiteName;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    name.replace(QChar(0), QLatin1Char('_'));
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name = QStringLiteral("_") + name;
    if (name != suiteName)
        qWarning("Preferences: suite name \"%s\" stored as \"%s\"", qUtf8Printable(suiteName),
            qUtf8Printable(name));
    return name + kFileSuffix;
}

// A folder that refuses writes fails every change; the user hears it once a
// run, and the log says it once, with the first reason.
void reportUnwritable(const QString& path, const QString& reason)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (UserNotices::shared().post(
            kUnwritableKeyPrefix + folder, kUnwritableNotice.arg(QDir::toNativeSeparators(folder), reason)))
        qWarning("Preferences: cannot write %s: %s; changes last only until the program ends",
            qUtf8Printable(path), qUtf8Printable(reason));
}

// The value as it reads back from the file: integers become qlonglong,
// string lists arrays, dates lose their milliseconds. Keeping the in-memory
// copy in that form means a value never changes kind across a restart.
std::optional<QVariant> normalized(const QVariant& value, QString* error)
{
    const std::optional<QByteArray> xml = PropertyListCodec::toXml(value, error);
    if (!xml)
        return std::nullopt;
    return PropertyListCodec::fromXml(*xml, error);
}

struct Registry {
    QMutex mutex;
    std::map<QString, std::unique_ptr<Preferences>> suites; // by file path
};

Registry& registry()
{
    static Registry* r = new Registry(); // suites live as long as the process
    return *r;
}

} // namespace

Preferences& Preferences::standard()
{
    return suite(standardSuiteName());
}

Preferences& Preferences::suite(const QString& name)
{
    const QString path = AppPaths::preferences() + QLatin1Char('/') + fileNameFor(name);
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    auto& slot = r.suites[path];
    if (!slot)
        slot = std::make_unique<Preferences>(path);
    return *slot;
}

QString Preferences::standardSuiteName()
{
    return kStandardSuiteName;
}

Preferences::Preferences(QString filePath)
    : filePath_(std::move(filePath))
    , values_(PropertyListFile::readDictionary(filePath_))
{
}

QVariant Preferences::value(const QString& key) const
{
    QMutexLocker lock(&mutex_);
    auto it = values_.constFind(key);
    if (it != values_.constEnd())
        return *it;
    return defaults_.value(key);
}

bool Preferences::contains(const QString& key) const
{
    QMutexLocker lock(&mutex_);
    return values_.contains(key) || defaults_.contains(key);
}

bool Preferences::setValue(const QString& key, const QVariant& value)
{
    if (!value.isValid()) {
        remove(key);
        return true;
    }
    QString error;
    const std::optional<QVariant> stored = normalized(QVariantMap { { key, value } }, &error);
    if (!stored) {
        qWarning("Preferences: refused \"%s\": %s", qUtf8Printable(key), qUtf8Printable(error));
        return false;
    }
    QString failure;
    {
        QMutexLocker lock(&mutex_);
        values_.insert(key, stored->toMap().value(key));
        if (writeLocked(&failure))
            return true;
    }
    reportUnwritable(filePath_, failure);
    return false;
}

bool Preferences::setValues(const QVariantMap& values)
{
    QVariantMap stored;
    for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
        if (!it.value().isValid())
            continue;
        QString error;
        const std::optional<QVariant> v = normalized(QVariantMap { { it.key(), it.value() } }, &error);
        if (!v) {
            qWarning("Preferences: refused \"%s\": %s", qUtf8Printable(it.key()), qUtf8Printable(error));
            return false;
        }
        stored.insert(it.key(), v->toMap().value(it.key()));
    }
    QString failure;
    {
        QMutexLocker lock(&mutex_);
        for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
            if (it.value().isValid())
                values_.insert(it.key(), stored.value(it.key()));
            else
                values_.remove(it.key());
        }
        if (writeLocked(&failure))
            return true;
    }
    reportUnwritable(filePath_, failure);
    return false;
}

void Preferences::remove(const QString& key)
{
    QString failure;
    {
        QMutexLocker lock(&mutex_);
        if (values_.remove(key) == 0 || writeLocked(&failure))
            return;
    }
    reportUnwritable(filePath_, failure);
}

void Preferences::registerDefaults(const QVariantMap& defaults)
{
    QMutexLocker lock(&mutex_);
    for (auto it = defaults.constBegin(); it != defaults.constEnd(); ++it) {
        QString error;
        const std::optional<QVariant> v = normalized(QVariantMap { { it.key(), it.value() } }, &error);
        if (v)
            defaults_.insert(it.key(), v->toMap().value(it.key()));
        else
            qWarning(
                "Preferences: default \"%s\" ignored: %s", qUtf8Printable(it.key()), qUtf8Printable(error));
    }
}

QVariantMap Preferences::dictionaryRepresentation() const
{
    QMutexLocker lock(&mutex_);
    QVariantMap all = defaults_;
    all.insert(values_);
    return all;
}

QVariantMap Preferences::storedValues() const
{
    QMutexLocker lock(&mutex_);
    return values_;
}

bool Preferences::synchronize()
{
    QString failure;
    {
        QMutexLocker lock(&mutex_);
        if (writeLocked(&failure))
            return true;
    }
    reportUnwritable(filePath_, failure);
    return false;
}

void Preferences::reload()
{
    // Read outside the lock: a damaged file tells the user, whose listener
    // may well read preferences.
    QVariantMap values = PropertyListFile::readDictionary(filePath_);
    QMutexLocker lock(&mutex_);
    values_ = std::move(values);
}

bool Preferences::writeLocked(QString* failure)
{
    const std::optional<QByteArray> xml = PropertyListCodec::toXml(values_, failure);
    if (!xml) // cannot happen: every stored value was checked on the way in
        return false;
    const QString folder = QFileInfo(filePath_).absolutePath();
    if (!QDir().mkpath(folder)) {
        *failure = QStringLiteral("the folder cannot be created");
        return false;
    }
    // QSaveFile writes a temporary file beside the target and renames it over
    // the target on commit, so a crash leaves either the old or the new file.
    QSaveFile file(filePath_);
    if (!file.open(QIODevice::WriteOnly) || file.write(*xml) != xml->size() || !file.commit()) {
        *failure = file.errorString();
        return false;
    }
    return true;
}

bool Preferences::boolValue(const QString& key, bool fallback) const
{
    const QVariant v = value(key);
    const int typeId = v.metaType().id();
    if (typeId == QMetaType::Bool)
        return v.toBool();
    if (typeId == QMetaType::LongLong)
        return v.toLongLong() != 0;
    if (typeId == QMetaType::Double) {
        const double d = v.toDouble();
        return std::isnan(d) ? fallback : d != 0;
    }
    return fallback;
}

qlonglong Preferences::integerValue(const QString& key, qlonglong fallback) const
{
    const QVariant v = value(key);
    const int typeId = v.metaType().id();
    if (typeId == QMetaType::Bool)
        return v.toBool() ? 1 : 0;
    if (typeId == QMetaType::LongLong)
        return v.toLongLong();
    if (typeId == QMetaType::Double) {
        // Only values that fit convert (towards zero); anything else would be
        // undefined behaviour.
        const double d = v.toDouble();
        constexpr double limit = 9223372036854775808.0; // 2^63
        if (std::isfinite(d) && d >= -limit && d < limit)
            return qlonglong(d);
        return fallback;
    }
    return fallback;
}

double Preferences::doubleValue(const QString& key, double fallback) const
{
    const QVariant v = value(key);
    const int typeId = v.metaType().id();
    if (typeId == QMetaType::Double)
        return v.toDouble();
    if (typeId == QMetaType::Bool)
        return v.toBool() ? 1 : 0;
    if (typeId == QMetaType::LongLong)
        return double(v.toLongLong());
    return fallback;
}

QString Preferences::stringValue(const QString& key, const QString& fallback) const
{
    const QVariant v = value(key);
    if (v.metaType().id() == QMetaType::QString)
        return v.toString();
    return fallback;
}

} // namespace platform
