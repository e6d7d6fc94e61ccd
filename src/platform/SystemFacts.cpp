#include "platform/SystemFacts.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>

namespace platform {

namespace {

// Files of the system are small; anything larger is not what we look for.
constexpr qint64 kMaxFactFileBytes = 64 * 1024;

QByteArray readSmallFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.read(kMaxFactFileBytes);
}

QString unquotedValue(const QByteArray& raw)
{
    const QByteArray value = raw.trimmed();
    if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'')
        return QString::fromUtf8(value.mid(1, value.size() - 2));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        QByteArray out;
        const QByteArray inner = value.mid(1, value.size() - 2);
        for (qsizetype i = 0; i < inner.size(); ++i) {
            if (inner[i] == '\\' && i + 1 < inner.size())
                ++i;
            out.append(inner[i]);
        }
        return QString::fromUtf8(out);
    }
    return QString::fromUtf8(value);
}

} // namespace

const QString LinuxSystemFacts::kDefaultOsReleasePath = QStringLiteral("/etc/os-release");
const QString LinuxSystemFacts::kDefaultProductNamePath = QStringLiteral("/sys/class/dmi/id/product_name");
const QString LinuxSystemFacts::kUnknownDeviceModel = QStringLiteral("linux");

SystemFacts& SystemFacts::shared()
{
    static LinuxSystemFacts facts;
    return facts;
}

LinuxSystemFacts::LinuxSystemFacts(QString osReleasePath, QString productNamePath)
    : osReleasePath_(std::move(osReleasePath))
    , productNamePath_(std::move(productNamePath))
{
}

QString LinuxSystemFacts::versionIDFromOsRelease(const QByteArray& contents)
{
    static const QByteArray kKey = QByteArrayLiteral("VERSION_ID=");
    for (const QByteArray& line : contents.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith(kKey))
            return unquotedValue(trimmed.mid(kKey.size()));
    }
    return QString();
}

QString LinuxSystemFacts::osVersion() const
{
    return versionIDFromOsRelease(readSmallFile(osReleasePath_));
}

QString LinuxSystemFacts::deviceModel() const
{
    // A product name is a short line; a longer file is not one.
    constexpr qsizetype kMaxModelBytes = 256;
    const QString model = QString::fromUtf8(readSmallFile(productNamePath_).left(kMaxModelBytes)).trimmed();
    return model.isEmpty() ? kUnknownDeviceModel : model;
}

QStringList LinuxSystemFacts::preferredLanguages() const
{
    return QLocale::system().uiLanguages();
}

int LinuxSystemFacts::timeZoneOffsetSeconds() const
{
    return QDateTime::currentDateTime().offsetFromUtc();
}

} // namespace platform
