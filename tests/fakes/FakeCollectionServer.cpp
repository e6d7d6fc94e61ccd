#include "fakes/FakeCollectionServer.h"

#include <zlib.h>

#include <cstring>
#include <optional>
#include <vector>

namespace fakes {

namespace {

const QString kBatchPath = QStringLiteral("/a");

// One field of a protobuf message as it is on the wire.
struct WireField {
    quint32 number = 0;
    int type = 0; // 0 varint, 1 fixed64, 2 length-delimited, 5 fixed32
    quint64 value = 0; // varint and fixed values
    QByteArray bytes; // length-delimited contents
};

// Reads every field of a message; nothing (with a problem) when the bytes
// are not a well-formed message.
std::optional<std::vector<WireField>> readWireFields(const QByteArray& data, QString* problem)
{
    std::vector<WireField> fields;
    const auto* p = reinterpret_cast<const uchar*>(data.constData());
    const auto* end = p + data.size();
    const auto varint = [&](quint64& out) {
        out = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (p == end)
                return false;
            const uchar byte = *p++;
            out |= quint64(byte & 0x7f) << shift;
            if (!(byte & 0x80))
                return true;
        }
        return false;
    };
    while (p < end) {
        quint64 key = 0;
        if (!varint(key) || (key >> 3) == 0 || (key >> 3) > 0x1fffffff) {
            *problem = QStringLiteral("bad field key");
            return std::nullopt;
        }
        WireField field;
        field.number = quint32(key >> 3);
        field.type = int(key & 7);
        switch (field.type) {
        case 0:
            if (!varint(field.value)) {
                *problem = QStringLiteral("bad varint in field %1").arg(field.number);
                return std::nullopt;
            }
            break;
        case 1:
        case 5: {
            const int size = field.type == 1 ? 8 : 4;
            if (end - p < size) {
                *problem = QStringLiteral("truncated fixed field %1").arg(field.number);
                return std::nullopt;
            }
            std::memcpy(&field.value, p, size); // little-endian host
            p += size;
            break;
        }
        case 2: {
            quint64 length = 0;
            if (!varint(length) || length > quint64(end - p)) {
                *problem = QStringLiteral("bad length of field %1").arg(field.number);
                return std::nullopt;
            }
            field.bytes = QByteArray(reinterpret_cast<const char*>(p), qsizetype(length));
            p += length;
            break;
        }
        default:
            *problem = QStringLiteral("unsupported wire type %1 in field %2").arg(field.type).arg(field.number);
            return std::nullopt;
        }
        fields.push_back(field);
    }
    return fields;
}

bool readEvent(const QByteArray& bytes, FakeCollectionServer::Event& event, QString* problem)
{
    const auto fields = readWireFields(bytes, problem);
    if (!fields)
        return false;
    for (const WireField& field : *fields) {
        if (field.number == 2 && field.type == 2) {
            event.name = QString::fromUtf8(field.bytes);
        } else if (field.number == 3 && field.type == 0) {
            event.timestampMillis = qint64(field.value);
        } else if (field.number == 1 && field.type == 2) {
            const auto param = readWireFields(field.bytes, problem);
            if (!param)
                return false;
            QString name;
            QVariant value;
            for (const WireField& part : *param) {
                if (part.number == 1 && part.type == 2)
                    name = QString::fromUtf8(part.bytes);
                else if (part.number == 2 && part.type == 2)
                    value = QString::fromUtf8(part.bytes);
                else if (part.number == 3 && part.type == 0)
                    value = qint64(part.value);
                else if (part.number == 5 && part.type == 1) {
                    double d = 0;
                    std::memcpy(&d, &part.value, sizeof d);
                    value = d;
                }
            }
            if (name.isEmpty()) {
                *problem = QStringLiteral("event parameter without a name");
                return false;
            }
            event.parameters.insert(name, value);
        }
    }
    if (event.name.isEmpty() || event.timestampMillis <= 0) {
        *problem = QStringLiteral("event without name or time");
        return false;
    }
    return true;
}

// Repeated uint64 words, packed (one length-delimited field) or one per field.
bool appendWords(const WireField& field, QList<quint64>& words, QString* problem)
{
    if (field.type == 0) {
        words.append(field.value);
        return true;
    }
    if (field.type != 2) {
        *problem = QStringLiteral("bad result words");
        return false;
    }
    quint64 word = 0;
    int shift = 0;
    for (const char c : field.bytes) {
        const auto byte = uchar(c);
        if (shift >= 64) {
            *problem = QStringLiteral("bad varint in result words");
            return false;
        }
        word |= quint64(byte & 0x7f) << shift;
        shift += 7;
        if (!(byte & 0x80)) {
            words.append(word);
            word = 0;
            shift = 0;
        }
    }
    if (shift != 0) {
        *problem = QStringLiteral("truncated result words");
        return false;
    }
    return true;
}

bool readAudienceResult(const QByteArray& bytes, FakeCollectionServer::AudienceResult& result, QString* problem)
{
    const auto fields = readWireFields(bytes, problem);
    if (!fields)
        return false;
    for (const WireField& field : *fields) {
        if (field.number == 1 && field.type == 0) {
            result.audienceID = qint32(field.value);
        } else if (field.number == 2 && field.type == 2) {
            const auto data = readWireFields(field.bytes, problem);
            if (!data)
                return false;
            for (const WireField& part : *data) {
                if (part.number == 1 && !appendWords(part, result.statusWords, problem))
                    return false;
                if (part.number == 2 && !appendWords(part, result.resultWords, problem))
                    return false;
            }
        } else if (field.number == 3 && field.type == 2) {
            result.hasPrevious = true;
        } else if (field.number == 4 && field.type == 0) {
            result.isNew = field.value != 0;
        }
    }
    return true;
}

bool readBundle(const QByteArray& bytes, FakeCollectionServer::Bundle& bundle, QString* problem)
{
    const auto fields = readWireFields(bytes, problem);
    if (!fields)
        return false;
    for (const WireField& field : *fields) {
        switch (field.number) {
        case 2: {
            FakeCollectionServer::Event event;
            if (field.type != 2 || !readEvent(field.bytes, event, problem))
                return false;
            bundle.events.append(event);
            break;
        }
        case 3: {
            const auto property = readWireFields(field.bytes, problem);
            if (field.type != 2 || !property)
                return false;
            QString name;
            QVariant value;
            for (const WireField& part : *property) {
                if (part.number == 2 && part.type == 2)
                    name = QString::fromUtf8(part.bytes);
                else if (part.number == 3 && part.type == 2)
                    value = QString::fromUtf8(part.bytes);
                else if (part.number == 4 && part.type == 0)
                    value = qint64(part.value);
            }
            bundle.userProperties.insert(name, value);
            break;
        }
        case 4:
            bundle.uploadTimestampMillis = qint64(field.value);
            break;
        case 5:
            bundle.startTimestampMillis = qint64(field.value);
            break;
        case 6:
            bundle.endTimestampMillis = qint64(field.value);
            break;
        case 8:
            bundle.platform = QString::fromUtf8(field.bytes);
            break;
        case 9:
            bundle.osVersion = QString::fromUtf8(field.bytes);
            break;
        case 10:
            bundle.deviceModel = QString::fromUtf8(field.bytes);
            break;
        case 11:
            bundle.language = QString::fromUtf8(field.bytes);
            break;
        case 12:
            bundle.timeZoneOffsetMinutes = qint32(field.value);
            break;
        case 14:
            bundle.appID = QString::fromUtf8(field.bytes);
            break;
        case 25:
            bundle.vireoAppID = QString::fromUtf8(field.bytes);
            break;
        case 21:
            bundle.appInstanceID = QString::fromUtf8(field.bytes);
            break;
        case 23:
            bundle.bundleIndex = qint32(field.value);
            break;
        case 29: {
            FakeCollectionServer::AudienceResult result;
            if (field.type != 2 || !readAudienceResult(field.bytes, result, problem))
                return false;
            bundle.audienceResults.append(result);
            break;
        }
        default:
            break;
        }
    }
    if (bundle.events.isEmpty())
        *problem = QStringLiteral("bundle without events");
    else if (bundle.appID.isEmpty())
        *problem = QStringLiteral("bundle without app ID");
    else if (bundle.uploadTimestampMillis <= 0)
        *problem = QStringLiteral("bundle without upload time");
    return problem->isEmpty();
}

} // namespace

