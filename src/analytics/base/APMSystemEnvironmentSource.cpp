#include "analytics/base/APMSystemEnvironmentSource.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QSysInfo>

#include <utility>

const char* const APMSystemEnvironmentSource::kProductNamePath = "/sys/class/dmi/id/product_name";
const QString APMSystemEnvironmentSource::kFallbackDeviceModel = QStringLiteral("Linux PC");

namespace {
// The product name is one short line; anything longer is not one.
constexpr qint64 kSystemEnvironmentMaxProductName = 256;
} // namespace

APMSystemEnvironmentSource::APMSystemEnvironmentSource(QString productNamePath)
    : productNamePath_(std::move(productNamePath))
{
}

QString APMSystemEnvironmentSource::deviceModel()
{
    QFile file(productNamePath_);
    if (file.open(QIODevice::ReadOnly)) {
        const QString name
            = QString::fromUtf8(file.read(kSystemEnvironmentMaxProductName)).simplified();
        if (!name.isEmpty())
            return name;
    }
    return kFallbackDeviceModel;
}

QString APMSystemEnvironmentSource::systemVersion()
{
    return QSysInfo::productVersion();
}

QStringList APMSystemEnvironmentSource::preferredLanguages()
{
    return QLocale::system().uiLanguages();
}

int APMSystemEnvironmentSource::secondsFromGMT()
{
    return QDateTime::currentDateTime().offsetFromUtc();
}
