// In-app purchase reporting: how a completed purchase is classified from
// the receipt's records (a table), the amounts in micros, product requests
// through the scripted store, the product cache, fingerprints, a purchase
// handed over twice, and the event's road into the engine.
#include "EngineTestFixture.h"
#include "ReceiptTestBuilder.h"

#include "analytics/base/APMAEU.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/reporters/APMInAppPurchaseProductCache.h"
#include "analytics/reporters/APMInAppPurchaseTransactionReporter.h"
#include "fakes/FakeAppStore.h"
#include "fakes/ScopedEnv.h"
#include "fakes/VirtualTime.h"
#include "platform/NullAppStore.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QtEndian>

#include <gtest/gtest.h>

namespace purchase_reporter_test {

using platform::StorePaymentTransaction;
using platform::StoreProduct;
using platform::StoreProductDiscount;
using receipt_test::Record;
using Reporter = APMInAppPurchaseTransactionReporter;

const QString kT1 = QStringLiteral("2024-02-01T10:00:00Z");
const QString kT2 = QStringLiteral("2024-03-01T10:00:00Z");
const QString kT3 = QStringLiteral("2024-04-01T10:00:00Z");

double purchaseSeconds(const QString& text)
{
    return QDateTime::fromString(text, Qt::ISODate).toSecsSinceEpoch();
}

// The de-duplication id computed here, independently: the low 64 bits of
// the MD5 of the text, big-endian.
qint64 purchaseDid(const QString& text)
{
    const QByteArray digest = QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5);
    return qFromBigEndian<qint64>(digest.constData() + 8);
}

StoreProduct purchaseProduct(const QString& id, std::optional<QString> price, const QString& currency,
    std::optional<StoreProductDiscount> intro = std::nullopt)
{
    return StoreProduct { id, price, currency, QStringLiteral("Title ") + id, intro };
}

StorePaymentTransaction purchasedTransaction(
    const QString& product, const QString& tid, const QString& otid, const QString& date, qint64 quantity = 1)
{
    StorePaymentTransaction t;
    t.state = StorePaymentTransaction::State::Purchased;
    t.productIdentifier = product;
    t.quantity = quantity;
    t.transactionIdentifier = tid;
    t.originalTransactionIdentifier = otid;
    t.transactionDate = purchaseSeconds(date);
    return t;
}

struct LoggedPurchase {
    QString origin;
    QString name;
    QVariantMap parameters;
    double timestamp;
};

class PurchaseReporterFixture : public ::testing::Test {
protected:
    PurchaseReporterFixture()
    {
        store_.addProduct(purchaseProduct(QStringLiteral("coins"), QStringLiteral("0.29"), QStringLiteral("USD")));
        store_.addProduct(purchaseProduct(QStringLiteral("gold"), QStringLiteral("4.99"), QStringLiteral("USD")));
        store_.addProduct(purchaseProduct(QStringLiteral("pro"), QStringLiteral("9.99"), QStringLiteral("EUR"),
            StoreProductDiscount { QStringLiteral("2.49"), StoreProductDiscount::PaymentMode::PayAsYouGo }));
        store_.addProduct(purchaseProduct(QStringLiteral("pro.trial"), QStringLiteral("9.99"), QStringLiteral("EUR"),
            StoreProductDiscount { QStringLiteral("0"), StoreProductDiscount::PaymentMode::FreeTrial }));
        store_.addProduct(purchaseProduct(QStringLiteral("pass"), QStringLiteral("19.99"), QStringLiteral("EUR")));
        store_.addProduct(purchaseProduct(QStringLiteral("free"), std::nullopt, QStringLiteral("EUR")));
        store_.addProduct(purchaseProduct(QStringLiteral("nowhere"), QStringLiteral("1.00"), QString()));
        makeReporter();
    }

