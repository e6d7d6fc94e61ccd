#include "core/HLHttpManager.h"

#include "core/HLBaseResponse.h"
#include "platform/MainQueue.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocale>
#include <QMimeDatabase>
#include <QRandomGenerator>
#include <QSysInfo>
#include <QVariantMap>

#include <cmath>
#include <mutex>

using platform::HttpRequest;
using platform::HttpResponse;

namespace {

const QByteArray kContentType = "Content-Type";
const QByteArray kJsonContentType = "application/json";
const QByteArray kFormContentType = "application/x-www-form-urlencoded";
const QString kTimeoutIntervalKey = QStringLiteral("timeoutInterval");
const QString kCodeKey = QStringLiteral("code");

// The content types the JSON reader accepts; a reply's MIME type (without
// parameters) must be one of them. The first, with its parameter, can never
// match, as with the reader this one stands in for.
const QStringList kAcceptableContentTypes = {
    QStringLiteral("application/x-www-form-urlencoded; charset=UTF-8"),
    QStringLiteral("text/json"),
    QStringLiteral("text/plain"),
    QStringLiteral("text/javascript"),
    QStringLiteral("application/json"),
    QStringLiteral("text/html"),
};

struct Session {
    std::mutex mutex;
    uint requestSerializer = HLHttpManager::kJsonSerializer;
    uint responseSerializer = HLHttpManager::kJsonSerializer;
    double timeout = HLHttpManager::kInitialTimeoutSeconds;
    double serializerTimeout = HLHttpManager::kSerializerTimeoutSeconds;
    quint64 nextTaskId = 1;
    QList<HLHttpManager::TaskHandle> tasks;
};

// Created, configured, on first use and never replaced.
Session& session()
{
    static Session* shared = new Session();
    return *shared;
}

bool isJsonCode(uint code)
{
    return code != HLHttpManager::kPlainSerializer;
}

// What a reply comes to: a value for success or a failure.
struct Outcome {
    QVariant value;
    std::optional<HttpFailure> failure;
};
using ReplyReader = std::function<Outcome(const HttpResponse&)>;

Outcome readJsonReply(const HttpResponse& response)
{
    if (auto failure = HttpFailure::fromResponse(response))
        return { {}, failure };
    const QByteArray contentType = response.header(kContentType);
    const QString mimeType = QString::fromLatin1(contentType.split(';').first()).trimmed();
    const bool acceptable = (contentType.isEmpty() && response.body.isEmpty())
        || kAcceptableContentTypes.contains(mimeType, Qt::CaseInsensitive);
    if (!acceptable) {
        HttpFailure failure;
        failure.kind = HttpFailure::Kind::ContentType;
        failure.message
            = QStringLiteral("Unacceptable content type: %1").arg(QString::fromLatin1(contentType));
        failure.status = response.status;
        failure.body = response.body;
        failure.reply = HLBaseResponse::parseJson(response.body).value_or(QVariant());
        return { {}, failure };
    }
    if (auto json = HLBaseResponse::parseJson(response.body))
        return { *json, std::nullopt };
    return { {}, HttpFailure::notJson(response) };
}

Outcome readRawReply(const HttpResponse& response)
{
    if (auto failure = HttpFailure::fromResponse(response))
        return { {}, failure };
    return { QVariant(response.body), std::nullopt };
}

ReplyReader currentReader()
{
    Session& s = session();
    std::lock_guard lock(s.mutex);
    return isJsonCode(s.responseSerializer) ? ReplyReader(readJsonReply) : ReplyReader(readRawReply);
}

void failLater(HLHttpManager::Failure failure, HttpFailure what)
{
    if (!failure)
        return;
    platform::MainQueue::shared().async(
        [failure = std::move(failure), what = std::move(what)] { failure(what); });
}

// Starts the request, keeps it in the task list while it runs, and sorts its
// reply into success or failure on the main thread.
HLHttpManager::TaskHandle run(
    HttpRequest request, ReplyReader reader, HLHttpManager::Success success, HLHttpManager::Failure failure)
{
    Session& s = session();
    auto task = std::make_shared<HLHttpManager::Task>();
    task->method = request.method;
    task->url = request.url;
    {
        std::lock_guard lock(s.mutex);
        task->id = s.nextTaskId++;
        s.tasks.append(task);
    }
    HLHttpManager::TaskHandle handle = task;
    platform::HttpClient::shared().send(request,
        [handle, reader = std::move(reader), success = std::move(success), failure = std::move(failure)](
            const HttpResponse& response) {
            {
                Session& s = session();
                std::lock_guard lock(s.mutex);
                s.tasks.removeOne(handle);
            }
            const Outcome outcome = reader(response);
            if (outcome.failure) {
                if (failure)
                    failure(*outcome.failure);
            } else if (success) {
                success(outcome.value);
            }
        });
    return handle;
}

void collectPairs(const QString& key, const QVariant& value, QList<QPair<QString, QVariant>>& pairs)
{
    if (value.typeId() == QMetaType::QVariantMap) {
        const QVariantMap map = value.toMap(); // QMap: keys in sorted order
        for (auto it = map.begin(); it != map.end(); ++it)
            collectPairs(key.isEmpty() ? it.key() : key + u'[' + it.key() + u']', it.value(), pairs);
    } else if (value.typeId() == QMetaType::QVariantList || value.typeId() == QMetaType::QStringList) {
        for (const QVariant& item : value.toList())
            collectPairs(key + QStringLiteral("[]"), item, pairs);
    } else {
        pairs.append({ key, value });
    }
}

bool isNull(const QVariant& value)
{
    return !value.isValid() || value.typeId() == QMetaType::Nullptr;
}

QString formText(const QVariant& value)
{
    const QString text = HLBaseResponse::textValue(value);
    return text.isNull() ? value.toString() : text;
}

QByteArray escaped(const QString& text)
{
    return QUrl::toPercentEncoding(text, "/?");
}

QByteArray headerSafe(const QByteArray& text)
{
    QByteArray result = text;
    return result.replace('"', "%22").replace('\r', "%0D").replace('\n', "%0A");
}

QByteArray printableAscii(const QString& text)
{
    QByteArray result;
    for (QChar c : text) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7f)
            result += char(c.unicode());
    }
    return result;
}

