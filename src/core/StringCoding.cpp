#include "core/StringCoding.h"

#include "core/MMImage.h"
#include "platform/Clock.h"
#include "platform/PrimaryInterface.h"
#include "platform/Utf8Text.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QMessageAuthenticationCode>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

const QString kInterfacesFolder = QStringLiteral("/sys/class/net");
const QString kAddressFile = QStringLiteral("address");
constexpr char kNoInterfaceMessage[] = "Error: if_nametoindex error\n";
constexpr char kAddressUnreadableMessage[] = "Error: sysctl, take 1\n";
// Deliberately without a line break: the message has always been printed this way.
constexpr char kAddressMalformedMessage[] = "Error: sysctl, take 2";
constexpr int kMacAddressBytes = 6;

const QString kTranslationService = QStringLiteral("ify");
const QString kSerialPrefix = QStringLiteral("kwzn");
const QString kGmtSuffix = QStringLiteral(" GMT");

// Trimmed from both ends of a spoken search phrase: ASCII and full-width punctuation.
constexpr char16_t kCleanUpCharacters[] = { 0xFF0C, 0x002C, 0x0020, 0x3002, 0x002E, 0x0040, 0xFF0F, 0xFF1A,
    0xFF1B, 0xFF08, 0xFF09, 0x00A5, 0x300C, 0x300D, 0xFF02, 0x3001, 0x005B, 0x005D, 0x007B, 0x007D, 0x0023,
    0x0025, 0x002D, 0x002A, 0x002B, 0x003D, 0x005F, 0x005C, 0x007C, 0x007E, 0xFF1C, 0xFF1E, 0x0024, 0x20AC,
    0x005E, 0x2022, 0x0027, 0x0026, 0x0028, 0x0029, 0x0022 };

constexpr const char* kDayNames[] = { "Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun" };
constexpr const char* kMonthNames[]
    = { "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec" };

// 0001-01-01T00:00:00Z and 9999-12-31T23:59:59Z: the years a four-digit date text can show.
constexpr double kEarliestSeconds = -62135596800.0;
constexpr double kLatestSeconds = 253402300799.0;

QString emptyText()
{
    return QStringLiteral("");
}

QString nonNull(const QString& text)
{
    return text.isNull() ? emptyText() : text;
}

QString lowerHex(const QByteArray& bytes)
{
    return nonNull(QString::fromLatin1(bytes.toHex()));
}

bool isCleanUpCharacter(QChar c)
{
    for (char16_t candidate : kCleanUpCharacters) {
        if (c.unicode() == candidate)
            return true;
    }
    return false;
}

int hexDigitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