    void makeReporter(platform::AppStore* store = nullptr)
    {
        Reporter::Environment e;
        e.store = store ? store : &store_;
        e.queue = [this](std::function<void()> task) { time_.async(std::move(task)); };
        e.clock = &time_;
        e.monitor = &APMMeasurement::monitor();
        e.receipt = [this] {
            ++receiptReads_;
            return receipt_;
        };
        e.isSandbox = [this] { return sandbox_; };
        e.logEvent = [this](const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp) {
            logged_.push_back({ origin, name, parameters, timestamp });
        };
        reporter_ = std::make_unique<Reporter>(std::move(e));
    }

    void useRecords(const QList<Record>& records)
    {
        QList<QByteArray> purchases;
        for (const Record& r : records)
            purchases.append(receipt_test::purchase(r));
        receipt_ = receipt_test::receipt(purchases);
    }

    void deliver(const QList<StorePaymentTransaction>& transactions)
    {
        reporter_->paymentQueueUpdatedFilteredTransactions(transactions);
        time_.runPending();
    }

    fakes::VirtualTime time_;
    fakes::FakeAppStore store_;
    std::optional<QByteArray> receipt_;
    int receiptReads_ = 0;
    bool sandbox_ = false;
    std::vector<LoggedPurchase> logged_;
    std::unique_ptr<Reporter> reporter_;
};

// ---- Classification --------------------------------------------------------------

struct ClassificationCase {
    const char* what;
    std::optional<QList<Record>> records; // nothing: no receipt
    bool sandbox;
    StorePaymentTransaction transaction;
    std::optional<QString> event; // nothing: not reported
    QVariantMap parameters;
};

void PrintTo(const ClassificationCase& c, std::ostream* os)
{
    *os << c.what;
}

class PurchaseClassificationTest : public PurchaseReporterFixture,
                                   public ::testing::WithParamInterface<ClassificationCase> {
};

TEST_P(PurchaseClassificationTest, EventNameAndParameters)
{
    const ClassificationCase& c = GetParam();
    if (c.records)
        useRecords(*c.records);
    sandbox_ = c.sandbox;
    deliver({ c.transaction });
    if (!c.event) {
        EXPECT_TRUE(logged_.empty()) << logged_.front().name.toStdString();
        return;
    }
    ASSERT_EQ(logged_.size(), 1u);
    EXPECT_EQ(logged_[0].origin, QStringLiteral("auto"));
    EXPECT_EQ(logged_[0].name, *c.event);
    EXPECT_EQ(logged_[0].parameters, c.parameters);
    EXPECT_DOUBLE_EQ(logged_[0].timestamp, time_.now());
}

QVariantMap base(const QString& product, qint64 price, qint64 quantity, const QString& currency, const QVariantMap& more = {})
{
    QVariantMap map { { QStringLiteral("product_id"), product }, { QStringLiteral("price"), price },
        { QStringLiteral("value"), price * quantity }, { QStringLiteral("quantity"), quantity },
        { QStringLiteral("currency"), currency }, { QStringLiteral("product_name"), QStringLiteral("Title ") + product } };
    map.insert(more);
    return map;
}

Record rec(const QString& product, const QString& tid, const QString& otid, const QString& date, int type,
    std::optional<quint64> web = std::nullopt, std::optional<int> trial = std::nullopt,
    std::optional<int> intro = std::nullopt)
{
    return Record { .productID = product, .transactionID = tid, .originalTransactionID = otid, .purchaseDate = date,
        .type = type, .freeTrial = trial, .introductoryOffer = intro, .webOrderLineItemID = web };
}

const QString kIap = QStringLiteral("_iap");
const QString kIapx = QStringLiteral("_iapx");
const QString kSub = QStringLiteral("subscription");
const QString kDid = QStringLiteral("_did");
const qint64 kPro = 9990000;