// The request of GET and POST through the shared session, or the reason none can be made.
std::optional<QString> buildRequest(HttpRequest& request, const QString& url, const QVariant& parameters)
{
    Session& s = session();
    uint serializer;
    {
        std::lock_guard lock(s.mutex);
        serializer = s.requestSerializer;
        request.timeoutSeconds = s.timeout;
    }
    request.url = HLHttpManager::requestUrl(url);
    if (!request.url.isValid())
        return QStringLiteral("Invalid URL: %1").arg(url);
    request.headers = HLHttpManager::defaultHeaderFields();
    if (isNull(parameters))
        return std::nullopt;
    const bool inQuery = request.method == "GET" || request.method == "HEAD" || request.method == "DELETE";
    if (inQuery || !isJsonCode(serializer)) {
        if (parameters.typeId() != QMetaType::QVariantMap)
            return QStringLiteral("Parameters must be a map");
        const QByteArray query = HLHttpManager::queryString(parameters);
        if (inQuery) {
            if (!query.isEmpty()) {
                const QByteArray address = request.url.toEncoded();
                request.url = QUrl::fromEncoded(address + (request.url.hasQuery() ? "&" : "?") + query);
            }
        } else {
            request.body = query;
            HLHttpManager::setHeaderField(request.headers, kContentType, kFormContentType);
        }
        return std::nullopt;
    }
    const QMetaType::Type type = QMetaType::Type(parameters.typeId());
    if (type != QMetaType::QVariantMap && type != QMetaType::QVariantList)
        return QStringLiteral("Parameters are not a JSON object or array");
    request.body = QJsonDocument::fromVariant(parameters).toJson(QJsonDocument::Compact);
    HLHttpManager::setHeaderField(request.headers, kContentType, kJsonContentType);
    return std::nullopt;
}

HLHttpManager::TaskHandle sendWithParameters(const QByteArray& method, const QString& url,
    const QVariant& parameters, HLHttpManager::Success success, HLHttpManager::Failure failure)
{
    HttpRequest request;
    request.method = method;
    if (auto reason = buildRequest(request, url, parameters)) {
        failLater(std::move(failure), HttpFailure::invalidRequest(*reason));
        return nullptr;
    }
    return run(std::move(request), currentReader(), std::move(success), std::move(failure));
}

} // namespace

HttpFailure HttpFailure::invalidRequest(const QString& message)
{
    HttpFailure failure;
    failure.kind = Kind::InvalidRequest;
    failure.message = message;
    return failure;
}

std::optional<HttpFailure> HttpFailure::fromResponse(const HttpResponse& response)
{
    HttpFailure failure;
    failure.message = response.errorString;
    switch (response.error) {
    case HttpResponse::Error::None:
        if (response.isSuccessStatus())
            return std::nullopt;
        failure.kind = Kind::HttpStatus;
        failure.message = QStringLiteral("HTTP status %1").arg(response.status);
        failure.status = response.status;
        failure.body = response.body;
        failure.reply = HLBaseResponse::parseJson(response.body).value_or(QVariant());
        return failure;
    case HttpResponse::Error::Transport:
        failure.kind = Kind::Transport;
        return failure;
    case HttpResponse::Error::Timeout:
        failure.kind = Kind::Timeout;
        return failure;
    case HttpResponse::Error::InvalidRequest:
        failure.kind = Kind::InvalidRequest;
        return failure;
    }
    return failure;
}