bool isBase64Alphabet(char16_t u)
{
    return (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9') || u == u'+'
        || u == u'/';
}

// Padded standard Base64 only: no white space, no missing or misplaced "=".
bool isStrictBase64(const QString& text)
{
    const qsizetype length = text.size();
    if (length % 4 != 0)
        return false;
    qsizetype padding = 0;
    if (length > 0 && text.at(length - 1) == u'=') {
        padding = 1;
        if (text.at(length - 2) == u'=')
            padding = 2;
    }
    for (qsizetype i = 0; i < length - padding; ++i) {
        if (!isBase64Alphabet(text.at(i).unicode()))
            return false;
    }
    return true;
}

QString utf8OrNull(const QByteArray& bytes)
{
    const std::optional<QString> text = platform::Utf8Text::decodeStrict(bytes);
    return text ? nonNull(*text) : QString();
}

QDateTime dateTimeFromSeconds(double seconds, Qt::TimeSpec spec)
{
    if (!std::isfinite(seconds))
        seconds = 0;
    seconds = std::clamp(seconds, kEarliestSeconds, kLatestSeconds);
    const auto msecs = static_cast<qint64>(std::floor(seconds * 1000.0));
    return QDateTime::fromMSecsSinceEpoch(msecs, spec);
}

QString twoDigits(int value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

QString calendarYear(int year)
{
    const QString digits = QString::number(qAbs(qint64 { year })).rightJustified(4, QLatin1Char('0'));
    return year < 0 ? QLatin1Char('-') + digits : digits;
}

// "Wed, 09 Dec 2026 10:03:41" of the wall-clock fields of the given time, English names.
QString englishDateText(const QDateTime& time)
{
    const QDate date = time.date();
    const QTime clock = time.time();
    if (!date.isValid() || !clock.isValid())
        return {};
    return QStringLiteral("%1, %2 %3 %4 %5:%6:%7")
        .arg(QLatin1String(kDayNames[date.dayOfWeek() - 1]), twoDigits(date.day()),
            QLatin1String(kMonthNames[date.month() - 1]), calendarYear(date.year()), twoDigits(clock.hour()),
            twoDigits(clock.minute()), twoDigits(clock.second()));
}

QString gmtDateText(const QDateTime& time)
{
    if (!time.isValid())
        return {};
    const QString text = englishDateText(time.toUTC());
    return text.isNull() ? QString() : text + kGmtSuffix;
}

double nowSeconds()
{
    return platform::Clock::system().now();
}

// A chunk of at most two characters: its leading hex digits count, a chunk without any reads as zero.
char hexChunkByte(QStringView chunk)
{
    unsigned value = 0;
    for (QChar c : chunk) {
        const int digit = hexDigitValue(c);
        if (digit < 0)
            break;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return static_cast<char>(value & 0xFF);
}

} // namespace

QByteArray StringCoding::utf8BytesUpToNul(const QString& text)
{
    QByteArray bytes = text.toUtf8();
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return bytes;
}

std::optional<QByteArray> StringCoding::asciiBytesUpToNul(const QString& text)
{
    for (QChar c : text) {
        if (c.unicode() > 0x7F)
            return std::nullopt;
    }
    QByteArray bytes = text.toLatin1();
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return bytes;
}

QString StringCoding::hmacSHA256WithSecret(const QString& secret, const QString& content)
{
    const std::optional<QByteArray> key = asciiBytesUpToNul(secret);
    if (!key)
        return {};
    const QByteArray mac
        = QMessageAuthenticationCode::hash(utf8BytesUpToNul(content), *key, QCryptographicHash::Sha256);
    return QString::fromLatin1(mac.toBase64());
}

QString StringCoding::hmacSHA256WithContent(const QString& text)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toBase64());
}

QString StringCoding::sha256Value(const QString& text)
{
    return lowerHex(QCryptographicHash::hash(utf8BytesUpToNul(text), QCryptographicHash::Sha256));
}

QString StringCoding::uw_md5(const QString& text)
{
    return lowerHex(QCryptographicHash::hash(utf8BytesUpToNul(text), QCryptographicHash::Md5));
}

QString StringCoding::getFileMD5StrFromPath(const QString& path)
{
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return emptyText();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return emptyText();
    QCryptographicHash hash(QCryptographicHash::Md5);
    if (!hash.addData(&file))
        return emptyText();
    return lowerHex(hash.result());
}

QString StringCoding::uw_base64EncodeString(const QString& text)
{
    if (text.isNull())
        return {};
    return nonNull(QString::fromLatin1(text.toUtf8().toBase64()));
}

QString StringCoding::uw_base64DecodeString(const QString& text)
{
    if (text.isNull() || !isStrictBase64(text))
        return {};
    const QByteArray::FromBase64Result decoded
        = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return {};
    return utf8OrNull(decoded.decoded);
}

QString StringCoding::currentRFC1123DateString()
{
    return currentRFC1123DateString(dateTimeFromSeconds(nowSeconds(), Qt::UTC));
}

QString StringCoding::currentRFC1123DateString(const QDateTime& time)
{
    return gmtDateText(time);
}

QString StringCoding::getTime()
{
    return getTime(dateTimeFromSeconds(nowSeconds(), Qt::UTC));
}

QString StringCoding::getTime(const QDateTime& time)
{
    return gmtDateText(time);
}

QString StringCoding::uw_rfc1123String()
{
    return uw_rfc1123String(dateTimeFromSeconds(nowSeconds(), Qt::LocalTime));
}

QString StringCoding::uw_rfc1123String(const QDateTime& wallClock)
{
    const QString text = englishDateText(wallClock);
    return text.isNull() ? QString() : text + kGmtSuffix;
}

