#include "analytics/base/APMUserDataHashing.h"

#include <QCryptographicHash>

namespace {

QByteArray sha256OfNormalized(const QString& normalized)
{
    if (normalized.isEmpty())
        return {};
    return QCryptographicHash::hash(normalized.toUtf8(), QCryptographicHash::Sha256);
}

} // namespace

QString APMUserDataHashing::normalizedEmailAddress(const QString& address)
{
    return address.trimmed().toLower();
}

QString APMUserDataHashing::normalizedPhoneNumber(const QString& number)
{
    const QString trimmed = number.trimmed();
    QString digits;
    digits.reserve(trimmed.size());
    for (const QChar c : trimmed) {
        // ASCII digits only: other scripts' digits would hash differently
        // from the same number typed in ASCII.
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            digits.append(c);
    }
    if (!trimmed.startsWith(QLatin1Char('+')) && digits.startsWith(QLatin1String("00")))
        digits.remove(0, 2);
    if (digits.isEmpty())
        return {};
    return QLatin1Char('+') + digits;
}

QByteArray APMUserDataHashing::hashedEmailAddress(const QString& address)
{
    return sha256OfNormalized(normalizedEmailAddress(address));
}

QByteArray APMUserDataHashing::hashedPhoneNumber(const QString& number)
{
    return sha256OfNormalized(normalizedPhoneNumber(number));
}
