#include "BackendTestFixture.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

using fakes::FakeBackend;
using Reply = fakes::FakeHttpServer::Reply;

const QJsonObject kDocument {
    { "cn_urlstr", "wss://iat.example/v2/iat" },
    { "iat_appid", "id-1" },
    { "iat_appkey", "key-1" },
    { "azure_translate_url", "https://translate.example" },
    { "not_a_credential", "ignored" },
};
const QJsonObject kOtherDocument { { "iat_appid", "id-2" }, { "int_urlstr", "wss://int.example/v2/iat" } };

QByteArray scrambledDocument()
{
    return FakeBackend::scramble(QJsonDocument(kDocument).toJson(QJsonDocument::Compact));
}

mmApiKeyItem sentinel()
{
    mmApiKeyItem item;
    item.iat_appid = QStringLiteral("credentials of the previous device");
    return item;
}

enum class Outcome { Stored, Cleared, Unchanged };

struct CredentialsCase {
    const char* name;
    std::function<Reply()> reply;
    Outcome outcome;
    bool unknownDevice; // afterwards
    const char* log = ""; // the line that tells an unchanged outcome apart
    // The HTTP stack sends an idempotent request once more when the
    // connection drops before any reply, so such a case may see two.
    int maxAttempts = 1;
};

void PrintTo(const CredentialsCase& c, std::ostream* os)
{
    *os << c.name;
}

class CredentialsReplyTest : public BackendTestFixture,
                             public ::testing::WithParamInterface<CredentialsCase> { };

TEST_P(CredentialsReplyTest, ReplyDecidesTheCredentials)
{
    const CredentialsCase& c = GetParam();
    user.setApikeyItem(sentinel());
    // Start from the opposite of the expected flag, so a change is seen.
    user.deviceInfo().setUnknownDevice(c.outcome == Outcome::Unchanged ? c.unknownDevice : !c.unknownDevice);
    for (int i = 0; i < c.maxAttempts; ++i)
        backend.expectGetKey(kSerialA, c.reply());

    // The argument is not what is asked for: the serial of the device state is.
    utilities.getApiKeyWithDeviceMacAdress(QStringLiteral("FFFFFFFFFFFF"));

    switch (c.outcome) {
    case Outcome::Stored:
        ASSERT_TRUE(waitFor([&] { return user.apikeyItem() != sentinel(); }));
        ASSERT_TRUE(user.apikeyItem().has_value());
        EXPECT_EQ(*user.apikeyItem(), mmApiKeyItem::fromJson(kDocument));
        EXPECT_EQ(user.apikeyItem()->cn_urlstr, QStringLiteral("wss://iat.example/v2/iat"));
        EXPECT_TRUE(user.apikeyItem()->ots_appid.isNull());
        break;
    case Outcome::Cleared:
        ASSERT_TRUE(waitFor([&] { return !user.apikeyItem().has_value(); }));
        break;
    case Outcome::Unchanged:
        ASSERT_TRUE(waitForLog(QString::fromLatin1(c.log)));
        EXPECT_EQ(user.apikeyItem(), sentinel());
        break;
    }
    EXPECT_EQ(user.deviceInfo().unknownDevice(), c.unknownDevice);
    EXPECT_GE(backend.requestsTo(mmUtilities::kGetKeyPath).size(), 1);
    EXPECT_LE(backend.requestsTo(mmUtilities::kGetKeyPath).size(), c.maxAttempts);
}

INSTANTIATE_TEST_SUITE_P(Table, CredentialsReplyTest,
    ::testing::Values(CredentialsCase { "KnownDevice", [] { return FakeBackend::credentials(kDocument); },
                          Outcome::Stored, false },
        CredentialsCase { "ErrCodeAsText",
            [] { return Reply::json(R"({"errCode":"0","data":")" + scrambledDocument() + "\"}"); },
            Outcome::Stored, false },
        CredentialsCase { "ErrCodeMissingReadsAsZero",
            [] { return Reply::json(R"({"data":")" + scrambledDocument() + "\"}"); }, Outcome::Stored,
            false },
        CredentialsCase { "TwoDigitsUnscrambleToNothing",
            [] { return Reply::json(R"({"errCode":0,"data":"e6"})"); }, Outcome::Cleared, false },
        CredentialsCase { "PayloadNotJson",
            [] {
                return Reply::json(R"({"errCode":0,"data":")" + FakeBackend::scramble("not json") + "\"}");
            },
            Outcome::Cleared, false },
        CredentialsCase { "PayloadNotAnObject",
            [] { return Reply::json(R"({"errCode":0,"data":")" + FakeBackend::scramble("[1,2]") + "\"}"); },
            Outcome::Cleared, false },
        CredentialsCase {
            "DataMissing", [] { return Reply::json(R"({"errCode":0})"); }, Outcome::Cleared, false },
        CredentialsCase {
            "UnknownDevice", [] { return FakeBackend::unknownDevice(); }, Outcome::Cleared, true },
        CredentialsCase { "UnknownDeviceErrCodeAsText",
            [] { return Reply::json(R"({"errCode":"10404","data":")" + scrambledDocument() + "\"}"); },
            Outcome::Cleared, true },
        CredentialsCase { "ServerError", [] { return Reply::json("{}", 500); }, Outcome::Unchanged, false,
            "credentials request for A1B2C3D4E5F6 failed" },
        CredentialsCase { "BodyNotJson", [] { return Reply::text("<html>busy</html>"); }, Outcome::Unchanged,
            true, "credentials request for A1B2C3D4E5F6 failed" },
        CredentialsCase { "ConnectionDropped", [] { return Reply::closeConnection(); }, Outcome::Unchanged,
            false, "credentials request for A1B2C3D4E5F6 failed", 2 },
        CredentialsCase { "ReplyNotAnObject", [] { return Reply::json("[0]"); }, Outcome::Unchanged, false,
            "credentials reply for A1B2C3D4E5F6 is not a JSON object" }),
    [](const auto& info) { return std::string(info.param.name); });