QString StringCoding::uw_getCurrentDateString()
{
    return uw_getCurrentDateString(dateTimeFromSeconds(nowSeconds(), Qt::LocalTime));
}

QString StringCoding::uw_getCurrentDateString(const QDateTime& wallClock)
{
    const QDate date = wallClock.date();
    const QTime clock = wallClock.time();
    if (!date.isValid() || !clock.isValid())
        return {};
    return calendarYear(date.year()) + twoDigits(date.month()) + twoDigits(date.day())
        + twoDigits(clock.hour()) + twoDigits(clock.minute()) + twoDigits(clock.second());
}

QString StringCoding::uw_getCurrentTimeStamp()
{
    return uw_getCurrentTimeStamp(nowSeconds());
}

QString StringCoding::uw_getCurrentTimeStamp(double secondsSince1970)
{
    // Cut the fraction off; times outside the range of a 64-bit count are pinned to its ends.
    constexpr double kLimit = 9.2e18;
    if (!std::isfinite(secondsSince1970))
        secondsSince1970 = std::isnan(secondsSince1970) ? 0.0 : std::copysign(kLimit, secondsSince1970);
    secondsSince1970 = std::clamp(std::trunc(secondsSince1970), -kLimit, kLimit);
    return QString::number(static_cast<qint64>(secondsSince1970));
}

std::optional<QJsonObject> StringCoding::dictionaryWithJsonString(const QString& text)
{
    if (text.isNull())
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

QString StringCoding::deleteCharacters(const QString& text)
{
    if (text.isEmpty())
        return {};
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isCleanUpCharacter(text.at(begin)))
        ++begin;
    while (end > begin && isCleanUpCharacter(text.at(end - 1)))
        --end;
    return nonNull(text.mid(begin, end - begin));
}

QString StringCoding::removeSpaceAndNewline(const QString& text)
{
    if (text.isNull())
        return {};
    QString result = text;
    result.remove(QLatin1Char(' ')).remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
    return nonNull(result);
}

QString StringCoding::conversionImageToStringWithImage(const QImage& image)
{
    const QByteArray png = MMImage(image).mm_PNGData();
    if (png.isEmpty())
        return {};
    return QString::fromLatin1(png.toBase64());
}

QString StringCoding::translatorTargetCode(const QString& code)
{
    if (code.contains(QLatin1String("cn")))
        return QStringLiteral("zh-Hans");
    if (code.contains(QLatin1String("cht")))
        return QStringLiteral("zh-Hant");
    return code;
}

QString StringCoding::conversionlanguagecodeToTranslationLanguagecodeWithLanguage(
    const QString& language, const QString& whichTransApi)
{
    if (whichTransApi != kTranslationService)
        return emptyText();
    // First match wins, so "zh"/"cn" beats every later code.
    struct Mapping {
        const char* substring;
        const char* code;
    };
    static constexpr Mapping kMappings[] = {
        { "zh", "cn" },
        { "cn", "cn" },
        { "en", "en" },
        { "ja", "ja" },
        { "ko", "ko" },
        { "id", "id" },
        { "es", "es" },
    };
    for (const Mapping& mapping : kMappings) {
        if (language.contains(QLatin1String(mapping.substring)))
            return QString::fromLatin1(mapping.code);
    }
    return QStringLiteral("auto");
}

QString StringCoding::stringFromData(const QByteArray& data)
{
    return nonNull(QString::fromLatin1(data));
}

QString StringCoding::decimalStringFromHexData(const QByteArray& data)
{
    if (data.isEmpty())
        return {};
    // Shifting keeps the low 64 bits, so only the last eight bytes count.
    quint64 value = 0;
    for (char byte : data)
        value = (value << 8) | static_cast<quint8>(byte);
    return QString::number(value);
}

QByteArray StringCoding::convertHexStringToDataWithString(const QString& hex)
{
    QByteArray bytes;
    if (hex.isEmpty())
        return bytes;
    bytes.reserve(hex.size() / 2 + 1);
    qsizetype position = 0;
    qsizetype chunkLength = hex.size() % 2 == 1 ? 1 : 2;
    while (position < hex.size()) {
        bytes.append(hexChunkByte(QStringView(hex).mid(position, chunkLength)));
        position += chunkLength;
        chunkLength = 2;
    }
    return bytes;
}

