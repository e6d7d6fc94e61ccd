#include "core/HLBaseResponse.h"

#include <QJsonDocument>
#include <QLocale>
#include <QVariantMap>

#include <cmath>
#include <limits>

namespace {

constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();

qint64 truncated(double value)
{
    if (std::isnan(value))
        return 0;
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    if (value >= 9223372036854775808.0)
        return kMax;
    if (value < -9223372036854775808.0)
        return kMin;
    return qint64(value);
}

qint64 leadingInteger(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    qint64 magnitude = 0; // accumulated as a negative number, which reaches kMin
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        const int digit = text[i].unicode() - u'0';
        if (magnitude < (kMin + digit) / 10)
            return negative ? kMin : kMax;
        magnitude = magnitude * 10 - digit;
    }
    if (negative)
        return magnitude;
    return magnitude == kMin ? kMax : -magnitude;
}

} // namespace

std::optional<HLBaseResponse> HLBaseResponse::fromJson(const QVariant& json)
{
    if (json.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap object = json.toMap();
    HLBaseResponse response;
    response.code_ = textValue(object.value(QStringLiteral("code")));
    response.desc_ = textValue(object.value(QStringLiteral("desc")));
    response.data_ = object.value(QStringLiteral("data"));
    response.sid_ = textValue(object.value(QStringLiteral("sid")));
    return response;
}

std::optional<QVariant> HLBaseResponse::parseJson(const QByteArray& body)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || document.isNull())
        return std::nullopt;
    return document.toVariant();
}

qint64 HLBaseResponse::integerValue(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? 1 : 0;
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::Char:
    case QMetaType::SChar:
        return value.toLongLong();
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar: {
        const qulonglong unsignedValue = value.toULongLong();
        return unsignedValue > qulonglong(kMax) ? kMax : qint64(unsignedValue);
    }
    case QMetaType::Double:
    case QMetaType::Float:
        return truncated(value.toDouble());
    case QMetaType::QString:
    case QMetaType::QByteArray:
        return leadingInteger(value.toString());
    default:
        return 0;
    }
}

QString HLBaseResponse::textValue(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString();
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::Double:
    case QMetaType::Float:
        return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
        return QString::number(value.toLongLong());
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
        return QString::number(value.toULongLong());
    default:
        return {};
    }
}