class CredentialsTest : public BackendTestFixture { };

TEST_F(CredentialsTest, UnknownDeviceDoesNotKeepThePreviousDevicesCredentials)
{
    backend.expectGetKey(kSerialA, FakeBackend::credentials(kDocument));
    utilities.getApiKeyWithDeviceMacAdress(kSerialA);
    ASSERT_TRUE(waitFor([&] { return user.apikeyItem().has_value(); }));

    user.deviceInfo().setSn(kSerialB);
    backend.expectGetKey(kSerialB, FakeBackend::unknownDevice());
    utilities.getApiKeyWithDeviceMacAdress(kSerialB);
    ASSERT_TRUE(waitFor([&] { return !user.apikeyItem().has_value(); }));
    EXPECT_TRUE(user.deviceInfo().unknownDevice());

    // A known device afterwards is no longer flagged unknown.
    user.deviceInfo().setSn(kSerialA);
    backend.expectGetKey(kSerialA, FakeBackend::credentials(kOtherDocument));
    utilities.getApiKeyWithDeviceMacAdress(kSerialA);
    ASSERT_TRUE(waitFor([&] { return user.apikeyItem().has_value(); }));
    EXPECT_EQ(*user.apikeyItem(), mmApiKeyItem::fromJson(kOtherDocument));
    EXPECT_FALSE(user.deviceInfo().unknownDevice());
}

TEST_F(CredentialsTest, LateReplyForAnEarlierSerialIsDropped)
{
    // The first device's answer is slow; the second device is identified meanwhile.
    backend.expectGetKey(kSerialA, FakeBackend::credentials(kDocument).after(400));
    utilities.getApiKeyWithDeviceMacAdress(kSerialA);
    ASSERT_TRUE(backend.server().waitForRequests(1));

    user.deviceInfo().setSn(kSerialB);
    backend.expectGetKey(kSerialB, FakeBackend::credentials(kOtherDocument));
    utilities.getApiKeyWithDeviceMacAdress(kSerialB);
    ASSERT_TRUE(waitFor([&] { return user.apikeyItem().has_value(); }));
    EXPECT_EQ(*user.apikeyItem(), mmApiKeyItem::fromJson(kOtherDocument));

    ASSERT_TRUE(waitForLog(QStringLiteral("dropping the credentials reply for A1B2C3D4E5F6")));
    EXPECT_EQ(*user.apikeyItem(), mmApiKeyItem::fromJson(kOtherDocument));
}

TEST_F(CredentialsTest, LateUnknownDeviceReplyDoesNotClearTheCurrentDevice)
{
    backend.expectGetKey(kSerialA, FakeBackend::unknownDevice().after(400));
    utilities.getApiKeyWithDeviceMacAdress(kSerialA);
    ASSERT_TRUE(backend.server().waitForRequests(1));

    user.deviceInfo().setSn(kSerialB);
    backend.expectGetKey(kSerialB, FakeBackend::credentials(kOtherDocument));
    utilities.getApiKeyWithDeviceMacAdress(kSerialB);
    ASSERT_TRUE(waitForLog(QStringLiteral("dropping the credentials reply for A1B2C3D4E5F6")));
    ASSERT_TRUE(waitFor([&] { return user.apikeyItem().has_value(); }));
    EXPECT_EQ(*user.apikeyItem(), mmApiKeyItem::fromJson(kOtherDocument));
    EXPECT_FALSE(user.deviceInfo().unknownDevice());
}

TEST_F(CredentialsTest, ReplyAfterTheClientIsGoneIsIgnored)
{
    backend.expectGetKey(kSerialA, FakeBackend::credentials(kDocument).after(200));
    {
        mmUtilities shortLived(user, languages, http, center, backend.baseUrl());
        shortLived.getApiKeyWithDeviceMacAdress(kSerialA);
        ASSERT_TRUE(backend.server().waitForRequests(1));
    }
    // Give the reply time to arrive; nothing may touch the destroyed client.
    fakes::FakeHttpServer::waitUntil([] { return false; }, 600);
    EXPECT_FALSE(user.apikeyItem().has_value());
}

} // namespace
