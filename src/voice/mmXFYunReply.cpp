#include "voice/mmXFYunReply.h"

#include "core/StringCoding.h"

#include <QJsonArray>

namespace {

const QString kCode = QStringLiteral("code");
const QString kMessage = QStringLiteral("message");
const QString kData = QStringLiteral("data");
const QString kResult = QStringLiteral("result");
const QString kWords = QStringLiteral("ws");
const QString kCandidates = QStringLiteral("cw");
const QString kWord = QStringLiteral("w");
const QString kLast = QStringLiteral("ls");
const QString kSequence = QStringLiteral("sn");
const QString kProgress = QStringLiteral("pgs");
const QString kRange = QStringLiteral("rg");
const QString kAppend = QStringLiteral("apd");
const QString kReplace = QStringLiteral("rpl");

// A JSON number that is a whole number within 64 bits.
std::optional<qint64> integer(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0) || d != static_cast<double>(qint64(d)))
        return std::nullopt;
    return qint64(d);
}

} // namespace

std::optional<mmXFYunReply> mmXFYunReply::fromText(const QString& message)
{
    const std::optional<QJsonObject> object = StringCoding::dictionaryWithJsonString(message);
    if (!object)
        return std::nullopt;
    return fromJson(*object);
}

mmXFYunReply mmXFYunReply::fromJson(const QJsonObject& reply)
{
    mmXFYunReply r;
    const QJsonValue code = reply.value(kCode);
    if (!code.isUndefined() && !code.isNull())
        r.code = integer(code).value_or(-1);
    r.message = reply.value(kMessage).toString();

    const QJsonObject result = reply.value(kData).toObject().value(kResult).toObject();
    for (const QJsonValue& entry : result.value(kWords).toArray()) {
        const QJsonArray candidates = entry.toObject().value(kCandidates).toArray();
        if (!candidates.isEmpty())
            r.text += candidates.first().toObject().value(kWord).toString();
    }
    r.last = result.value(kLast).toBool(false);
    r.sn = integer(result.value(kSequence));
    if (result.contains(kProgress)) {
        const QString progress = result.value(kProgress).toString();
        r.progress = progress == kAppend ? Progress::Append
            : progress == kReplace       ? Progress::Replace
                                         : Progress::Unknown;
    }
    const QJsonArray range = result.value(kRange).toArray();
    if (range.size() == 2) {
        const std::optional<qint64> first = integer(range.at(0));
        const std::optional<qint64> last = integer(range.at(1));
        if (first && last && *first <= *last)
            r.replaces = std::pair(*first, *last);
    }
    return r;
}
