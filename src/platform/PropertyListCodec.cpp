#include "platform/PropertyListCodec.h"

#include "platform/BinaryPropertyListReader.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <charconv>
#include <cmath>
#include <limits>

namespace platform {
namespace {

const QString kDoctype = QStringLiteral("<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">");
const QString kDateFormat = QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'");
const QString kNan = QStringLiteral("nan");
const QString kPlusInfinity = QStringLiteral("+infinity");
const QString kMinusInfinity = QStringLiteral("-infinity");

void setCodecError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

// XML 1.0 cannot carry every UTF-16 sequence: most control characters, lone
// surrogates and U+FFFE/U+FFFF have no representation, and writers drop them
// silently. Such text is refused instead of being stored altered.
bool isXmlText(const QString& text)
{
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text.at(i).unicode();
        if (QChar::isHighSurrogate(c)) {
            if (i + 1 >= n || !QChar::isLowSurrogate(text.at(i + 1).unicode()))
                return false;
            ++i;
            continue;
        }
        if (QChar::isLowSurrogate(c))
            return false;
        if (c < 0x20 && c != 0x9 && c != 0xA && c != 0xD)
            return false;
        if (c == 0xFFFE || c == 0xFFFF)
            return false;
    }
    return true;
}

bool isContainer(int typeId)
{
    return typeId == QMetaType::QVariantList || typeId == QMetaType::QVariantMap
        || typeId == QMetaType::QStringList;
}

bool checkSupported(const QVariant& value, int depth, QString* error)
{
    const int typeId = value.metaType().id();
    if (isContainer(typeId) && depth >= PropertyListCodec::kMaxDepth) {
        setCodecError(error, QStringLiteral("nesting deeper than %1 levels").arg(PropertyListCodec::kMaxDepth));
        return false;
    }
    switch (typeId) {
    case QMetaType::Bool:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Float:
    case QMetaType::Double:
    case QMetaType::QByteArray:
        return true;
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        if (value.toULongLong() > quint64(std::numeric_limits<qlonglong>::max())) {
            setCodecError(error,
                QStringLiteral("unsigned integer %1 is larger than a property list integer")
                    .arg(value.toULongLong()));
            return false;
        }
        return true;
    case QMetaType::QString:
        if (!isXmlText(value.toString())) {
            setCodecError(error, QStringLiteral("string contains characters XML cannot carry"));
            return false;
        }
        return true;
    case QMetaType::QDateTime: {
        const QDateTime date = value.toDateTime();
        const int year = date.isValid() ? date.toUTC().date().year() : 0;
        if (year < 1 || year > 9999) {
            setCodecError(error, QStringLiteral("date is invalid or outside the years 1 to 9999"));
            return false;
        }
        return true;
    }
    case QMetaType::QStringList: {
        const QStringList list = value.toStringList();
        for (const QString& s : list) {
            if (!isXmlText(s)) {
                setCodecError(error, QStringLiteral("string contains characters XML cannot carry"));
                return false;
            }
        }
        return true;
    }
    case QMetaType::QVariantList: {
        const QVariantList list = value.toList();
        for (const QVariant& item : list) {
            if (!checkSupported(item, depth + 1, error))
                return false;
        }
        return true;
    }
    case QMetaType::QVariantMap: {
        const QVariantMap map = value.toMap();
        for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
            if (!isXmlText(it.key())) {
                setCodecError(error, QStringLiteral("dictionary key contains characters XML cannot carry"));
                return false;
            }
            if (!checkSupported(it.value(), depth + 1, error))
                return false;
        }
        return true;
    }
    default:
        setCodecError(error,
            value.isValid() ? QStringLiteral("a property list cannot hold a %1")
                                  .arg(QString::fromLatin1(value.typeName()))
                            : QStringLiteral("a property list cannot hold an empty value"));
        return false;
    }
}

// QXmlStreamWriter writes a carriage return as is, and every XML reader turns
// it into a line feed; a character reference keeps it.
void writeText(QXmlStreamWriter& w, const QString& element, const QString& text)
{
    w.writeStartElement(element);
    qsizetype start = 0;
    for (;;) {
        const qsizetype cr = text.indexOf(QLatin1Char('\r'), start);
        if (cr < 0)
            break;
        if (cr > start)
            w.writeCharacters(text.mid(start, cr - start));
        w.writeEntityReference(QStringLiteral("#13"));
        start = cr + 1;
    }
    if (start < text.size() || text.isEmpty())
        w.writeCharacters(text.mid(start));
    w.writeEndElement();
}

QString realText(double v)
{
    if (std::isnan(v))
        return kNan;
    if (std::isinf(v))
        return v > 0 ? kPlusInfinity : kMinusInfinity;
    if (v == 0)
        return std::signbit(v) ? QStringLiteral("-0") : QStringLiteral("0"); // 'g' drops the sign of -0
    return QString::number(v, 'g', 17);
}

void writeValue(QXmlStreamWriter& w, const QVariant& value)
{
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        w.writeEmptyElement(value.toBool() ? QStringLiteral("true") : QStringLiteral("false"));
        break;
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
        w.writeTextElement(QStringLiteral("integer"), QString::number(value.toLongLong()));
        break;
    case QMetaType::ULong:
    case QMetaType::ULongLong: // checked to fit a qlonglong
        w.writeTextElement(QStringLiteral("integer"), QString::number(value.toULongLong()));
        break;
    case QMetaType::Float:
    case QMetaType::Double:
        w.writeTextElement(QStringLiteral("real"), realText(value.toDouble()));
        break;
    case QMetaType::QString:
        writeText(w, QStringLiteral("string"), value.toString());
        break;
    case QMetaType::QByteArray:
        w.writeTextElement(QStringLiteral("data"), QString::fromLatin1(value.toByteArray().toBase64()));
        break;
    case QMetaType::QDateTime:
        w.writeTextElement(QStringLiteral("date"), value.toDateTime().toUTC().toString(kDateFormat));
        break;
    case QMetaType::QStringList:
        w.writeStartElement(QStringLiteral("array"));
        for (const QString& s : value.toStringList())
            writeText(w, QStringLiteral("string"), s);
        w.writeEndElement();
        break;
    case QMetaType::QVariantList:
        w.writeStartElement(QStringLiteral("array"));
        for (const QVariant& item : value.toList())
            writeValue(w, item);
        w.writeEndElement();
        break;
    case QMetaType::QVariantMap: {
        w.writeStartElement(QStringLiteral("dict"));
        const QVariantMap map = value.toMap(); // QMap keeps the keys sorted
        for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
            writeText(w, QStringLiteral("key"), it.key());
            writeValue(w, it.value());
        }
        w.writeEndElement();
        break;
    }
    default:
        Q_UNREACHABLE(); // checkSupported() ran first
    }
}

int digitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// Decimal, or hexadecimal with "0x"; an optional sign. Values outside the
// qlonglong range are refused, never wrapped.
std::optional<qlonglong> parseInteger(const QString& raw)
{
    const QString text = raw.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    unsigned base = 10;
    if (i + 1 < text.size() && text[i] == QLatin1Char('0')
        && (text[i + 1] == QLatin1Char('x') || text[i + 1] == QLatin1Char('X'))) {
        base = 16;
        i += 2;
    }
    if (i >= text.size())
        return std::nullopt;
    constexpr quint64 maxPositive = quint64(std::numeric_limits<qlonglong>::max());
    const quint64 limit = negative ? maxPositive + 1 : maxPositive;
    quint64 magnitude = 0;
    for (; i < text.size(); ++i) {
        const int digit = digitValue(text[i]);
        if (digit < 0 || unsigned(digit) >= base)
            return std::nullopt;
        if (magnitude > (limit - unsigned(digit)) / base)
            return std::nullopt;
        magnitude = magnitude * base + unsigned(digit);
    }
    if (!negative)
        return qlonglong(magnitude);
    if (magnitude == maxPositive + 1)
        return std::numeric_limits<qlonglong>::min();
    return -qlonglong(magnitude);
}

std::optional<double> parseReal(const QString& raw)
{
    QString text = raw.trimmed().toLower();
    if (text == kNan || text == QLatin1String("+nan") || text == QLatin1String("-nan"))
        return std::numeric_limits<double>::quiet_NaN();
    for (const char* inf : { "infinity", "+infinity", "inf", "+inf" }) {
        if (text == QLatin1String(inf))
            return std::numeric_limits<double>::infinity();
    }
    for (const char* inf : { "-infinity", "-inf" }) {
        if (text == QLatin1String(inf))
            return -std::numeric_limits<double>::infinity();
    }
    if (text.startsWith(QLatin1Char('+'))) {
        text.remove(0, 1); // std::from_chars takes no plus sign
        if (text.startsWith(QLatin1Char('-')))
            return std::nullopt;
    }
    // Plain decimal notation only; std::from_chars checks the shape.
    for (QChar c : std::as_const(text)) {
        if (!QStringView(u"0123456789.e+-").contains(c))
            return std::nullopt;
    }
    const QByteArray bytes = text.toLatin1();
    double value = 0;
    // Unlike strtod, std::from_chars ignores the C locale's decimal point.
    const auto [end, ec] = std::from_chars(
        bytes.constData(), bytes.constData() + bytes.size(), value, std::chars_format::general);
    if (ec != std::errc() || end != bytes.constData() + bytes.size())
        return std::nullopt; // malformed, or beyond the range of a double
    return value;
}