QString StringCoding::convertDataToHexStringWithData(const QByteArray& data)
{
    return data.isEmpty() ? QString() : lowerHex(data);
}

QString StringCoding::getBinaryByHex(const QString& hex)
{
    QString binary = emptyText();
    binary.reserve(hex.size() * 4);
    for (QChar c : hex) {
        const int digit = hexDigitValue(c);
        if (digit < 0)
            continue;
        for (int bit = 3; bit >= 0; --bit)
            binary.append((digit >> bit) & 1 ? QLatin1Char('1') : QLatin1Char('0'));
    }
    return binary;
}

QString StringCoding::convertDecimalSystemFromBinarySystem(const QString& binary)
{
    qint64 sum = 0;
    const qsizetype length = binary.size();
    for (qsizetype i = 0; i < length; ++i) {
        const char16_t u = binary.at(i).unicode();
        // A character counts with its own digit value; anything that is not a digit counts 0.
        const qint64 digit = (u >= u'0' && u <= u'9') ? u - u'0' : 0;
        if (digit == 0)
            continue;
        const qsizetype power = length - 1 - i;
        if (power >= 63)
            return {};
        qint64 term = 0;
        if (__builtin_mul_overflow(digit, qint64 { 1 } << power, &term)
            || __builtin_add_overflow(sum, term, &sum))
            return {};
    }
    return QString::number(sum);
}

QString StringCoding::mm_urlencode(const QString& text)
{
    if (text.isNull())
        return {};
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    QString encoded = emptyText();
    for (char signedByte : text.toUtf8()) {
        const auto byte = static_cast<quint8>(signedByte);
        if (byte == ' ') {
            encoded.append(QLatin1Char('+'));
        } else if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z')
            || (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' || byte == '~') {
            encoded.append(QLatin1Char(static_cast<char>(byte)));
        } else {
            encoded.append(QLatin1Char('%'));
            encoded.append(QLatin1Char(kHexDigits[byte >> 4]));
            encoded.append(QLatin1Char(kHexDigits[byte & 0x0F]));
        }
    }
    return encoded;
}

QString StringCoding::mm_stringByCombineComponents(
    const QStringList& components, const QString& separatedString)
{
    if (components.isEmpty())
        return {};
    return nonNull(components.join(separatedString));
}

QString StringCoding::changeMySN(const QString& sn)
{
    if (sn.size() < 4)
        return {};
    return kSerialPrefix + sn.left(2) + QStringLiteral("00") + sn.mid(4);
}

QString StringCoding::uw_getMacAddress()
{
    return uw_getMacAddress(platform::PrimaryInterface::name(), kInterfacesFolder);
}

QString StringCoding::uw_getMacAddress(const QString& interfaceName, const QString& interfacesFolder)
{
    const bool plainName = !interfaceName.isEmpty() && !interfaceName.contains(QLatin1Char('/'))
        && interfaceName != QLatin1String(".") && interfaceName != QLatin1String("..");
    const QString interfaceFolder = QDir(interfacesFolder).filePath(interfaceName);
    if (!plainName || !QFileInfo(interfaceFolder).isDir()) {
        std::fputs(kNoInterfaceMessage, stdout);
        return {};
    }
    QFile file(QDir(interfaceFolder).filePath(kAddressFile));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fputs(kAddressUnreadableMessage, stdout);
        return {};
    }
    // An address is 17 characters; anything much longer is not a six-byte address.
    const QString text = QString::fromLatin1(file.read(64)).trimmed();
    const QStringList parts = text.split(QLatin1Char(':'));
    QStringList upper;
    if (parts.size() == kMacAddressBytes) {
        for (const QString& part : parts) {
            if (part.size() != 2 || hexDigitValue(part.at(0)) < 0 || hexDigitValue(part.at(1)) < 0)
                break;
            upper.append(part.toUpper());
        }
    }
    if (upper.size() != kMacAddressBytes) {
        std::fputs(kAddressMalformedMessage, stdout);
        return {};
    }
    return upper.join(QLatin1Char(':'));
}