HttpFailure HttpFailure::notJson(const HttpResponse& response)
{
    HttpFailure failure;
    failure.kind = Kind::NotJson;
    failure.message
        = response.body.isEmpty() ? QStringLiteral("Empty reply") : QStringLiteral("The reply is not JSON");
    failure.status = response.status;
    failure.body = response.body;
    return failure;
}

QList<HLHttpManager::TaskHandle> HLHttpManager::allSessionTask()
{
    Session& s = session();
    std::lock_guard lock(s.mutex);
    return s.tasks;
}

void HLHttpManager::setRequestSerializer(uint code)
{
    Session& s = session();
    std::lock_guard lock(s.mutex);
    s.requestSerializer = isJsonCode(code) ? kJsonSerializer : kPlainSerializer;
    s.timeout = s.serializerTimeout; // a new serializer comes with its own timeout
}

void HLHttpManager::setResponseSerializer(uint code)
{
    Session& s = session();
    std::lock_guard lock(s.mutex);
    s.responseSerializer = isJsonCode(code) ? kJsonSerializer : kPlainSerializer;
}

void HLHttpManager::setRequestTimeoutInterval(double seconds)
{
    if (!(seconds > 0)) {
        qWarning("HLHttpManager: ignoring a timeout of %g s", seconds);
        return;
    }
    Session& s = session();
    std::lock_guard lock(s.mutex);
    s.timeout = seconds;
}

double HLHttpManager::requestTimeoutInterval()
{
    Session& s = session();
    std::lock_guard lock(s.mutex);
    return s.timeout;
}

bool HLHttpManager::setRequestSerializerWithKey(const QString& key, const QVariant& value)
{
    if (key == kTimeoutIntervalKey) {
        bool ok = false;
        const double seconds = value.toDouble(&ok);
        if (ok && seconds > 0) {
            setRequestTimeoutInterval(seconds);
            return true;
        }
    }
    qWarning("HLHttpManager: cannot set %s on the request serializer", qPrintable(key));
    return false;
}

HLHttpManager::TaskHandle HLHttpManager::GET(
    const QString& url, const QVariant& parameters, Success success, Failure failure)
{
    return sendWithParameters("GET", url, parameters, std::move(success), std::move(failure));
}

HLHttpManager::TaskHandle HLHttpManager::POST(
    const QString& url, const QVariant& parameters, Success success, Failure failure)
{
    return sendWithParameters("POST", url, parameters, std::move(success), std::move(failure));
}

HLHttpManager::TaskHandle HLHttpManager::POSTBODY(const QString& url, const QByteArray& body,
    const QMap<QString, QString>& header, Success success, Failure failure)
{
    setRequestSerializer(kJsonSerializer);
    HttpRequest request;
    request.method = "POST";
    request.url = requestUrl(url);
    if (!request.url.isValid()) {
        failLater(
            std::move(failure), HttpFailure::invalidRequest(QStringLiteral("Invalid URL: %1").arg(url)));
        return nullptr;
    }
    request.timeoutSeconds = requestTimeoutInterval();
    request.headers = defaultHeaderFields();
    for (auto it = header.begin(); it != header.end(); ++it)
        setHeaderField(request.headers, it.key().toUtf8(), it.value().toUtf8());
    request.body = body;

    // The body post always reads JSON, whatever reader the session has.
    const ReplyReader reader = [](const HttpResponse& response) {
        Outcome outcome = readJsonReply(response);
        if (outcome.failure || outcome.value.typeId() != QMetaType::QVariantMap)
            return outcome;
        const qint64 code = HLBaseResponse::integerValue(outcome.value.toMap().value(kCodeKey));
        if (code != 0) {
            HttpFailure failure;
            failure.kind = HttpFailure::Kind::ServiceCode;
            failure.message = QStringLiteral("Service code %1").arg(code);
            failure.status = response.status;
            failure.body = response.body;
            failure.reply = outcome.value;
            return Outcome { {}, failure };
        }
        return outcome;
    };
    return run(std::move(request), reader, std::move(success), std::move(failure));
}

