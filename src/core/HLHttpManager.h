#pragma once

#include "platform/HttpClient.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

// What a failed request hands to its failure handler (both HTTP wrappers).
struct HttpFailure {
    enum class Kind {
        InvalidRequest, // the request could not be made: a bad address, parameters that are not JSON, ...
        Transport, // no reply: connection refused or dropped, TLS verification failed, ...
        Timeout, // no complete reply within the request's timeout
        HttpStatus, // a reply with a status outside 200 to 299
        ContentType, // a reply of a content type the JSON reader does not accept
        NotJson, // a reply whose body is empty or not JSON
        ServiceCode, // a JSON reply whose "code" is not 0
    };
    Kind kind = Kind::Transport;
    QString message;
    int status = 0; // the HTTP status, when a reply arrived
    QByteArray body; // the reply body, when a reply arrived
    QVariant reply; // the reply body read as JSON, when it is JSON

    static HttpFailure invalidRequest(const QString& message);
    // The failure of a response that is no 2xx reply; nullopt for a 2xx reply.
    static std::optional<HttpFailure> fromResponse(const platform::HttpResponse& response);
    static HttpFailure notJson(const platform::HttpResponse& response);
};

// The class-wide HTTP session that sends JSON and reads JSON replies: one
// shared configuration (request and response readers, timeout) and the list
// of requests in flight. Handlers run on the main thread; requests are
// started from the main thread.
//
// Replies are sorted: a 2xx reply that the response reader accepts goes to
// success (the JSON as a QVariant tree, or the raw bytes as a QByteArray with
// the raw reader); everything else -- transport errors, timeouts, other
// statuses, content types the JSON reader does not accept, bodies that are
// not JSON -- goes to failure. TLS certificates are always verified.
class HLHttpManager {
public:
    using Success = std::function<void(const QVariant& responseObject)>;
    using Failure = std::function<void(const HttpFailure& failure)>;
    using Progress = std::function<void(qint64 sent, qint64 total)>;
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    // A request in flight.
    struct Task {
        quint64 id = 0;
        QByteArray method;
        QUrl url;
    };
    using TaskHandle = std::shared_ptr<const Task>;

    // Reader codes of setRequestSerializer() and setResponseSerializer().
    static constexpr uint kPlainSerializer = 1; // query or form encoding / raw bytes
    static constexpr uint kJsonSerializer = 0; // any other code
    // The timeout the shared session is set up with.
    static constexpr double kInitialTimeoutSeconds = 30;
    // The timeout a newly installed request serializer starts with.
    static constexpr double kSerializerTimeoutSeconds = 60;

    // The requests in flight, in the order they started.
    static QList<TaskHandle> allSessionTask();

    static void setRequestSerializer(uint code);
    static void setResponseSerializer(uint code);
    static void setRequestTimeoutInterval(double seconds);
    static double requestTimeoutInterval();
    // Sets a property of the current request serializer by name. Known:
    // "timeoutInterval" (seconds). False for unknown names and unusable values.
    static bool setRequestSerializerWithKey(const QString& key, const QVariant& value);

    // Parameters: an invalid QVariant for none, else a map (a map or a list
    // for a JSON POST). GET puts them in the query; POST sends them as JSON
    // or form-encoded, by the request serializer.
    // Each request method returns the request in flight, or null when no
    // request could be made (failure is then called all the same).
    static TaskHandle GET(const QString& url, const QVariant& parameters, Success success, Failure failure);
    static TaskHandle POST(const QString& url, const QVariant& parameters, Success success, Failure failure);
    // POST of a prepared body with the default header fields of a fresh JSON
    // request serializer, overridden by the header map (names are matched
    // without regard to case). Installs that fresh serializer on the shared
    // session, so its timeout applies from now on. A 2xx JSON reply whose
    // "code" reads as an integer other than 0 goes to failure (ServiceCode);
    // one without "code" goes to success.
    static TaskHandle POSTBODY(const QString& url, const QByteArray& body,
        const QMap<QString, QString>& header, Success success, Failure failure);
    // Multipart form POST: the parameters as fields, then one part per file
    // (field "file", the file's name, its MIME type by content and name).
    // A file that cannot be read makes no request.
    static TaskHandle uploadFileWithURL(const QString& url, const QVariant& parameters,
        const QStringList& files, Progress progress, Success success, Failure failure);

    // Back to the configuration after class initialisation (tests).
    static void restoreInitialConfiguration();
    // The timeout a fresh request serializer starts with (tests shorten it).
    static void setSerializerTimeout(double seconds);

    // Shared with SHHttpManager.
    // The header fields every request serializer starts with: Accept-Language
    // and User-Agent.
    static Headers defaultHeaderFields();
    // Sets a header field, replacing any of the same name (any case).
    static void setHeaderField(Headers& headers, const QByteArray& name, const QByteArray& value);
    // Query or form encoding: sorted keys, nested maps as "a[b]", lists as
    // "a[]", percent-encoding all but unreserved characters, "/" and "?".
    static QByteArray queryString(const QVariant& parameters);
    struct FormPart {
        QByteArray name;
        QByteArray fileName; // empty for a plain field
        QByteArray mimeType;
        QByteArray data;
    };
    static QByteArray multipartBody(const QList<FormPart>& parts, const QByteArray& boundary);
    static QList<FormPart> formFields(const QVariant& parameters);
    static QByteArray newBoundary();
    // An address as the requests take it; invalid unless it is a well-formed
    // http or https URL with a host.
    static QUrl requestUrl(const QString& text);
};