FakeCollectionServer::FakeCollectionServer()
{
    http_.on("POST", kBatchPath, replyFor(Answer::Ok));
}

QUrl FakeCollectionServer::url() const
{
    QUrl address = http_.url();
    address.setPath(QString());
    return address;
}

void FakeCollectionServer::script(const QList<Answer>& answers)
{
    for (Answer answer : answers) {
        scripted_.append(answer);
        http_.enqueue("POST", kBatchPath, replyFor(answer));
    }
}

void FakeCollectionServer::setStandingAnswer(Answer answer)
{
    standing_.append({ http_.requestCount(), answer });
    http_.on("POST", kBatchPath, replyFor(answer));
}

FakeCollectionServer::Answer FakeCollectionServer::answerForRequest(qsizetype index) const
{
    if (index < scripted_.size())
        return scripted_[index];
    Answer answer = Answer::Ok;
    for (const auto& [from, standing] : standing_) {
        if (from <= index)
            answer = standing;
    }
    return answer;
}

FakeHttpServer::Reply FakeCollectionServer::replyFor(Answer answer)
{
    switch (answer) {
    case Answer::Ok:
        return FakeHttpServer::Reply::text(QByteArray(), 200);
    case Answer::NoContent:
        return FakeHttpServer::Reply::text(QByteArray(), 204);
    case Answer::TooManyRequests:
        return FakeHttpServer::Reply::text("slow down", 429);
    case Answer::ServerError:
        return FakeHttpServer::Reply::text("failed", 500);
    case Answer::Unavailable:
        return FakeHttpServer::Reply::text("unavailable", 503);
    case Answer::Timeout:
        return FakeHttpServer::Reply::neverAnswer();
    case Answer::Drop:
        return FakeHttpServer::Reply::closeConnection();
    }
    return FakeHttpServer::Reply::text(QByteArray(), 200);
}