std::optional<QDateTime> parseDate(const QString& raw)
{
    static const QRegularExpression pattern(
        QStringLiteral("^([0-9]{4})-([0-9]{2})-([0-9]{2})T([0-9]{2}):([0-9]{2}):([0-9]{2})Z$"));
    const QRegularExpressionMatch m = pattern.match(raw.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, Qt::UTC);
}

class Reader {
public:
    explicit Reader(const QByteArray& xml)
        : xml_(xml)
    {
    }

    std::optional<QVariant> read(QString* error)
    {
        std::optional<QVariant> result = readDocument();
        if (!result) {
            const QString text = !error_.isEmpty() ? error_
                : xml_.hasError()                  ? xml_.errorString()
                                                   : QStringLiteral("unexpected end of the property list");
            setCodecError(error, QStringLiteral("line %1: %2").arg(xml_.lineNumber()).arg(text));
        }
        return result;
    }

private:
    bool fail(const QString& text)
    {
        if (error_.isEmpty())
            error_ = text;
        return false;
    }
    std::nullopt_t failed(const QString& text)
    {
        fail(text);
        return std::nullopt;
    }

    // Moves to the next start or end element; text other than white space
    // between elements is an error.
    bool nextTag()
    {
        while (!xml_.atEnd()) {
            switch (xml_.readNext()) {
            case QXmlStreamReader::StartElement:
            case QXmlStreamReader::EndElement:
                return true;
            case QXmlStreamReader::Characters:
                if (!xml_.isWhitespace())
                    return fail(QStringLiteral("unexpected text \"%1\"").arg(xml_.text().left(40)));
                break;
            case QXmlStreamReader::Invalid:
                return false;
            default: // comments, processing instructions, the DTD
                break;
            }
        }
        return false;
    }

    std::optional<QVariant> readDocument()
    {
        if (!nextTag() || !xml_.isStartElement())
            return failed(QStringLiteral("no property list"));
        std::optional<QVariant> value;
        if (xml_.name() == QLatin1String("plist")) {
            if (!nextTag() || !xml_.isStartElement())
                return failed(QStringLiteral("the property list is empty"));
            value = readValue(0);
            if (!value)
                return std::nullopt;
            if (!nextTag() || !xml_.isEndElement())
                return failed(QStringLiteral("more than one value in the property list"));
        } else {
            value = readValue(0);
            if (!value)
                return std::nullopt;
        }
        while (!xml_.atEnd()) {
            if (nextTag())
                return failed(QStringLiteral("content after the property list"));
        }
        if (xml_.hasError() || !error_.isEmpty())
            return std::nullopt;
        return value;
    }