INSTANTIATE_TEST_SUITE_P(Receipts, PurchaseClassificationTest,
    ::testing::Values(
        ClassificationCase { "first purchase of a consumable, quantity 3",
            QList { rec("coins", "11", "11", kT2, 1) }, false, purchasedTransaction("coins", "11", "", kT2, 3), kIap,
            base("coins", 290000, 3, "USD", { { kDid, purchaseDid("11coins") } }) },
        ClassificationCase { "first purchase of a non-consumable", QList { rec("gold", "21", "21", kT2, 0) }, false,
            purchasedTransaction("gold", "21", "", kT2), kIap, base("gold", 4990000, 1, "USD", { { kDid, purchaseDid("21gold") } }) },
        ClassificationCase { "no receipt", std::nullopt, false, purchasedTransaction("coins", "11", "", kT2), kIapx,
            base("coins", 290000, 1, "USD") },
        ClassificationCase { "no receipt, sandbox", std::nullopt, true, purchasedTransaction("coins", "11", "", kT2), kIapx,
            base("coins", 290000, 1, "USD", { { QStringLiteral("sandbox"), qint64(1) } }) },
        ClassificationCase { "receipt without the product", QList { rec("gold", "21", "21", kT2, 0) }, false,
            purchasedTransaction("coins", "11", "", kT2), kIapx, base("coins", 290000, 1, "USD") },
        ClassificationCase { "restore of a non-consumable", QList { rec("gold", "21", "21", kT1, 0) }, false,
            purchasedTransaction("gold", "22", "21", kT2), kIapx, base("gold", 4990000, 1, "USD") },
        ClassificationCase { "consumable with mismatched ids", QList { rec("coins", "12", "11", kT2, 1) }, false,
            purchasedTransaction("coins", "12", "11", kT2), kIap, base("coins", 290000, 1, "USD") },
        ClassificationCase { "first period of a subscription", QList { rec("pro", "31", "31", kT1, 3, 501) }, false,
            purchasedTransaction("pro", "31", "", kT1), kIap,
            base("pro", kPro, 1, "EUR", { { kSub, qint64(1) }, { kDid, purchaseDid("31501pro") } }) },
        ClassificationCase { "renewal after a paid period",
            QList { rec("pro", "31", "31", kT1, 3, 501), rec("pro", "32", "31", kT2, 3, 502) }, false,
            purchasedTransaction("pro", "32", "31", kT2), QStringLiteral("_assr"),
            base("pro", kPro, 1, "EUR", { { kDid, purchaseDid("31502pro") } }) },
        ClassificationCase { "renewal after a free trial",
            QList { rec("pro", "31", "31", kT1, 3, 501, 1), rec("pro", "32", "31", kT2, 3, 502) }, false,
            purchasedTransaction("pro", "32", "31", kT2), QStringLiteral("_assc"),
            base("pro", kPro, 1, "EUR", { { kDid, purchaseDid("31502pro") } }) },
        ClassificationCase { "free trial", QList { rec("pro", "31", "31", kT1, 3, 501, 1) }, false,
            purchasedTransaction("pro", "31", "", kT1), kIap,
            base("pro", 0, 1, "EUR",
                { { kSub, qint64(1) }, { kDid, purchaseDid("31501pro") }, { QStringLiteral("free_trial"), qint64(1) },
                    { QStringLiteral("original_price"), kPro }, { QStringLiteral("price_is_discounted"), qint64(1) } }) },
        ClassificationCase { "free trial bought again", QList { rec("pro", "33", "31", kT1, 3, 501, 1) }, false,
            purchasedTransaction("pro", "33", "31", kT1), kIapx,
            base("pro", 0, 1, "EUR",
                { { kDid, purchaseDid("31501pro") }, { QStringLiteral("free_trial"), qint64(1) },
                    { QStringLiteral("original_price"), kPro }, { QStringLiteral("price_is_discounted"), qint64(1) } }) },
        ClassificationCase { "subscription date not in the receipt", QList { rec("pro", "31", "31", kT1, 3) }, false,
            purchasedTransaction("pro", "31", "", kT3), kIapx, base("pro", kPro, 1, "EUR", { { kSub, qint64(1) } }) },
        ClassificationCase { "two records of one date",
            QList { rec("pro", "31", "31", kT1, 3), rec("pro", "32", "31", kT1, 3) }, false,
            purchasedTransaction("pro", "32", "31", kT1), kIapx, base("pro", kPro, 1, "EUR", { { kSub, qint64(1) } }) },
        ClassificationCase { "introductory offer, pay as you go", QList { rec("pro", "31", "31", kT1, 3, 501, 0, 1) },
            false, purchasedTransaction("pro", "31", "", kT1, 2), kIap,
            base("pro", 2490000, 2, "EUR",
                { { kSub, qint64(1) }, { kDid, purchaseDid("31501pro") }, { QStringLiteral("original_price"), kPro },
                    { QStringLiteral("price_is_discounted"), qint64(1) } }) },
        ClassificationCase { "introductory offer that is a free trial",
            QList { rec("pro.trial", "41", "41", kT1, 3, 601, 0, 1) }, false, purchasedTransaction("pro.trial", "41", "", kT1),
            kIap,
            base("pro.trial", 0, 1, "EUR",
                { { kSub, qint64(1) }, { kDid, purchaseDid("41601pro.trial") },
                    { QStringLiteral("original_price"), kPro }, { QStringLiteral("price_is_discounted"), qint64(1) } }) },
        ClassificationCase { "non-renewing subscription", QList { rec("pass", "51", "51", kT1, 2) }, false,
            purchasedTransaction("pass", "51", "", kT1), kIap,
            base("pass", 19990000, 1, "EUR", { { kSub, qint64(1) }, { kDid, purchaseDid("51pass") } }) },
        ClassificationCase { "quantity 0 is not reported", QList { rec("coins", "11", "11", kT2, 1) }, false,
            purchasedTransaction("coins", "11", "", kT2, 0), std::nullopt, {} },
        ClassificationCase { "a product without price is not reported", QList { rec("free", "61", "61", kT2, 1) },
            false, purchasedTransaction("free", "61", "", kT2), std::nullopt, {} },
        ClassificationCase { "a product without currency is not reported",
            QList { rec("nowhere", "71", "71", kT2, 1) }, false, purchasedTransaction("nowhere", "71", "", kT2), std::nullopt,
            {} }),
    [](const ::testing::TestParamInfo<ClassificationCase>& info) { return "case" + std::to_string(info.index); });

