#include "BackendTestFixture.h"
#include "core/BackendAddress.h"
#include "platform/UserNotices.h"

#include <QCoreApplication>
#include <QTcpServer>

namespace {

using fakes::FakeBackend;

class BackendAddressRequestsTest : public BackendTestFixture {
protected:
    void SetUp() override
    {
        BackendTestFixture::SetUp();
        platform::UserNotices::shared().resetForTesting();
    }
    void TearDown() override
    {
        platform::UserNotices::shared().resetForTesting();
        BackendTestFixture::TearDown();
    }

    static QStringList noticeKeys()
    {
        QStringList keys;
        for (const auto& notice : platform::UserNotices::shared().pending())
            keys << notice.key;
        return keys;
    }

    // A mouse that connects three times: each connection asks for both.
    static void connectThreeTimes(mmUtilities& client)
    {
        for (int i = 0; i < 3; ++i) {
            client.getApiKeyWithDeviceMacAdress(kSerialA);
            client.getProductInfoWithDeviceMacAdress(kSerialA, QStringLiteral("2"));
        }
    }
};

TEST_F(BackendAddressRequestsTest, WithoutAnAddressNothingIsSentAndTheUserIsToldOnce)
{
    mmUtilities unconfigured { user, languages, http, center, QString() };
    connectThreeTimes(unconfigured);
    QCoreApplication::processEvents();

    EXPECT_EQ(noticeKeys(), QStringList { BackendAddress::kNotConfiguredNotice });
    EXPECT_EQ(logCount(QStringLiteral("no address is configured")), 1);
    EXPECT_TRUE(posted.isEmpty());
    EXPECT_TRUE(backend.requestsTo(mmUtilities::kGetKeyPath).isEmpty());
}

TEST_F(BackendAddressRequestsTest, AnAddressThatIsNoHttpAddressIsToldOnceAndNothingIsSent)
{
    mmUtilities misconfigured { user, languages, http, center, QStringLiteral("127.0.0.1:8080") };
    connectThreeTimes(misconfigured);
    EXPECT_EQ(noticeKeys(), QStringList { BackendAddress::kInvalidNotice });
    EXPECT_EQ(logCount(QStringLiteral("is not an http or https address")), 1);
}

TEST_F(BackendAddressRequestsTest, AnUnreachableBackEndIsToldOnceHoweverOftenItIsTried)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QString address = QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort());
    closed.close(); // nothing listens there any more: connections are refused

    mmUtilities unreachable { user, languages, http, center, address };
    connectThreeTimes(unreachable);
    ASSERT_TRUE(waitFor([] { return logCount(QStringLiteral("request for A1B2C3D4E5F6 failed")) >= 6; }));

    EXPECT_EQ(noticeKeys(), QStringList { BackendAddress::kUnreachableNotice });
    const auto notices = platform::UserNotices::shared().pending();
    EXPECT_TRUE(notices.front().text.contains(address)) << notices.front().text.toStdString();
    EXPECT_EQ(logCount(QStringLiteral("cannot be reached")), 1);
}

TEST_F(BackendAddressRequestsTest, AServerThatAnswersWithAnErrorIsNotUnreachable)
{
    backend.expectGetKey(kSerialA, fakes::FakeHttpServer::Reply::json("{}", 500));
    utilities.getApiKeyWithDeviceMacAdress(kSerialA);
    ASSERT_TRUE(waitForLog(QStringLiteral("credentials request for A1B2C3D4E5F6 failed")));
    EXPECT_TRUE(noticeKeys().isEmpty());
}

} // namespace