    // Reads the element the reader stands on; leaves the reader on its end.
    std::optional<QVariant> readValue(int depth)
    {
        const QString name = xml_.name().toString();
        if (name == QLatin1String("array") || name == QLatin1String("dict")) {
            if (depth >= PropertyListCodec::kMaxDepth)
                return failed(
                    QStringLiteral("nesting deeper than %1 levels").arg(PropertyListCodec::kMaxDepth));
            return name == QLatin1String("array") ? readArray(depth + 1) : readDict(depth + 1);
        }
        if (name == QLatin1String("true") || name == QLatin1String("false")) {
            const bool v = name == QLatin1String("true");
            if (!readLeafText() || !leafText_.trimmed().isEmpty())
                return failed(QStringLiteral("<%1/> must be empty").arg(v ? "true" : "false"));
            return QVariant(v);
        }
        if (name == QLatin1String("integer")) {
            if (!readLeafText())
                return std::nullopt;
            if (const auto v = parseInteger(leafText_))
                return QVariant(*v);
            return failed(QStringLiteral("\"%1\" is not an integer in range").arg(leafText_.left(40)));
        }
        if (name == QLatin1String("real")) {
            if (!readLeafText())
                return std::nullopt;
            if (const auto v = parseReal(leafText_))
                return QVariant(*v);
            return failed(QStringLiteral("\"%1\" is not a real number in range").arg(leafText_.left(40)));
        }
        if (name == QLatin1String("string")) {
            if (!readLeafText())
                return std::nullopt;
            return QVariant(leafText_);
        }
        if (name == QLatin1String("data")) {
            if (!readLeafText())
                return std::nullopt;
            QByteArray base64 = leafText_.toLatin1();
            base64.removeIf([](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; });
            auto decoded = QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
            if (!decoded)
                return failed(QStringLiteral("<data> is not Base64"));
            return QVariant(*decoded);
        }
        if (name == QLatin1String("date")) {
            if (!readLeafText())
                return std::nullopt;
            if (const auto v = parseDate(leafText_))
                return QVariant(*v);
            return failed(QStringLiteral("\"%1\" is not a date").arg(leafText_.left(40)));
        }
        return failed(QStringLiteral("unknown element <%1>").arg(name));
    }

    bool readLeafText()
    {
        leafText_ = xml_.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
        return !xml_.hasError();
    }

    std::optional<QVariant> readArray(int depth)
    {
        QVariantList list;
        for (;;) {
            if (!nextTag())
                return std::nullopt;
            if (xml_.isEndElement())
                return QVariant(list);
            auto item = readValue(depth);
            if (!item)
                return std::nullopt;
            list.append(std::move(*item));
        }
    }

    std::optional<QVariant> readDict(int depth)
    {
        QVariantMap map;
        for (;;) {
            if (!nextTag())
                return std::nullopt;
            if (xml_.isEndElement())
                return QVariant(map);
            if (xml_.name() != QLatin1String("key"))
                return failed(QStringLiteral("<%1> where a <key> belongs").arg(xml_.name()));
            if (!readLeafText())
                return std::nullopt;
            const QString key = leafText_;
            if (!nextTag() || !xml_.isStartElement())
                return failed(QStringLiteral("key \"%1\" has no value").arg(key.left(40)));
            auto item = readValue(depth);
            if (!item)
                return std::nullopt;
            map.insert(key, std::move(*item)); // a repeated key: the last one wins
        }
    }

    QXmlStreamReader xml_;
    QString error_;
    QString leafText_;
};

// What a reader hands out must be what the writer accepts: a value read from
// a file is written back with the next change, so a value the writer refuses
// would make every later write fail. Both readers end here.
std::optional<QVariant> writable(std::optional<QVariant> value, QString* error)
{
    if (value && !checkSupported(*value, 0, error))
        return std::nullopt;
    return value;
}

} // namespace

bool PropertyListCodec::isSupported(const QVariant& value, QString* error)
{
    return checkSupported(value, 0, error);
}

std::optional<QByteArray> PropertyListCodec::toXml(const QVariant& value, QString* error)
{
    if (!isSupported(value, error))
        return std::nullopt;
    QByteArray out;
    QXmlStreamWriter w(&out);
    w.setAutoFormatting(true);
    w.setAutoFormattingIndent(-1); // one tab per level
    w.writeStartDocument();
    w.writeDTD(kDoctype);
    w.writeStartElement(QStringLiteral("plist"));
    w.writeAttribute(QStringLiteral("version"), QStringLiteral("1.0"));
    writeValue(w, value);
    w.writeEndElement();
    w.writeEndDocument();
    if (w.hasError()) {
        setCodecError(error, QStringLiteral("the XML writer failed"));
        return std::nullopt;
    }
    return out;
}

std::optional<QVariant> PropertyListCodec::fromXml(const QByteArray& xml, QString* error)
{
    return writable(Reader(xml).read(error), error);
}

std::optional<QVariant> PropertyListCodec::fromData(const QByteArray& bytes, QString* error)
{
    if (BinaryPropertyListReader::isBinary(bytes))
        return writable(BinaryPropertyListReader::read(bytes, error), error);
    return fromXml(bytes, error);
}

} // namespace platform