// ---- Counted once ------------------------------------------------------------------

class PurchaseReportedOnceTest : public PurchaseReporterFixture {
};

TEST_F(PurchaseReportedOnceTest, ATransactionHandedOverAgainIsSkipped)
{
    useRecords({ rec("coins", "11", "11", kT1, 1), rec("coins", "12", "12", kT2, 1) });
    const StorePaymentTransaction first = purchasedTransaction("coins", "11", "", kT1);
    const StorePaymentTransaction second = purchasedTransaction("coins", "12", "", kT2);
    StorePaymentTransaction restored = purchasedTransaction("gold", "21", "21", kT2);
    restored.state = StorePaymentTransaction::State::Restored;
    StorePaymentTransaction failed = purchasedTransaction("gold", "22", "", kT2);
    failed.state = StorePaymentTransaction::State::Failed;

    // Twice in one batch, beside a restore and a failure that report nothing.
    deliver({ first, first, restored, failed });
    ASSERT_EQ(logged_.size(), 1u);
    // The observer called again with the same and a new transaction.
    deliver({ first, second });
    ASSERT_EQ(logged_.size(), 2u);
    EXPECT_EQ(logged_[1].parameters.value(QStringLiteral("_did")), QVariant(purchaseDid("12coins")));
    // The newer interface reporting one the observer already did.
    reporter_->reportTransactionWithProductID(
        QStringLiteral("coins"), 1, QStringLiteral("12"), QString(), purchaseSeconds(kT2), {}, {}, {});
    time_.runPending();
    EXPECT_EQ(logged_.size(), 2u);
    // The same identifier under another product is another purchase.
    useRecords({ rec("gold", "12", "12", kT2, 0) });
    deliver({ purchasedTransaction("gold", "12", "", kT2) });
    EXPECT_EQ(logged_.size(), 3u);
}

// ---- Product requests ----------------------------------------------------------------

class PurchaseProductRequestTest : public PurchaseReporterFixture {
};

