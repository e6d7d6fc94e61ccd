#pragma once

#include "platform/HttpClient.h"

#include <QObject>
#include <QSet>

#include <mutex>

class QNetworkAccessManager;
class QNetworkReply;
class QThread;

namespace platform {

// HttpClient over QNetworkAccessManager. Asynchronous requests run on a
// manager that lives on the main thread; blocking requests run on a private
// worker thread with its own manager, so a blocking caller never needs the
// main event loop (and never re-enters it). TLS errors are never ignored.
// Requires a QCoreApplication.
class QtHttpClient final : public QObject, public HttpClient {
    Q_OBJECT
public:
    // How much longer than a request's own timeout a blocking caller waits
    // for the worker before it gives up on its own.
    static constexpr double kBlockingMarginSeconds = 2.0;

    QtHttpClient();
    ~QtHttpClient() override;

    void send(const HttpRequest& request, Completion completion) override;
    HttpResponse sendBlocking(const HttpRequest& request) override;

    // Ends every request still running (each reports a transport error),
    // stops the worker thread and refuses later requests. Main thread only;
    // also run by the destructor.
    void shutdown();

private:
    void start(const HttpRequest& request, Completion completion);
    void completeLater(HttpResponse response, Completion completion);
    // Runs the task on the worker thread (started on first use); false once shut down.
    bool postToWorker(std::function<void(QObject* context)> task);

    QNetworkAccessManager* manager_ = nullptr; // main thread, created on first use
    QSet<QNetworkReply*> running_; // main thread
    bool shutDown_ = false; // main thread

    std::mutex workerMutex_;
    QThread* worker_ = nullptr;
    QObject* workerContext_ = nullptr; // lives on the worker; owns the worker's manager
    bool workerStopped_ = false;
};

} // namespace platform
