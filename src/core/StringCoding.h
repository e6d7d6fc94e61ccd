#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

// Digests, signatures, Base64, date texts and byte/text conversions used by the
// speech clients, the device links, the command store and the capture tool.
// Methods that read a receiver take it as their first argument. A null QString
// stands for "no result"; an empty result is returned as an empty, non-null text.
class StringCoding {
public:
    // The byte forms that signatures are computed over.
    // UTF-8 bytes of the text up to, not including, the first NUL character.
    static QByteArray utf8BytesUpToNul(const QString& text);
    // ASCII bytes up to the first NUL; nullopt when the text holds any non-ASCII character.
    static std::optional<QByteArray> asciiBytesUpToNul(const QString& text);

    // HMAC-SHA256 keyed with the secret's ASCII bytes over the content's UTF-8 bytes
    // (both up to NUL), as Base64. A secret that is not ASCII cannot key the MAC: null.
    static QString hmacSHA256WithSecret(const QString& secret, const QString& content);
    // SHA-256 of all UTF-8 bytes, as Base64 (44 characters).
    static QString hmacSHA256WithContent(const QString& text);
    // SHA-256 of the UTF-8 bytes up to NUL, as 64 lower-case hex digits.
    static QString sha256Value(const QString& text);
    // MD5 of the UTF-8 bytes up to NUL, as 32 lower-case hex digits.
    static QString uw_md5(const QString& text);
    // MD5 of a whole file, lower-case hex; empty when there is no readable file at the path.
    static QString getFileMD5StrFromPath(const QString& path);

    static QString uw_base64EncodeString(const QString& text);
    // Strict Base64 (standard alphabet, padded) read back as UTF-8; null when either fails.
    static QString uw_base64DecodeString(const QString& text);

    // "Wed, 09 Dec 2026 10:03:41 GMT" in English, always in GMT.
    static QString currentRFC1123DateString();
    static QString currentRFC1123DateString(const QDateTime& time);
    // The same shape, used by the translation and OCR requests.
    static QString getTime();
    static QString getTime(const QDateTime& time);
    // The wall-clock time as given (local time when called without one), followed by " GMT".
    static QString uw_rfc1123String();
    static QString uw_rfc1123String(const QDateTime& wallClock);
    // "yyyyMMddHHmmss" of the wall-clock time, for file names; calendar year.
    static QString uw_getCurrentDateString();
    static QString uw_getCurrentDateString(const QDateTime& wallClock);
    // Whole seconds since 1970 as decimal text, fraction cut off.
    static QString uw_getCurrentTimeStamp();
    static QString uw_getCurrentTimeStamp(double secondsSince1970);

    // The text parsed as a JSON object; nullopt for a null text, invalid JSON or a
    // top level that is not an object.
    static std::optional<QJsonObject> dictionaryWithJsonString(const QString& text);

    // The text trimmed at both ends of spaces and punctuation (ASCII and full-width);
    // null for a null or empty text.
    static QString deleteCharacters(const QString& text);
    static QString removeSpaceAndNewline(const QString& text);
    // The image's PNG bytes as one unbroken Base64 text; null for an image without pixels.
    static QString conversionImageToStringWithImage(const QImage& image);
    // Language code for the machine-translation service "ify"; empty for any other service.
    static QString conversionlanguagecodeToTranslationLanguagecodeWithLanguage(
        const QString& language, const QString& whichTransApi);
    // The overseas text-translation service's code for a target code of the
    // language lists: one that contains "cn" becomes "zh-Hans", then one that
    // contains "cht" "zh-Hant"; any other code stays as it is.
    static QString translatorTargetCode(const QString& code);

    // Each byte becomes the character with that 8-bit code.
    static QString stringFromData(const QByteArray& data);
    // The bytes as a big-endian unsigned 64-bit number (only the last eight count); null for no bytes.
    static QString decimalStringFromHexData(const QByteArray& data);
    // Hex text to bytes, two digits a byte; an odd length makes the first byte from one digit.
    // No bytes for an empty text.
    static QByteArray convertHexStringToDataWithString(const QString& hex);
    // Two lower-case hex digits per byte; null for no bytes.
    static QString convertDataToHexStringWithData(const QByteArray& data);
    // Each hex digit as four binary digits; other characters are dropped.
    static QString getBinaryByHex(const QString& hex);
    // The value of a text of binary digits; null when it does not fit a signed 64-bit number.
    static QString convertDecimalSystemFromBinarySystem(const QString& binary);

    // URL form encoding of the UTF-8 bytes: space to "+", unreserved kept, the rest %XX.
    static QString mm_urlencode(const QString& text);
    // The texts joined with the separator; null for an empty list.
    static QString mm_stringByCombineComponents(
        const QStringList& components, const QString& separatedString);
    // "kwzn" + the serial with its third and fourth characters set to "00"; null when shorter than four.
    static QString changeMySN(const QString& sn);

    // Link-level address of the computer's primary interface (that of the default route,
    // else the first that is up and not loopback) as "AA:BB:CC:DD:EE:FF"; null on failure,
    // after one line of explanation on standard output.
    static QString uw_getMacAddress();
    // The same for any interface, read from a sysfs-style folder of interfaces.
    static QString uw_getMacAddress(const QString& interfaceName, const QString& interfacesFolder);
};