TEST_F(PurchaseProductRequestTest, OnlyMissingProductsAreAskedFor)
{
    useRecords({ rec("coins", "11", "11", kT1, 1), rec("gold", "21", "21", kT1, 0), rec("coins", "12", "12", kT2, 1) });
    deliver({ purchasedTransaction("coins", "11", "", kT1), purchasedTransaction("gold", "21", "", kT1) });
    ASSERT_EQ(store_.requests().size(), 1u);
    EXPECT_EQ(store_.requests()[0], (QSet<QString> { QStringLiteral("coins"), QStringLiteral("gold") }));
    EXPECT_EQ(logged_.size(), 2u);
    deliver({ purchasedTransaction("coins", "12", "", kT2) });
    EXPECT_EQ(store_.requests().size(), 1u) << "a cached product was asked for again";
    EXPECT_EQ(logged_.size(), 3u);
}

TEST_F(PurchaseProductRequestTest, UnknownProductsAndStoreFailuresReportNothing)
{
    useRecords({ rec("ghost", "81", "81", kT1, 1), rec("coins", "11", "11", kT1, 1) });
    // The store calls the product invalid: no product, no event.
    deliver({ purchasedTransaction("ghost", "81", "", kT1) });
    EXPECT_TRUE(logged_.empty());
    // The store fails: nothing reported, and the purchase is not used up.
    store_.failWith(QStringLiteral("network down"));
    deliver({ purchasedTransaction("coins", "11", "", kT1) });
    EXPECT_TRUE(logged_.empty());
    store_.failWith(QString());
    deliver({ purchasedTransaction("coins", "11", "", kT1) });
    EXPECT_EQ(logged_.size(), 1u);
    // The newer interface asks for its one product the same way.
    useRecords({ rec("gold", "21", "21", kT1, 0) });
    reporter_->reportTransactionWithProductID(
        QStringLiteral("gold"), 1, QStringLiteral("21"), QString(), purchaseSeconds(kT1), {}, {}, {});
    time_.runPending();
    ASSERT_EQ(logged_.size(), 2u);
    EXPECT_EQ(logged_[1].name, QStringLiteral("_iap"));
}

TEST_F(PurchaseProductRequestTest, TheNewerInterfaceReadsTheReceiptInItsQueuedWork)
{
    useRecords({ rec("coins", "11", "11", kT1, 1) });
    reporter_->paymentQueueUpdatedFilteredTransactions({}); // nothing to read for
    reporter_->reportTransactionWithProductID(
        QStringLiteral("coins"), 1, QStringLiteral("11"), QString(), purchaseSeconds(kT1), {}, {}, {});
    EXPECT_EQ(receiptReads_, 0) << "the receipt was read on the caller's thread";
    time_.runPending();
    EXPECT_EQ(receiptReads_, 1);
    EXPECT_EQ(logged_.size(), 1u);
}

TEST_F(PurchaseProductRequestTest, WorkStillQueuedWhenTheReporterGoesDoesNothing)
{
    useRecords({ rec("coins", "11", "11", kT1, 1), rec("coins", "12", "12", kT2, 1),
        rec("gold", "21", "21", kT1, 0) });
    deliver({ purchasedTransaction("coins", "11", "", kT1) });
    ASSERT_EQ(logged_.size(), 1u);
    // A cached product, one still to be asked for, and the newer interface.
    reporter_->paymentQueueUpdatedFilteredTransactions({ purchasedTransaction("coins", "12", "", kT2) });
    reporter_->paymentQueueUpdatedFilteredTransactions({ purchasedTransaction("gold", "21", "", kT1) });
    reporter_->reportTransactionWithProductID(
        QStringLiteral("gold"), 1, QStringLiteral("22"), QString(), purchaseSeconds(kT1), {}, {}, {});
    reporter_.reset();
    time_.runPending();
    EXPECT_EQ(logged_.size(), 1u);
}

TEST_F(PurchaseProductRequestTest, WithoutAStoreNothingIsReported)
{
    platform::NullAppStore none;
    makeReporter(&none);
    useRecords({ rec("coins", "11", "11", kT1, 1) });
    deliver({ purchasedTransaction("coins", "11", "", kT1) });
    reporter_->reportTransactionWithProductID(
        QStringLiteral("coins"), 1, QStringLiteral("11"), QString(), purchaseSeconds(kT1), {}, {}, {});
    time_.runPending();
    EXPECT_TRUE(logged_.empty());
}

