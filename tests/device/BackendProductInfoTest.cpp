#include "BackendTestFixture.h"

#include <optional>

namespace {

using fakes::FakeBackend;
using Reply = fakes::FakeHttpServer::Reply;
using ProductInfo = FakeBackend::ProductInfo;

const QString kCn = QStringLiteral("cn");
const QString kId = QStringLiteral("id");

// What a product-information reply leaves behind.
struct ProductState {
    QString ipCountry;
    QString openKey;
    QString productModel;
    quint64 aiShort;
    quint64 aiLong;
    QString typingCode; // the region rule ran when this is set
};

struct ProductCase {
    const char* name;
    std::function<Reply()> reply;
    ProductState expected;
};

const ProductState kUntouched { QString(), QString(), QString(), 0, 3, QString() };

void PrintTo(const ProductCase& c, std::ostream* os)
{
    *os << c.name;
}

class ProductInfoReplyTest : public BackendTestFixture, public ::testing::WithParamInterface<ProductCase> { };

TEST_P(ProductInfoReplyTest, ReplyDecidesProductAndRegion)
{
    const ProductCase& c = GetParam();
    backend.expectAuthOpenKey(kSerialA, c.reply());

    utilities.getProductInfoWithDeviceMacAdress(kSerialA, QStringLiteral("接收器"));
    ASSERT_TRUE(waitFor([&] { return !posted.isEmpty(); }));

    // Every reply tells the settings page to refresh, once.
    ASSERT_EQ(posted.size(), 1);
    EXPECT_EQ(posted[0], QVariant(QVariantMap { { QStringLiteral("pageIndex"), 0 } }));

    const MMDeviceInfo& device = user.deviceInfo();
    EXPECT_EQ(user.ipCountry(), c.expected.ipCountry);
    EXPECT_EQ(user.ipCountry().isNull(), c.expected.ipCountry.isNull());
    EXPECT_EQ(device.openKey(), c.expected.openKey);
    EXPECT_EQ(device.productModelString(), c.expected.productModel);
    EXPECT_EQ(user.webConfig().fir_ai_short(), c.expected.aiShort);
    EXPECT_EQ(user.webConfig().fir_ai_long(), c.expected.aiLong);
    EXPECT_EQ(languages.TypingFromCode(), c.expected.typingCode);
    EXPECT_EQ(languages.TransFromCode(), c.expected.typingCode);
}

INSTANTIATE_TEST_SUITE_P(Table, ProductInfoReplyTest,
    ::testing::Values(
        ProductCase { "MainlandKZ32",
            [] {
                return FakeBackend::productInfo(
                    { 0, 0, kCn, QStringLiteral("open-1"), QStringLiteral("KZ32") });
            },
            { kCn, QStringLiteral("open-1"), QStringLiteral("KZ32"), 7, 4, QStringLiteral("zh_cn") } },
        ProductCase { "OverseasKZ31",
            [] {
                return FakeBackend::productInfo(
                    { 0, 0, kId, QStringLiteral("open-2"), QStringLiteral("KZ31") });
            },
            { kId, QStringLiteral("open-2"), QStringLiteral("KZ31"), 0, 3, QStringLiteral("id_ID") } },
        // The default product: KZ31 and the country; openkey and product_model are not read.
        ProductCase { "ErrCode10002",
            [] {
                return FakeBackend::productInfo(
                    { 0, 10002, kId, QStringLiteral("open-3"), QStringLiteral("KZ32") });
            },
            { kId, QString(), QStringLiteral("KZ31"), 0, 3, QStringLiteral("id_ID") } },
        ProductCase { "ErrCode10002AsTextWithCode1",
            [] {
                return Reply::json(R"({"code":"1","errCode":"10002","data":{"country":"cn","openkey":"x"}})");
            },
            { kCn, QString(), QStringLiteral("KZ31"), 0, 3, QStringLiteral("zh_cn") } },
        ProductCase { "CodeNotZeroChangesNothing",
            [] {
                return FakeBackend::productInfo(
                    { 1, 0, kCn, QStringLiteral("open-4"), QStringLiteral("KZ32") });
            },
            kUntouched },
        ProductCase { "ErrCode10000ChangesNothing",
            [] {
                return FakeBackend::productInfo(
                    { 0, 10000, kCn, QStringLiteral("open-5"), QStringLiteral("KZ32") });
            },
            kUntouched },
        ProductCase { "NoCountryMeansOverseasEnglish",
            [] {
                return FakeBackend::productInfo({ 0, 0, std::nullopt, std::nullopt, std::nullopt });
            },
            { QString(), QString(), QString(), 0, 3, QStringLiteral("en_us") } },
        ProductCase { "CodesAsText",
            [] {
                return Reply::json(
                    R"({"code":"0","errCode":"0","data":{"country":"cn","product_model":{"product":"KZ32"}}})");
            },
            { kCn, QString(), QStringLiteral("KZ32"), 7, 4, QStringLiteral("zh_cn") } },
        ProductCase { "ProductModelNotAnObject",
            [] {
                return Reply::json(
                    R"({"code":0,"errCode":0,"data":{"country":"cn","product_model":"KZ32"}})");
            },
            { kCn, QString(), QString(), 0, 3, QStringLiteral("zh_cn") } },
        ProductCase { "UnknownProductKeepsTheAiKey",
            [] {
                return FakeBackend::productInfo({ 0, 0, kCn, std::nullopt, QStringLiteral("KZ99") });
            },
            { kCn, QString(), QStringLiteral("KZ99"), 0, 3, QStringLiteral("zh_cn") } }),
    [](const auto& info) { return std::string(info.param.name); });

class ProductInfoTest : public BackendTestFixture { };

TEST_F(ProductInfoTest, FailuresPostNothingAndChangeNothing)
{
    user.setIpCountry(kCn);
    const QString requestFailed = QStringLiteral("product-information request for A1B2C3D4E5F6 failed");
    const QString notAnObject
        = QStringLiteral("product-information reply for A1B2C3D4E5F6 is not a JSON object");

    backend.expectAuthOpenKey(kSerialA, Reply::json("{}", 503));
    utilities.getProductInfoWithDeviceMacAdress(kSerialA, QString());
    ASSERT_TRUE(waitFor([&] { return logCount(requestFailed) == 1; }));

    backend.expectAuthOpenKey(kSerialA, Reply::json("[1]"));
    utilities.getProductInfoWithDeviceMacAdress(kSerialA, QString());
    ASSERT_TRUE(waitFor([&] { return logCount(notAnObject) == 1; }));

    // The HTTP stack sends an idempotent request once more when the
    // connection drops before any reply: script both attempts.
    backend.expectAuthOpenKey(kSerialA, Reply::closeConnection());
    backend.expectAuthOpenKey(kSerialA, Reply::closeConnection());
    utilities.getProductInfoWithDeviceMacAdress(kSerialA, QString());
    ASSERT_TRUE(waitFor([&] { return logCount(requestFailed) == 2; }));

    EXPECT_TRUE(posted.isEmpty());
    EXPECT_EQ(user.ipCountry(), kCn);
    EXPECT_TRUE(languages.TypingFromCode().isEmpty());
}

TEST_F(ProductInfoTest, LateReplyForAnEarlierSerialIsDropped)
{
    backend.expectAuthOpenKey(kSerialA,
        FakeBackend::productInfo({ 0, 0, kCn, QStringLiteral("open-A"), QStringLiteral("KZ32") }).after(400));
    utilities.getProductInfoWithDeviceMacAdress(kSerialA, QString());
    ASSERT_TRUE(backend.server().waitForRequests(1));

    user.deviceInfo().setSn(kSerialB);
    backend.expectAuthOpenKey(
        kSerialB, FakeBackend::productInfo({ 0, 0, kId, QStringLiteral("open-B"), QStringLiteral("KZ31") }));
    utilities.getProductInfoWithDeviceMacAdress(kSerialB, QString());
    // Whichever answer comes first, the earlier device's is dropped.
    ASSERT_TRUE(waitForLog(QStringLiteral("dropping the product-information reply for A1B2C3D4E5F6")));
    ASSERT_TRUE(waitFor([&] { return !posted.isEmpty(); }));

    EXPECT_EQ(posted.size(), 1);
    EXPECT_EQ(user.ipCountry(), kId);
    EXPECT_EQ(user.deviceInfo().openKey(), QStringLiteral("open-B"));
    EXPECT_EQ(user.deviceInfo().productModelString(), QStringLiteral("KZ31"));
    EXPECT_EQ(user.webConfig().fir_ai_short(), 0u);
}

TEST_F(ProductInfoTest, ChosenLanguagesStayButTheRegionFollowsTheCountry)
{
    languages.setTypingFromCode(QStringLiteral("vi_VN"));
    languages.setTransFromCode(QStringLiteral("ko_kr"));
    languages.setIndexTransTo(9);
    user.webConfig().setSec_searchEngine(2);
    backend.expectAuthOpenKey(kSerialA, FakeBackend::productInfo({ 0, 0, kCn, std::nullopt, std::nullopt }));

    utilities.getProductInfoWithDeviceMacAdress(kSerialA, QString());
    ASSERT_TRUE(waitFor([&] { return !posted.isEmpty(); }));

    EXPECT_EQ(user.ipCountry(), kCn);
    EXPECT_EQ(languages.TypingFromCode(), QStringLiteral("vi_VN"));
    EXPECT_EQ(languages.TransFromCode(), QStringLiteral("ko_kr"));
    EXPECT_EQ(languages.indexTransTo(), 9u);
    EXPECT_EQ(user.webConfig().sec_searchEngine(), 2u);
}

// --- The product rule -------------------------------------------------------

struct ProductRuleCase {
    const char* name;
    quint64 aiShortBefore, aiLongBefore;
    const char* product;
    quint64 aiShortAfter, aiLongAfter;
};

void PrintTo(const ProductRuleCase& c, std::ostream* os)
{
    *os << c.name;
}

class ProductRuleTest : public BackendTestFixture, public ::testing::WithParamInterface<ProductRuleCase> { };

TEST_P(ProductRuleTest, AiKeyDefaultsFollowTheModelUnlessTheUserChose)
{
    const ProductRuleCase& c = GetParam();
    user.webConfig().setFir_ai_short(c.aiShortBefore);
    user.webConfig().setFir_ai_long(c.aiLongBefore);

    utilities.SetFunctionsBasedOnProductName(QString::fromLatin1(c.product));

    EXPECT_EQ(user.deviceInfo().productModelString(), QString::fromLatin1(c.product));
    EXPECT_EQ(user.webConfig().fir_ai_short(), c.aiShortAfter);
    EXPECT_EQ(user.webConfig().fir_ai_long(), c.aiLongAfter);
    // The settings are stored, not only held.
    EXPECT_EQ(prefs.integerValue(MMwebconfig::kAiShort, -1), qlonglong(c.aiShortAfter));
}

INSTANTIATE_TEST_SUITE_P(Table, ProductRuleTest,
    ::testing::Values(ProductRuleCase { "KZ31OnFreshSettings", 0, 3, "KZ31", 0, 3 },
        ProductRuleCase { "KZ32OnFreshSettings", 0, 3, "KZ32", 7, 4 },
        ProductRuleCase { "KZ31AfterKZ32", 7, 4, "KZ31", 0, 3 },
        ProductRuleCase { "KZ32AfterKZ31WithOwnLongPress", 0, 1, "KZ32", 7, 4 },
        ProductRuleCase { "UserChoiceStands", 5, 2, "KZ32", 5, 2 },
        ProductRuleCase { "UserChoiceStandsForKZ31", 1, 1, "KZ31", 1, 1 },
        ProductRuleCase { "OtherModelChangesNothing", 7, 4, "KZ45", 7, 4 }),
    [](const auto& info) { return std::string(info.param.name); });

// --- The region rule --------------------------------------------------------

struct RegionCase {
    const char* name;
    std::optional<QString> country;
    const char* code;
    const char* languageName; // in the English interface the fixture runs with
    quint64 searchEngine, transTo, huaciFrom, ocrFrom;
};

void PrintTo(const RegionCase& c, std::ostream* os)
{
    *os << c.name;
}

class RegionDefaultsTest : public BackendTestFixture, public ::testing::WithParamInterface<RegionCase> { };

TEST_P(RegionDefaultsTest, FirstCountryPicksTheDefaults)
{
    const RegionCase& c = GetParam();
    // Values no rule writes, so each written value is seen.
    user.webConfig().setSec_dynamic_typing(1);
    user.webConfig().setSec_searchEngine(9);
    languages.setIndexTransTo(9);
    languages.setIndexHuaciFrom(9);
    languages.setIndexHuaciTo(9);
    languages.setIndexOcrFrom(9);
    languages.setIndexOcrTo(9);

    utilities.InitializeTypingLanguageBasedOnDeviceIp(c.country.value_or(QString()));

    EXPECT_EQ(languages.TypingFromCode(), QString::fromLatin1(c.code));
    EXPECT_EQ(languages.TransFromCode(), QString::fromLatin1(c.code));
    EXPECT_EQ(languages.TypingFromName(), QString::fromLatin1(c.languageName));
    EXPECT_EQ(languages.TransFromName(), QString::fromLatin1(c.languageName));
    EXPECT_EQ(user.webConfig().sec_searchEngine(), c.searchEngine);
    EXPECT_EQ(user.webConfig().sec_dynamic_typing(), 0u);
    EXPECT_EQ(languages.indexTransTo(), c.transTo);
    EXPECT_EQ(languages.indexHuaciFrom(), c.huaciFrom);
    EXPECT_EQ(languages.indexHuaciTo(), 0u);
    EXPECT_EQ(languages.indexOcrFrom(), c.ocrFrom);
    EXPECT_EQ(languages.indexOcrTo(), 0u);
    EXPECT_EQ(prefs.stringValue(KWLangManager::kTypingFromCode), QString::fromLatin1(c.code));
}

INSTANTIATE_TEST_SUITE_P(Table, RegionDefaultsTest,
    ::testing::Values(RegionCase { "Mainland", kCn, "zh_cn", "Mandarin", 0, 2, 0, 0 },
        RegionCase { "Indonesia", kId, "id_ID", "Indonesian", 1, 0, 2, 35 },
        RegionCase { "NoCountry", std::nullopt, "en_us", "English", 1, 0, 2, 35 },
        RegionCase { "OtherCountry", QStringLiteral("us"), "en_us", "English", 1, 0, 2, 35 },
        RegionCase { "CountryCodeIsCaseSensitive", QStringLiteral("CN"), "en_us", "English", 1, 0, 2, 35 }),
    [](const auto& info) { return std::string(info.param.name); });

class RegionRuleTest : public BackendTestFixture { };

TEST_F(RegionRuleTest, OnlyBothLanguagesChosenStopTheDefaults)
{
    languages.setTypingFromCode(QStringLiteral("vi_VN"));
    utilities.InitializeTypingLanguageBasedOnDeviceIp(kCn);
    EXPECT_EQ(languages.TypingFromCode(), QStringLiteral("zh_cn"));

    languages.setTypingFromCode(QStringLiteral("vi_VN"));
    languages.setIndexTransTo(9);
    utilities.InitializeTypingLanguageBasedOnDeviceIp(kId);
    EXPECT_EQ(languages.TypingFromCode(), QStringLiteral("vi_VN"));
    EXPECT_EQ(languages.indexTransTo(), 9u);
}

} // namespace
