#include "analytics/base/APMHelpers.h"

#include "analytics/base/APMMonitor.h"

#include <QCryptographicHash>
#include <QStringDecoder>
#include <QStringList>
#include <QUrl>

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

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
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
    return apm_64LeastSignificantBits(QCryptographicHash::hash(data, QCryptographicHash::Md5));
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

QString apm_stringByUnescapingFromURLArgument(const QString& text)
{
    QString plus = text;
    plus.replace(QLatin1Char('+'), QLatin1Char(' '));
    const QByteArray bytes = plus.toUtf8();
    QByteArray decoded;
    decoded.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '%') {
            decoded.append(bytes[i]);
            continue;
        }
        const int high = i + 2 < bytes.size() ? hexDigitValue(bytes[i + 1]) : -1;
        const int low = high >= 0 ? hexDigitValue(bytes[i + 2]) : -1;
        if (low < 0)
            return QString();
        decoded.append(static_cast<char>(high * 16 + low));
        i += 2;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString result = decoder.decode(decoded);
    if (decoder.hasError())
        return QString();
    if (result.isNull())
        result = QLatin1String("");
    return result;
}

QVariantMap apm_dictionaryWithHttpArgumentsString(const QString& text)
{
    QVariantMap result;
    const QStringList pieces = text.split(QLatin1Char('&'));
    for (auto it = pieces.crbegin(); it != pieces.crend(); ++it) {
        if (it->isEmpty())
            continue;
        const qsizetype equals = it->indexOf(QLatin1Char('='));
        const QString rawKey = equals < 0 ? *it : it->left(equals);
        const QString rawValue = equals < 0 ? QString() : it->mid(equals + 1);
        QString key = apm_stringByUnescapingFromURLArgument(rawKey);
        QString value = apm_stringByUnescapingFromURLArgument(rawValue);
        if (key.isNull())
            key = QLatin1String("");
        if (value.isNull())
            value = QLatin1String("");
        result.insert(key, value);
    }
    return result;
}
