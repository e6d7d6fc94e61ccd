#include "fakes/FakeBackend.h"

#include <QJsonDocument>
#include <QVariantMap>

namespace fakes {

namespace {

const QString kGetKeyPath = QStringLiteral("/api/system/v2/getKey");
const QString kAuthOpenKeyPath = QStringLiteral("/api/system/v1/authOpenKey");
const QString kAppUpdatePath = QStringLiteral("/api/system/v1/setAppUpdate");

QString describe(const FakeHttpServer::Request& request)
{
    return QString::fromLatin1(request.method + ' ' + request.target);
}

void checkField(QStringList& problems, const FakeHttpServer::Request& request, const QString& name,
    const QString& expected)
{
    const QUrlQuery query = request.query();
    if (!query.hasQueryItem(name))
        problems << QStringLiteral("%1: no \"%2\"").arg(describe(request), name);
    else if (query.queryItemValue(name, QUrl::FullyDecoded) != expected)
        problems << QStringLiteral("%1: \"%2\" is \"%3\", expected \"%4\"")
                        .arg(describe(request), name, query.queryItemValue(name, QUrl::FullyDecoded),
                            expected);
}

} // namespace

FakeBackend::FakeBackend()
{
    server_.setFallback(FakeHttpServer::Reply::json(R"({"errCode":404,"msg":"not scripted"})", 404));
}

QString FakeBackend::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(server_.port());
}

void FakeBackend::expectGetKey(const QString& serial, const FakeHttpServer::Reply& reply)
{
    expected_.append({ kGetKeyPath, serial });
    server_.enqueue("GET", kGetKeyPath, reply);
}

void FakeBackend::expectAuthOpenKey(const QString& serial, const FakeHttpServer::Reply& reply)
{
    expected_.append({ kAuthOpenKeyPath, serial });
    server_.enqueue("GET", kAuthOpenKeyPath, reply);
}

void FakeBackend::expectAppUpdate(const FakeHttpServer::Reply& reply)
{
    expected_.append({ kAppUpdatePath, QString() });
    server_.enqueue("POST", kAppUpdatePath, reply);
}

FakeHttpServer::Reply FakeBackend::appUpdate(const QString& version, const QString& url)
{
    return FakeHttpServer::Reply::json(QVariantMap { { QStringLiteral("code"), 0 },
        { QStringLiteral("data"), QVariantMap { { QStringLiteral("ver"), version }, { QStringLiteral("url"), url } } } });
}

QByteArray FakeBackend::scramble(const QByteArray& plain, int key)
{
    const int mask = key & 0xFF;
    QByteArray hex;
    hex.reserve((plain.size() + 1) * 2);
    for (char c : plain)
        hex += QByteArray::number((static_cast<uchar>(c) ^ mask) | 0x100, 16).right(2);
    // The trailer: the scrambled zero byte.
    hex += QByteArray::number(mask | 0x100, 16).right(2);
    return hex;
}

FakeHttpServer::Reply FakeBackend::credentials(const QJsonObject& document, int key)
{
    const QByteArray plain = QJsonDocument(document).toJson(QJsonDocument::Compact);
    return FakeHttpServer::Reply::json(QVariantMap {
        { QStringLiteral("errCode"), 0 },
        { QStringLiteral("data"), QString::fromLatin1(scramble(plain, key)) },
    });
}

FakeHttpServer::Reply FakeBackend::unknownDevice()
{
    return FakeHttpServer::Reply::json(QVariantMap {
        { QStringLiteral("errCode"), kUnknownDeviceErrCode },
        { QStringLiteral("msg"), QStringLiteral("unknown device") },
        { QStringLiteral("data"), QStringLiteral("") },
    });
}

FakeHttpServer::Reply FakeBackend::productInfo(const ProductInfo& info)
{
    QVariantMap data;
    if (info.country)
        data.insert(QStringLiteral("country"), *info.country);
    if (info.openkey)
        data.insert(QStringLiteral("openkey"), *info.openkey);
    if (info.product)
        data.insert(
            QStringLiteral("product_model"), QVariantMap { { QStringLiteral("product"), *info.product } });
    return FakeHttpServer::Reply::json(QVariantMap {
        { QStringLiteral("code"), info.code },
        { QStringLiteral("errCode"), info.errCode },
        { QStringLiteral("data"), data },
    });
}

QList<FakeHttpServer::Request> FakeBackend::requestsTo(const QString& path) const
{
    QList<FakeHttpServer::Request> matching;
    for (const FakeHttpServer::Request& request : server_.requests())
        if (request.path() == path)
            matching.append(request);
    return matching;
}

QStringList FakeBackend::problems() const
{
    QStringList problems;
    for (const QString& path : { kGetKeyPath, kAuthOpenKeyPath }) {
        QList<Expectation> expected;
        for (const Expectation& e : expected_)
            if (e.path == path)
                expected.append(e);
        const QList<FakeHttpServer::Request> requests = requestsTo(path);
        for (qsizetype i = 0; i < requests.size(); ++i) {
            const FakeHttpServer::Request& request = requests[i];
            if (i >= expected.size()) {
                problems << QStringLiteral("%1: not scripted").arg(describe(request));
                continue;
            }
            if (request.method != "GET")
                problems << QStringLiteral("%1: method is not GET").arg(describe(request));
            if (!request.body.isEmpty())
                problems << QStringLiteral("%1: carries a body").arg(describe(request));
            checkField(problems, request, QStringLiteral("serialstring"), expected[i].serial);
            checkField(problems, request, QStringLiteral("customer"), QStringLiteral("zorvane"));
            if (path == kGetKeyPath) {
                checkField(problems, request, QStringLiteral("product"), QStringLiteral("KZ31"));
                if (request.header("content-type") != "application/json")
                    problems << QStringLiteral("%1: content-type is \"%2\"")
                                    .arg(describe(request),
                                        QString::fromLatin1(request.header("content-type")));
            } else {
                checkField(problems, request, QStringLiteral("pm_id"), QStringLiteral("2"));
                if (request.hasHeader("content-type"))
                    problems << QStringLiteral("%1: carries a content-type").arg(describe(request));
            }
        }
    }
    qsizetype updateChecks = 0;
    for (const Expectation& e : expected_)
        updateChecks += e.path == kAppUpdatePath ? 1 : 0;
    const QList<FakeHttpServer::Request> checks = requestsTo(kAppUpdatePath);
    for (qsizetype i = 0; i < checks.size(); ++i) {
        const FakeHttpServer::Request& request = checks[i];
        if (i >= updateChecks)
            problems << QStringLiteral("%1: not scripted").arg(describe(request));
        if (request.method != "POST")
            problems << QStringLiteral("%1: method is not POST").arg(describe(request));
        if (!request.body.isEmpty())
            problems << QStringLiteral("%1: carries a body").arg(describe(request));
        checkField(problems, request, QStringLiteral("fr_id"), QStringLiteral("31"));
        if (request.header("content-type") != "application/json")
            problems << QStringLiteral("%1: content-type is \"%2\"")
                            .arg(describe(request), QString::fromLatin1(request.header("content-type")));
    }
    for (const FakeHttpServer::Request& request : server_.requests())
        if (request.path() != kGetKeyPath && request.path() != kAuthOpenKeyPath && request.path() != kAppUpdatePath)
            problems << QStringLiteral("%1: unknown path").arg(describe(request));
    return problems;
}

} // namespace fakes
