#include "fakes/FakeExperimentServer.h"

#include <QMultiMap>

#include <cstring>

namespace fakes {

namespace experiment_wire {

const QString kPath = QStringLiteral("/sdk-exp");

void varint(QByteArray& out, quint64 value)
{
    do {
        char byte = char(value & 0x7F);
        value >>= 7;
        if (value)
            byte = char(byte | 0x80);
        out.append(byte);
    } while (value);
}

void key(QByteArray& out, int field, int wireType)
{
    varint(out, quint64(field) << 3 | quint64(wireType));
}

void bytesField(QByteArray& out, int field, const QByteArray& value)
{
    key(out, field, 2);
    varint(out, quint64(value.size()));
    out.append(value);
}

void intField(QByteArray& out, int field, qint64 value)
{
    key(out, field, 0);
    varint(out, quint64(value));
}

QByteArray flag(const QString& name, const QVariant& value)
{
    QByteArray out;
    bytesField(out, 1, name.toUtf8());
    switch (value.typeId()) {
    case QMetaType::Bool:
        intField(out, 5, value.toBool() ? 1 : 0);
        break;
    case QMetaType::Double: {
        key(out, 4, 1);
        const double number = value.toDouble();
        char raw[8];
        std::memcpy(raw, &number, 8);
        out.append(raw, 8);
        break;
    }
    case QMetaType::QString:
        bytesField(out, 3, value.toString().toUtf8());
        break;
    default:
        intField(out, 2, value.toLongLong());
        break;
    }
    return out;
}

QByteArray snapshot(const FakeExperimentServer::Snapshot& snapshot)
{
    QByteArray out;
    bytesField(out, 1, snapshot.sdkName.toUtf8());
    for (const auto& experiment : snapshot.experiments) {
        QByteArray body;
        intField(body, 1, experiment.id);
        for (auto it = experiment.flags.constBegin(); it != experiment.flags.constEnd(); ++it)
            bytesField(body, 2, flag(it.key(), it.value()));
        bytesField(out, 2, body);
    }
    return out;
}

// Fields of one message: number to raw values (varints as numbers,
// length-delimited fields as bytes). Nothing when the bytes are not a
// message.
std::optional<QMultiMap<int, QVariant>> fields(const QByteArray& bytes)
{
    QMultiMap<int, QVariant> result;
    qsizetype at = 0;
    auto readVarint = [&](quint64& value) {
        value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (at >= bytes.size())
                return false;
            const quint8 byte = quint8(bytes[at++]);
            value |= quint64(byte & 0x7F) << shift;
            if (!(byte & 0x80))
                return true;
        }
        return false;
    };
    while (at < bytes.size()) {
        quint64 tag = 0;
        if (!readVarint(tag) || tag >> 3 == 0)
            return std::nullopt;
        const int field = int(tag >> 3);
        switch (tag & 7) {
        case 0: {
            quint64 value = 0;
            if (!readVarint(value))
                return std::nullopt;
            result.insert(field, QVariant::fromValue(value));
            break;
        }
        case 1:
            if (at + 8 > bytes.size())
                return std::nullopt;
            result.insert(field, bytes.mid(at, 8));
            at += 8;
            break;
        case 2: {
            quint64 length = 0;
            if (!readVarint(length) || length > quint64(bytes.size() - at))
                return std::nullopt;
            result.insert(field, bytes.mid(at, qsizetype(length)));
            at += qsizetype(length);
            break;
        }
        case 5:
            if (at + 4 > bytes.size())
                return std::nullopt;
            at += 4;
            break;
        default:
            return std::nullopt;
        }
    }
    return result;
}

QString text(const QMultiMap<int, QVariant>& message, int field)
{
    return QString::fromUtf8(message.value(field).toByteArray());
}

} // namespace experiment_wire

FakeExperimentServer::FakeExperimentServer()
{
    http_.setFallback(FakeHttpServer::Reply::text("no scripted reply", 404));
}

QUrl FakeExperimentServer::address() const
{
    QUrl url = http_.url(QStringLiteral("/"));
    url.setPath(QString());
    return url;
}

QByteArray FakeExperimentServer::encodeResponse(
    const QList<Snapshot>& snapshots, const QList<SdkResponse>& sdkResponses)
{
    using namespace experiment_wire;
    QByteArray out;
    for (const Snapshot& one : snapshots)
        bytesField(out, 1, snapshot(one));
    for (const SdkResponse& response : sdkResponses) {
        QByteArray body;
        bytesField(body, 1, response.sdkName.toUtf8());
        if (response.status != 0)
            intField(body, 2, response.status);
        if (response.snapshot)
            bytesField(body, 3, snapshot(*response.snapshot));
        bytesField(out, 2, body);
    }
    return out;
}

void FakeExperimentServer::replyWithSnapshots(const QList<Snapshot>& snapshots, const QList<SdkResponse>& sdkResponses)
{
    replyWithBody(encodeResponse(snapshots, sdkResponses));
}

void FakeExperimentServer::replyWithStatus(int status)
{
    http_.enqueue("POST", experiment_wire::kPath, FakeHttpServer::Reply::text("unavailable", status));
}

void FakeExperimentServer::replyWithBody(const QByteArray& body, int status)
{
    http_.enqueue("POST", experiment_wire::kPath,
        FakeHttpServer::Reply::text(body, status, "application/x-protobuf"));
}

QList<FakeExperimentServer::Request> FakeExperimentServer::requests() const
{
    using namespace experiment_wire;
    QList<Request> decoded;
    for (const FakeHttpServer::Request& raw : http_.requests()) {
        Request request;
        if (const auto message = fields(raw.body)) {
            if (const auto app = fields(message->value(1).toByteArray())) {
                request.platform = text(*app, 1);
                request.clientVersion = qint64(app->value(7).toULongLong());
            }
            for (const QVariant& entry : message->values(2)) {
                const auto client = fields(entry.toByteArray());
                if (!client)
                    continue;
                request.clients.prepend({ text(*client, 1), text(*client, 2),
                    qint64(client->value(3).toULongLong()), text(*client, 4) });
            }
        }
        decoded.append(request);
    }
    return decoded;
}

QStringList FakeExperimentServer::problems() const
{
    QStringList found;
    for (const FakeHttpServer::Request& raw : http_.requests()) {
        if (raw.method != "POST")
            found << QStringLiteral("method %1").arg(QString::fromLatin1(raw.method));
        if (raw.path() != experiment_wire::kPath)
            found << QStringLiteral("path %1").arg(raw.path());
        if (raw.header("content-type") != "application/x-protobuf")
            found << QStringLiteral("content type %1").arg(QString::fromLatin1(raw.header("content-type")));
        const auto message = experiment_wire::fields(raw.body);
        if (!message || !message->contains(1))
            found << QStringLiteral("a body that is not an experiment request");
    }
    return found;
}

} // namespace fakes
