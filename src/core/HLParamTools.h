#pragma once

#include <QByteArray>
#include <QString>

// Signing and encoding helpers of the machine-translation and document-OCR requests.
// Unlike StringCoding's HMAC, the secret here is keyed with its UTF-8 bytes.
class HLParamTools {
public:
    // HMAC-SHA256 keyed with the secret's UTF-8 bytes over the content's UTF-8 bytes
    // (both up to NUL), as Base64.
    static QString hmacSHA256WithSecret(const QString& secret, const QString& content);
    // SHA-256 of all UTF-8 bytes, as Base64 (44 characters).
    static QString hmacSHA256WithContent(const QString& text);
    static QString base64EncodeString(const QString& text);
    // Standard alphabet, "=" padding, no line breaks.
    static QString base64WithData(const QByteArray& data);
    // The decoded bytes as UTF-8 text; null when the input is not Base64 or not UTF-8.
    static QString base64DecodeString(const QString& text);
    // MD5 of all UTF-8 bytes, 32 lower-case hex digits.
    static QString getMD5ByString(const QString& text);
    // MD5 of the UTF-8 bytes up to NUL, lower or upper case.
    static QString md532BitLower(const QString& text);
    static QString md532BitUpper(const QString& text);
    // Whole seconds since 1970 as decimal text.
    static QString getNowTimeTimestamp();
    static QString getNowTimeTimestamp(double secondsSince1970);
    // Reached by no request: the application computes no HMAC-SHA1, so this gives the empty text.
    static QString HmacSha1(const QString& key, const QString& data);
};