TEST_F(PurchaseProductRequestTest, TheStoresPaymentQueueFeedsTheReporter)
{
    // What the front end does: observe the queue and hand over the batch.
    store_.setTransactionObserver([this](const QList<StorePaymentTransaction>& transactions) {
        reporter_->paymentQueueUpdatedFilteredTransactions(transactions);
    });
    useRecords({ rec("coins", "11", "11", kT1, 1) });
    store_.holdAnswers(true);
    store_.pushTransactions({ purchasedTransaction("coins", "11", "", kT1) });
    time_.runPending();
    EXPECT_TRUE(logged_.empty()) << "reported before the product details came";
    store_.releaseAnswers();
    time_.runPending();
    EXPECT_EQ(logged_.size(), 1u);
}

// ---- Product cache ---------------------------------------------------------------------

TEST(PurchaseProductCache, AnswersAreKeptWithinTheBound)
{
    fakes::FakeAppStore store;
    QSet<QString> many;
    for (int i = 0; i < 60; ++i) {
        store.addProduct(purchaseProduct(QStringLiteral("p%1").arg(i), QStringLiteral("1"), QStringLiteral("USD")));
        many.insert(QStringLiteral("p%1").arg(i));
    }
    const auto cache = APMInAppPurchaseProductCache::create(store);
    int answers = 0;
    const APMDispatch now = [](std::function<void()> task) { task(); };
    const auto count = [&answers](auto, auto, auto) { ++answers; };
    cache->requestProductsWithProductIdentifiers(many + QSet<QString> { QStringLiteral("x1") }, now, count);
    EXPECT_EQ(cache->validCount(), 60);
    EXPECT_EQ(cache->invalidCount(), 1);
    // An invalid identifier that turns valid moves over.
    store.addProduct(purchaseProduct(QStringLiteral("x1"), QStringLiteral("1"), QStringLiteral("USD")));
    cache->requestProductsWithProductIdentifiers({ QStringLiteral("x1") }, now, count);
    EXPECT_EQ(cache->validCount(), 61);
    EXPECT_EQ(cache->invalidCount(), 0);
    EXPECT_TRUE(cache->cachedProductForProductIdentifier(QStringLiteral("x1")).has_value());

    // Past 100 entries only the latest answer stays.
    QSet<QString> next;
    for (int i = 0; i < 45; ++i)
        next.insert(QStringLiteral("q%1").arg(i));
    for (const QString& id : next)
        store.addProduct(purchaseProduct(id, QStringLiteral("2"), QStringLiteral("USD")));
    cache->requestProductsWithProductIdentifiers(next + QSet<QString> { QStringLiteral("y1") }, now, count);
    EXPECT_EQ(cache->validCount(), 45);
    EXPECT_EQ(cache->invalidCount(), 1);
    EXPECT_FALSE(cache->cachedProductForProductIdentifier(QStringLiteral("p0")).has_value());
    EXPECT_EQ(answers, 3);

    // Nothing without a handler or a queue.
    cache->requestProductsWithProductIdentifiers({ QStringLiteral("p1") }, now, nullptr);
    cache->requestProductsWithProductIdentifiers({ QStringLiteral("p1") }, nullptr, count);
    EXPECT_EQ(store.requests().size(), 3u);
}

TEST(PurchaseProductCache, ACacheGoneBeforeTheAnswerForwardsNothing)
{
    fakes::FakeAppStore store;
    store.addProduct(purchaseProduct(QStringLiteral("coins"), QStringLiteral("1"), QStringLiteral("USD")));
    store.holdAnswers(true);
    bool answered = false;
    auto cache = APMInAppPurchaseProductCache::create(store);
    cache->requestProductsWithProductIdentifiers(
        { QStringLiteral("coins") }, [](std::function<void()> task) { task(); },
        [&answered](auto, auto, auto) { answered = true; });
    cache.reset();
    store.releaseAnswers();
    EXPECT_FALSE(answered);
}

// ---- Pure parts ----------------------------------------------------------------------------

