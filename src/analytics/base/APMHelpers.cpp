#include "analytics/base/APMHelpers.h"

#include "analytics/base/APMMonitor.h"

#include <QCryptographicHash>
#include <QStringList>
#include <QUrl>
#include <QtEndian>

#include <algorithm>

namespace {

// Characters a query may hold literally, without those that separate or
// join pairs.
const QByteArray kQueryLiteral = QByteArrayLiteral("!$'()*,-./:;?@_~");

bool hasUnpairedSurrogate(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate()) {
            if (i + 1 >= text.size() || !text[i + 1].isLowSurrogate())
                return true;
            ++i;
        } else if (c.isLowSurrogate()) {
            return true;
        }
    }
    return false;
}

QString encoded(const QVariant& value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(APMMonitor::describedContext(value), kQueryLiteral));
}

} // namespace

QString apm_MD5String(const QString& text)
{
    if (hasUnpairedSurrogate(text))
        return QString();
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

qint64 apm_64LSBMD5(const QByteArray& data)
{
    const QByteArray digest = QCryptographicHash::hash(data, QCryptographicHash::Md5);
    return qFromBigEndian<qint64>(digest.constData() + digest.size() - 8);
}

qint64 apm_64LeastSignificantBits(const QByteArray& data)
{
    quint64 value = 0;
    for (qsizetype i = std::max<qsizetype>(0, data.size() - 8); i < data.size(); ++i)
        value = (value << 8) | quint8(data.at(i));
    return qint64(value);
}

QString apm_queryString(const QVariantMap& parameters)
{
    QStringList pairs;
    for (auto it = parameters.constBegin(); it != parameters.constEnd(); ++it)
        pairs << encoded(it.key()) + QLatin1Char('=') + encoded(it.value());
    return pairs.join(QLatin1Char('&'));
}

bool isBitEnabledAtIndex(const QString& text, qint64 index)
{
    return index >= 0 && index < text.size() && text[static_cast<qsizetype>(index)] == QLatin1Char('1');
}
