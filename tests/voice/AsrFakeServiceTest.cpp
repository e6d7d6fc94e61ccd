// The fake dictation service must refuse what the real one would: these
// drive it with a raw WebSocket and wrong handshakes or frames.
#include "fakes/FakeDictationService.h"
#include "fakes/FakeHttpServer.h"
#include "voice/mmXFYunRequestBuilder.h"

#include <QJsonDocument>
#include <QtWebSockets/QWebSocket>

#include <gtest/gtest.h>
#include <memory>

namespace {

using Service = fakes::FakeDictationService;

const QString kDate = QStringLiteral("Tue, 14 Nov 2023 22:13:20 GMT");

class AsrFakeServiceTest : public ::testing::Test {
protected:
    // Opens a socket on a URL signed with the given values; true when the upgrade succeeded.
    bool open(const QString& host, const QString& secret, const QString& key = QStringLiteral("k"))
    {
        QString url = mmXFYunRequestBuilder::signedUrl(host, kDate, key, secret);
        // The connection always goes to the fake, whatever host was signed.
        url.replace(0, url.indexOf(QLatin1Char('?')), service->endpoint());
        socket.open(QUrl::fromEncoded(url.toUtf8(), QUrl::StrictMode));
        fakes::FakeHttpServer::waitUntil([&] {
            return socket.state() == QAbstractSocket::ConnectedState
                || (!service->connections().isEmpty() && service->connections()[0].closed);
        });
        return socket.state() == QAbstractSocket::ConnectedState;
    }

    void send(const QList<QByteArray>& frames)
    {
        for (const QByteArray& frame : frames)
            socket.sendBinaryMessage(frame);
        fakes::FakeHttpServer::waitUntil([&] {
            const Service::Connection c = service->connections().value(0);
            return c.frames.size() + service->problems().size() >= frames.size();
        });
    }

    void restart()
    {
        socket.abort();
        service = std::make_unique<Service>(
            Service::Credentials { QStringLiteral("app"), QStringLiteral("k"), QStringLiteral("s") });
    }

    std::unique_ptr<Service> service;
    QWebSocket socket;
};

TEST_F(AsrFakeServiceTest, RefusesHandshakesThatDoNotCarryAValidSignature)
{
    struct Case {
        const char* name;
        bool signBareHost; // the host name alone instead of the whole endpoint
        QString secret, key;
        const char* reason;
    };
    const Case cases[] = {
        { "wrong secret", false, QStringLiteral("t"), QStringLiteral("k"), "signature" },
        { "wrong key", false, QStringLiteral("s"), QStringLiteral("x"), "api_key" },
        { "bare host signed", true, QStringLiteral("s"), QStringLiteral("k"), "host is not the endpoint" },
    };
    for (const Case& c : cases) {
        restart();
        const QString host = c.signBareHost ? QStringLiteral("127.0.0.1") : service->endpoint();
        EXPECT_FALSE(open(host, c.secret, c.key)) << c.name;
        ASSERT_EQ(service->connections().size(), 1) << c.name;
        EXPECT_EQ(service->connections()[0].rejectReason, QString::fromUtf8(c.reason)) << c.name;
    }
}

TEST_F(AsrFakeServiceTest, ReportsFramesOutOfProtocol)
{
    const QByteArray pcm(4, 'a');
    const QJsonObject business;
    struct Case {
        const char* name;
        QList<QByteArray> frames;
        const char* problem;
    };
    const Case cases[] = {
        { "middle first", { mmXFYunRequestBuilder::middleFrame(pcm) }, "a middle frame first" },
        { "last without audio", { mmXFYunRequestBuilder::lastFrame() },
            "a last frame without audio before it" },
        { "wrong app id", { mmXFYunRequestBuilder::firstFrame(QStringLiteral("other"), business, pcm) },
            "app_id" },
        { "odd audio",
            { mmXFYunRequestBuilder::firstFrame(QStringLiteral("app"), business, QByteArray(3, 'a')) },
            "audio of 3 bytes" },
        { "frame after last",
            { mmXFYunRequestBuilder::firstFrame(QStringLiteral("app"), business, pcm),
                mmXFYunRequestBuilder::lastFrame(), mmXFYunRequestBuilder::middleFrame(pcm) },
            "a frame after the last frame" },
        { "not JSON", { QByteArray("{\"data\":") }, "not a JSON object" },
        { "bad Base64",
            { R"({"data":{"status":0,"format":"audio/L16;rate=16000","encoding":"raw","audio":"YW=="}})" },
            "audio is not padded standard Base64" },
        { "wrong format",
            { R"({"common":{"app_id":"app"},"data":{"status":0,"format":"audio/L16;rate=8000","encoding":"raw",)"
              R"("audio":"YWFh"}})" },
            "format" },
    };
    for (const Case& c : cases) {
        restart();
        service->setDefaultSession({}); // no replies, no close
        ASSERT_TRUE(open(service->endpoint(), QStringLiteral("s"))) << c.name;
        send(c.frames);
        EXPECT_TRUE(service->problems().join('\n').contains(QString::fromUtf8(c.problem)))
            << c.name << ": " << service->problems().join('\n').toStdString();
    }
}

} // namespace