TEST(PurchaseAmounts, MicrosInDecimalArithmetic)
{
    const struct {
        const char* price;
        qint64 quantity;
        std::optional<qint64> micros;
    } cases[] = {
        { "0.29", 1, 290000 }, // 0.29 × 1e6 in binary floating point is 289999.99…
        { "4.99", 3, 14970000 },
        { "0.1", 7, 700000 },
        { "0.333333333", 3, 999999 },
        { "-1.5", 2, -3000000 },
        { "2", -2, -4000000 },
        { "0", 5, 0 },
        { "9223372036854.775807", 1, std::nullopt },
        { "9999999999999", 1000000, std::nullopt },
        { "abc", 1, std::nullopt },
        { "1e3", 1, std::nullopt },
        { "", 1, std::nullopt },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.price);
        EXPECT_EQ(Reporter::purchaseValueInMicros(QString::fromLatin1(c.price), c.quantity), c.micros);
    }
}

TEST(PurchaseDeduplication, IdsAndFingerprints)
{
    EXPECT_EQ(Reporter::purchaseDeduplicationID(QStringLiteral("31"), 501, QStringLiteral("pro")), purchaseDid("31501pro"));
    EXPECT_EQ(Reporter::purchaseDeduplicationID(QStringLiteral("31"), std::nullopt, QStringLiteral("pro")),
        purchaseDid("31pro"));
    EXPECT_EQ(Reporter::purchaseDeduplicationID(QString(), 501, QStringLiteral("pro")), -1);
    EXPECT_EQ(Reporter::purchaseDeduplicationID(QStringLiteral("31"), 501, QString()), -1);

    const auto transaction = [](StorePaymentTransaction::State state, std::optional<QString> id) {
        StorePaymentTransaction t;
        t.state = state;
        t.transactionIdentifier = id;
        return t;
    };
    using S = StorePaymentTransaction::State;
    const struct {
        const char* what;
        StorePaymentTransaction transaction;
        std::optional<QString> fingerprint;
    } cases[] = {
        { "purchased", transaction(S::Purchased, QStringLiteral("1000000011")),
            QString::fromLatin1(QCryptographicHash::hash("1000000011", QCryptographicHash::Md5).toHex()) },
        { "restored", transaction(S::Restored, QStringLiteral("1000000011")), std::nullopt },
        { "no identifier", transaction(S::Purchased, std::nullopt), std::nullopt },
        { "empty identifier", transaction(S::Purchased, QString()), std::nullopt },
        { "zeroes and dashes", transaction(S::Purchased, QStringLiteral("000-0")), std::nullopt },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Reporter::transactionFingerprint(&c.transaction, APMMeasurement::monitor()), c.fingerprint);
    }
    EXPECT_EQ(Reporter::transactionFingerprint(nullptr, APMMeasurement::monitor()), std::nullopt);
}

TEST(PurchaseRecords, MatchingByProductAndDate)
{
    QList<APMInAppPurchaseItem> records;
    const auto add = [&records](const QString& product, const QString& date) {
        APMInAppPurchaseItem item;
        item.setProductID(product);
        item.setPurchaseDateIA5String(date);
        records.append(item);
    };
    add(QStringLiteral("pro"), kT2);
    add(QStringLiteral("pro"), QStringLiteral("2024-02-01T11:00:00+01:00")); // kT1 in another zone
    add(QStringLiteral("coins"), kT1);
    add(QStringLiteral("pro"), QStringLiteral("not a date"));
    const auto dates = [](const std::optional<QList<APMInAppPurchaseItem>>& items) {
        QStringList list;
        for (const APMInAppPurchaseItem& item : items.value_or(QList<APMInAppPurchaseItem>()))
            list.append(item.productID() + QLatin1Char('@') + item.purchaseDateIA5String());
        return list;
    };
    EXPECT_EQ(dates(Reporter::purchaseItemsMatching(records, QStringLiteral("pro"), std::nullopt)),
        (QStringList { "pro@not a date", "pro@2024-02-01T11:00:00+01:00", "pro@" + kT2 }));
    EXPECT_EQ(dates(Reporter::purchaseItemsMatching(records, std::nullopt, purchaseSeconds(kT1))),
        (QStringList { "pro@2024-02-01T11:00:00+01:00", "coins@" + kT1 }));
    EXPECT_EQ(dates(Reporter::purchaseItemsMatching(records, QStringLiteral("coins"), purchaseSeconds(kT1))),
        (QStringList { "coins@" + kT1 }));
    EXPECT_EQ(Reporter::purchaseItemsMatching(records, std::nullopt, std::nullopt), std::nullopt);
    EXPECT_EQ(Reporter::purchaseItemsMatching(std::nullopt, QStringLiteral("pro"), std::nullopt), std::nullopt);
}