QByteArray FakeCollectionServer::inflate(const QByteArray& gzipped, QString* problem)
{
    if (gzipped.size() < 18 || uchar(gzipped[0]) != 0x1f || uchar(gzipped[1]) != 0x8b) {
        *problem = QStringLiteral("body is not gzip");
        return {};
    }
    z_stream stream {};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {
        *problem = QStringLiteral("inflateInit2 failed");
        return {};
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gzipped.constData()));
    stream.avail_in = uInt(gzipped.size());
    QByteArray out;
    char chunk[16384];
    int result = Z_OK;
    while (result == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof chunk;
        result = ::inflate(&stream, Z_NO_FLUSH);
        out.append(chunk, qsizetype(sizeof chunk - stream.avail_out));
    }
    const bool complete = result == Z_STREAM_END && stream.avail_in == 0;
    inflateEnd(&stream);
    if (!complete) {
        *problem = QStringLiteral("gzip stream is damaged or has trailing bytes");
        return {};
    }
    return out;
}

FakeCollectionServer::Batch FakeCollectionServer::decodeBatch(const QByteArray& payload)
{
    Batch batch;
    batch.payload = payload;
    QString problem;
    const auto fields = readWireFields(payload, &problem);
    if (!fields) {
        batch.problems.append(problem);
        return batch;
    }
    for (const WireField& field : *fields) {
        if (field.number != 1 || field.type != 2) {
            batch.problems.append(QStringLiteral("unexpected batch field %1").arg(field.number));
            continue;
        }
        Bundle bundle;
        QString bundleProblem;
        if (!readBundle(field.bytes, bundle, &bundleProblem))
            batch.problems.append(bundleProblem);
        batch.bundles.append(bundle);
    }
    if (batch.bundles.isEmpty())
        batch.problems.append(QStringLiteral("batch without bundles"));
    return batch;
}

QList<FakeCollectionServer::Batch> FakeCollectionServer::batches() const
{
    QList<Batch> result;
    const QList<FakeHttpServer::Request> requests = http_.requests();
    for (qsizetype i = 0; i < requests.size(); ++i) {
        const FakeHttpServer::Request& request = requests[i];
        QString problem;
        const QByteArray payload = inflate(request.body, &problem);
        Batch batch = problem.isEmpty() ? decodeBatch(payload) : Batch {};
        if (!problem.isEmpty())
            batch.problems.append(problem);
        batch.answer = answerForRequest(i);
        if (request.method != "POST" || request.path() != kBatchPath)
            batch.problems.append(QStringLiteral("request %1 %2").arg(QString::fromLatin1(request.method), request.path()));
        if (request.header("content-encoding") != "gzip")
            batch.problems.append(QStringLiteral("missing Content-Encoding: gzip"));
        if (request.header("content-type") != "application/x-protobuf")
            batch.problems.append(QStringLiteral("unexpected content type"));
        result.append(batch);
    }
    return result;
}

QList<FakeCollectionServer::Event> FakeCollectionServer::acceptedEvents() const
{
    QList<Event> events;
    for (const Batch& batch : batches()) {
        if (!batch.accepted())
            continue;
        for (const Bundle& bundle : batch.bundles)
            events.append(bundle.events);
    }
    return events;
}

} // namespace fakes
