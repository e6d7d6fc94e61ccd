#include "core/HLParamTools.h"

#include "core/StringCoding.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>

QString HLParamTools::hmacSHA256WithSecret(const QString& secret, const QString& content)
{
    return base64WithData(QMessageAuthenticationCode::hash(StringCoding::utf8BytesUpToNul(content),
        StringCoding::utf8BytesUpToNul(secret), QCryptographicHash::Sha256));
}

QString HLParamTools::hmacSHA256WithContent(const QString& text)
{
    return StringCoding::hmacSHA256WithContent(text);
}

QString HLParamTools::base64EncodeString(const QString& text)
{
    return base64WithData(text.toUtf8());
}

QString HLParamTools::base64WithData(const QByteArray& data)
{
    const QString encoded = QString::fromLatin1(data.toBase64());
    return encoded.isNull() ? QStringLiteral("") : encoded;
}

QString HLParamTools::base64DecodeString(const QString& text)
{
    return StringCoding::uw_base64DecodeString(text);
}

QString HLParamTools::getMD5ByString(const QString& text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

QString HLParamTools::md532BitLower(const QString& text)
{
    return StringCoding::uw_md5(text);
}

QString HLParamTools::md532BitUpper(const QString& text)
{
    return StringCoding::uw_md5(text).toUpper();
}

QString HLParamTools::getNowTimeTimestamp()
{
    return StringCoding::uw_getCurrentTimeStamp();
}

QString HLParamTools::getNowTimeTimestamp(double secondsSince1970)
{
    return StringCoding::uw_getCurrentTimeStamp(secondsSince1970);
}

QString HLParamTools::HmacSha1(const QString& key, const QString& data)
{
    Q_UNUSED(key);
    Q_UNUSED(data);
    return QStringLiteral("");
}