// ---- Into the engine -------------------------------------------------------------------------

class PurchaseEngineTest : public engine_test::EngineFixture {
};

TEST_F(PurchaseEngineTest, AReportedPurchaseIsUploadedAndCountsTowardsLifetimeValue)
{
    start();
    fakes::FakeAppStore store;
    store.addProduct(purchaseProduct(QStringLiteral("coins"), QStringLiteral("0.29"), QStringLiteral("USD")));
    Reporter::Environment e;
    e.store = &store;
    e.queue = [this](std::function<void()> task) { time_.async(std::move(task)); };
    e.clock = &time_;
    e.receipt = [] {
        return std::optional<QByteArray>(receipt_test::receipt({ receipt_test::purchase(rec("coins", "11", "11", kT1, 1)) }));
    };
    e.isSandbox = [] { return false; };
    e.logEvent = [this](const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp) {
        engine_->logEventWithOrigin(origin, false, name, parameters, timestamp, true, false, true, nullptr, {});
    };
    Reporter reporter(std::move(e));
    reporter.paymentQueueUpdatedFilteredTransactions({ purchasedTransaction("coins", "11", "", kT1, 2) });
    reporter.paymentQueueUpdatedFilteredTransactions({ purchasedTransaction("coins", "11", "", kT1, 2) });
    time_.runPending();
    drain();
    engine_->dispatchSyncOnWorkerQueue([&] {
        while (engine_->bundleRawEvents()) {
        }
        engine_->uploadData();
    });
    settle();
    const auto events = server_.acceptedEvents();
    QList<fakes::FakeCollectionServer::Event> purchases;
    for (const auto& event : events) {
        if (event.name == QStringLiteral("_iap"))
            purchases.append(event);
    }
    ASSERT_EQ(purchases.size(), 1);
    EXPECT_EQ(purchases[0].parameters.value(QStringLiteral("value")), QVariant(qint64(580000)));
    EXPECT_EQ(purchases[0].parameters.value(QStringLiteral("_did")), QVariant(purchaseDid("11coins")));
    const auto bundles = server_.batches().last().bundles;
    EXPECT_EQ(bundles.last().userProperties.value(QStringLiteral("_ltv_USD")), QVariant(qint64(580000)));
}

TEST_F(PurchaseEngineTest, PurchasesUnderASandboxReceiptAreMarkedWhenBundled)
{
    const QString receiptPath = home_.path() + QStringLiteral("/sandboxReceipt");
    const fakes::ScopedEnv receiptVariable(APMAEU::kReceiptPathVariable, receiptPath);
    start();
    logEvent(QStringLiteral("_iap"),
        { { QStringLiteral("value"), qint64(290000) }, { QStringLiteral("currency"), QStringLiteral("USD") } }, false);
    logEvent(QStringLiteral("tap"));
    engine_->dispatchSyncOnWorkerQueue([&] {
        while (engine_->bundleRawEvents()) {
        }
        engine_->uploadData();
    });
    settle();
    QMap<QString, QVariant> sandboxByName;
    for (const auto& event : server_.acceptedEvents())
        sandboxByName.insert(event.name, event.parameters.value(QStringLiteral("sandbox")));
    EXPECT_EQ(sandboxByName.value(QStringLiteral("_iap")), QVariant(qint64(1)));
    EXPECT_EQ(sandboxByName.value(QStringLiteral("tap")), QVariant());
}

} // namespace purchase_reporter_test