HLHttpManager::TaskHandle HLHttpManager::uploadFileWithURL(const QString& url, const QVariant& parameters,
    const QStringList& files, Progress progress, Success success, Failure failure)
{
    HttpRequest request;
    request.method = "POST";
    request.url = requestUrl(url);
    if (!request.url.isValid()) {
        failLater(
            std::move(failure), HttpFailure::invalidRequest(QStringLiteral("Invalid URL: %1").arg(url)));
        return nullptr;
    }
    if (!isNull(parameters) && parameters.typeId() != QMetaType::QVariantMap) {
        failLater(
            std::move(failure), HttpFailure::invalidRequest(QStringLiteral("Parameters must be a map")));
        return nullptr;
    }
    QList<FormPart> parts = formFields(parameters);
    static const QMimeDatabase mimeTypes;
    for (const QString& path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            failLater(std::move(failure),
                HttpFailure::invalidRequest(
                    QStringLiteral("Cannot read %1: %2").arg(path, file.errorString())));
            return nullptr;
        }
        parts.append({ "file", QFileInfo(path).fileName().toUtf8(),
            mimeTypes.mimeTypeForFile(path).name().toLatin1(), file.readAll() });
    }
    const QByteArray boundary = newBoundary();
    request.timeoutSeconds = requestTimeoutInterval();
    request.headers = defaultHeaderFields();
    setHeaderField(request.headers, kContentType, "multipart/form-data; boundary=" + boundary);
    request.body = multipartBody(parts, boundary);
    request.uploadProgress = std::move(progress);
    return run(std::move(request), currentReader(), std::move(success), std::move(failure));
}

void HLHttpManager::restoreInitialConfiguration()
{
    Session& s = session();
    std::lock_guard lock(s.mutex);
    s.requestSerializer = kJsonSerializer;
    s.responseSerializer = kJsonSerializer;
    s.serializerTimeout = kSerializerTimeoutSeconds;
    s.timeout = kInitialTimeoutSeconds;
}

void HLHttpManager::setSerializerTimeout(double seconds)
{
    if (!(seconds > 0))
        return;
    Session& s = session();
    std::lock_guard lock(s.mutex);
    s.serializerTimeout = seconds;
}

HLHttpManager::Headers HLHttpManager::defaultHeaderFields()
{
    Headers headers;
    const QStringList languages = QLocale::system().uiLanguages().mid(0, 6);
    QStringList weighted;
    for (qsizetype i = 0; i < languages.size(); ++i)
        weighted.append(
            QStringLiteral("%1;q=%2").arg(languages[i], QString::number(1.0 - 0.1 * double(i), 'g', 1)));
    if (!weighted.isEmpty())
        headers.append({ "Accept-Language", printableAscii(weighted.join(QStringLiteral(", "))) });
    const QString name = QCoreApplication::applicationName();
    const QString version = QCoreApplication::applicationVersion();
    headers.append({ "User-Agent",
        printableAscii(
            QStringLiteral("%1/%2 (%3)")
                .arg(name.isEmpty() ? QStringLiteral("pravik") : name,
                    version.isEmpty() ? QStringLiteral("0") : version, QSysInfo::prettyProductName())) });
    return headers;
}

void HLHttpManager::setHeaderField(Headers& headers, const QByteArray& name, const QByteArray& value)
{
    for (auto& entry : headers) {
        if (entry.first.compare(name, Qt::CaseInsensitive) == 0) {
            entry = { name, value };
            return;
        }
    }
    headers.append({ name, value });
}

QByteArray HLHttpManager::queryString(const QVariant& parameters)
{
    QList<QPair<QString, QVariant>> pairs;
    collectPairs(QString(), parameters, pairs);
    QByteArrayList components;
    for (const auto& [field, value] : pairs) {
        if (isNull(value))
            components.append(escaped(field));
        else
            components.append(escaped(field) + '=' + escaped(formText(value)));
    }
    return components.join('&');
}

QList<HLHttpManager::FormPart> HLHttpManager::formFields(const QVariant& parameters)
{
    QList<QPair<QString, QVariant>> pairs;
    if (!isNull(parameters))
        collectPairs(QString(), parameters, pairs);
    QList<FormPart> parts;
    for (const auto& [field, value] : pairs)
        parts.append({ field.toUtf8(), {}, {}, isNull(value) ? QByteArray() : formText(value).toUtf8() });
    return parts;
}

QByteArray HLHttpManager::multipartBody(const QList<FormPart>& parts, const QByteArray& boundary)
{
    QByteArray body;
    for (const FormPart& part : parts) {
        body += "--" + boundary + "\r\n";
        body += "Content-Disposition: form-data; name=\"" + headerSafe(part.name) + '"';
        if (!part.fileName.isEmpty())
            body += "; filename=\"" + headerSafe(part.fileName) + '"';
        body += "\r\n";
        if (!part.mimeType.isEmpty())
            body += "Content-Type: " + headerSafe(part.mimeType) + "\r\n";
        body += "\r\n" + part.data + "\r\n";
    }
    body += "--" + boundary + "--\r\n";
    return body;
}

QByteArray HLHttpManager::newBoundary()
{
    QRandomGenerator* random = QRandomGenerator::global();
    return "Boundary+" + QByteArray::number(random->generate(), 16).rightJustified(8, '0').toUpper()
        + QByteArray::number(random->generate(), 16).rightJustified(8, '0').toUpper();
}

QUrl HLHttpManager::requestUrl(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return QUrl();
    return url;
}
