// The store receipt reader: byte patterns, purchase records and the
// original application version, on receipts built here, including
// truncated and malformed ones that must read as no receipt.
#include "ReceiptTestBuilder.h"

#include "analytics/base/APMAEU.h"
#include "analytics/base/APMHelpers.h"
#include "analytics/base/APMStoreReceipt.h"
#include "fakes/ScopedEnv.h"
#include "fakes/TempHome.h"

#include <QFile>

#include <sys/stat.h>

#include <gtest/gtest.h>

namespace receipt_reader_test {

using namespace receipt_test;
namespace R = APMStoreReceipt;

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

TEST(ReceiptPattern, MatchingAtAnOffset)
{
    // 02 .. 04: the wildcard's byte is the value's length.
    const QByteArray pattern = hex("02ff04");
    const struct {
        const char* what;
        const char* data;
        qsizetype offset;
        std::optional<QByteArray> value;
    } cases[] = {
        { "value after the pattern", "0002020461627a", 1, QByteArray("ab") },
        { "mismatch", "0002020561627a", 1, std::nullopt },
        { "zero length", "0002000461627a", 1, std::nullopt },
        { "length one past the end", "00020304616200", 1, QByteArray("ab\0", 3) },
        { "length runs past the end", "000204046162", 1, std::nullopt },
        { "pattern reaches the end", "00020204", 1, std::nullopt },
        { "negative offset", "02020461627a", -1, std::nullopt },
        { "offset past the end", "02020461627a", 40, std::nullopt },
        { "empty data", "", 0, std::nullopt },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(R::receiptDataMatchingPattern(pattern, hex(c.data), c.offset), c.value);
    }
    EXPECT_EQ(R::receiptDataMatchingPattern(QByteArray(), hex("0102"), 0), std::nullopt);
    // A pattern that captures nothing gives nothing.
    EXPECT_EQ(R::receiptDataMatchingPattern(hex("0102"), hex("010203"), 0), std::nullopt);
    // 128 and above is still one length byte, not a long form.
    const QByteArray longValue = hex("0281") + QByteArray(0x81, 'x') + hex("00");
    EXPECT_EQ(R::receiptDataMatchingPattern(hex("02ff"), longValue, 0), QByteArray(0x81, 'x'));
}

APMInAppPurchaseItem item(const QString& product, const QString& tid, const QString& otid, const QString& date,
    std::optional<int> type)
{
    APMInAppPurchaseItem made;
    made.setProductID(product);
    made.setTransactionID(tid);
    made.setOriginalTransactionID(otid);
    made.setPurchaseDateIA5String(date);
    made.setPurchaseType(type);
    return made;
}

TEST(ReceiptRecords, EveryFieldOfARecord)
{
    const Record full { .productID = QStringLiteral("pro.monthly"),
        .transactionID = QStringLiteral("1000000002"),
        .originalTransactionID = QStringLiteral("1000000001"),
        .purchaseDate = QStringLiteral("2024-03-01T10:00:00Z"),
        .originalPurchaseDate = QStringLiteral("2024-02-01T10:00:00Z"),
        .expirationDate = QStringLiteral("2024-04-01T10:00:00Z"),
        .cancellationDate = QStringLiteral("2024-03-15T10:00:00Z"),
        .type = 3,
        .freeTrial = 1,
        .introductoryOffer = 1,
        .webOrderLineItemID = 0x0102030405060708ull };
    const auto items = R::receiptInAppPurchaseItems(receipt({ purchase(full) }));
    ASSERT_TRUE(items.has_value());
    ASSERT_EQ(items->size(), 1);
    const APMInAppPurchaseItem& got = items->first();
    EXPECT_EQ(got.productID(), QStringLiteral("pro.monthly"));
    EXPECT_EQ(got.transactionID(), QStringLiteral("1000000002"));
    EXPECT_EQ(got.originalTransactionID(), QStringLiteral("1000000001"));
    EXPECT_EQ(got.purchaseDateIA5String(), QStringLiteral("2024-03-01T10:00:00Z"));
    EXPECT_EQ(got.originalPurchaseDateIA5String(), QStringLiteral("2024-02-01T10:00:00Z"));
    EXPECT_EQ(got.subscriptionExpirationDateIA5String(), QStringLiteral("2024-04-01T10:00:00Z"));
    EXPECT_EQ(got.cancellationDateIA5String(), QStringLiteral("2024-03-15T10:00:00Z"));
    EXPECT_EQ(got.purchaseType(), std::optional<int>(3));
    EXPECT_TRUE(got.isFreeTrial());
    EXPECT_TRUE(got.isIntroductoryOffer());
    EXPECT_EQ(got.webOrderLineItemID(), std::optional<quint64>(0x0102030405060708ull));
}

TEST(ReceiptRecords, ReceiptsAsATable)
{
    const QString date = QStringLiteral("2024-03-01T10:00:00Z");
    const Record a { .productID = QStringLiteral("coins"), .transactionID = QStringLiteral("11"),
        .originalTransactionID = QStringLiteral("11"), .purchaseDate = date, .type = 1 };
    const Record b { .productID = QStringLiteral("gold"), .transactionID = QStringLiteral("12"),
        .originalTransactionID = QStringLiteral("12"), .purchaseDate = date, .type = 0 };
    const Record nameless { .transactionID = QStringLiteral("13"), .originalTransactionID = QStringLiteral("13"),
        .purchaseDate = date, .type = 1 };
    const APMInAppPurchaseItem itemA = item(QStringLiteral("coins"), QStringLiteral("11"), QStringLiteral("11"), date, 1);
    const APMInAppPurchaseItem itemB = item(QStringLiteral("gold"), QStringLiteral("12"), QStringLiteral("12"), date, 0);
    const APMInAppPurchaseItem itemNameless = item(QString(), QStringLiteral("13"), QStringLiteral("13"), date, 1);

    const QByteArray two = receipt({ purchase(a), purchase(b) });
    QByteArray indefinite = two;
    // 30 82 hi lo → 30 80 ... 00 00: the same body under an indefinite length.
    indefinite = hex("3080") + two.mid(4) + hex("0000");
    QByteArray longOuter = two;
    longOuter[3] = char(quint8(longOuter[3]) + 1); // declares one byte more than there is

    const struct {
        const char* what;
        QByteArray data;
        std::optional<QList<APMInAppPurchaseItem>> items;
    } cases[] = {
        { "two records in order", two, QList { itemA, itemB } },
        { "indefinite outer length", indefinite, QList { itemA, itemB } },
        { "a record without product is dropped", receipt({ purchase(nameless), purchase(b) }), QList { itemB } },
        { "the last record stays without product", receipt({ purchase(a), purchase(nameless) }),
            QList { itemA, itemNameless } },
        { "a field given twice keeps the first",
            receipt({ purchase(a, attribute(1702, utf8(QStringLiteral("other")))) }), QList { itemA } },
        { "a flag value of 2 is no",
            receipt({ purchase(a, attribute(1713, derInteger(2))) }), QList { itemA } },
        { "no records", receipt({}), QList<APMInAppPurchaseItem> {} },
        { "empty input", QByteArray(), std::nullopt },
        { "truncated by one byte", two.left(two.size() - 1), QList<APMInAppPurchaseItem> {} },
        { "truncated inside the first record", two.left(40), QList<APMInAppPurchaseItem> {} },
        { "outer length past the end", longOuter, QList<APMInAppPurchaseItem> {} },
        { "not a sequence", hex("31") + two.mid(1), QList<APMInAppPurchaseItem> {} },
        { "indefinite without end-of-contents", indefinite.left(indefinite.size() - 2),
            QList<APMInAppPurchaseItem> {} },
        { "a long-form length of five bytes", hex("3085") + two.mid(4), QList<APMInAppPurchaseItem> {} },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(R::receiptInAppPurchaseItems(c.data), c.items);
    }
}

TEST(ReceiptRecords, FieldValuesThatDoNotFit)
{
    // A one-byte length of 0x85 is that length, not a long form: the field
    // 02 02 06 A6 02 01 01 04 87 0C 85 + 133 bytes reads 133 bytes.
    const QByteArray longField = hex("020206a602010104870c85") + QByteArray(0x85, 'p');
    const auto items = R::receiptInAppPurchaseItems(receipt({ purchase(Record {}, longField) }));
    ASSERT_TRUE(items && items->size() == 1);
    EXPECT_EQ(items->first().productID(), QString(0x85, QLatin1Char('p')));
    // The same field cut short inside its value matches nothing.
    const QByteArray cut = hex("020206a602010104870c85") + QByteArray(0x40, 'p');
    const auto short_ = R::receiptInAppPurchaseItems(receipt({ purchase(Record {}, cut) }));
    ASSERT_TRUE(short_ && short_->size() == 1);
    EXPECT_EQ(short_->first().productID(), QString());

    // A web order id of zero is absent; one of nine bytes keeps its last eight.
    const Record zeroWeb { .productID = QStringLiteral("a"), .type = 3, .webOrderLineItemID = 0 };
    const auto zero = R::receiptInAppPurchaseItems(receipt({ purchase(zeroWeb) }));
    ASSERT_TRUE(zero && zero->size() == 1);
    EXPECT_EQ(zero->first().webOrderLineItemID(), std::nullopt);
    const Record bigWeb { .productID = QStringLiteral("a"), .type = 3, .webOrderLineItemID = 0xF000000000000001ull };
    const auto big = R::receiptInAppPurchaseItems(receipt({ purchase(bigWeb) }));
    ASSERT_TRUE(big && big->size() == 1);
    EXPECT_EQ(big->first().webOrderLineItemID(), std::optional<quint64>(0xF000000000000001ull));

    // A type of two bytes is not a type.
    const auto wideType = R::receiptInAppPurchaseItems(
        receipt({ purchase(Record { .productID = QStringLiteral("a") }, attribute(1707, derInteger(300))) }));
    ASSERT_TRUE(wideType && wideType->size() == 1);
    EXPECT_EQ(wideType->first().purchaseType(), std::nullopt);
}

TEST(ReceiptHelpers, LeastSignificantBits)
{
    EXPECT_EQ(apm_64LeastSignificantBits(QByteArray()), 0);
    EXPECT_EQ(apm_64LeastSignificantBits(hex("0102")), 0x0102);
    EXPECT_EQ(apm_64LeastSignificantBits(hex("ff0102030405060708")), 0x0102030405060708);
    EXPECT_EQ(apm_64LeastSignificantBits(hex("ffffffffffffffff")), -1);
}

TEST(ReceiptVersion, OriginalVersionAgainstTheRunningOne)
{
    const struct {
        const char* what;
        QByteArray data;
        QString version;
        bool matches;
    } cases[] = {
        { "same version", receipt({}, QStringLiteral("2.4.1")), QStringLiteral("2.4.1"), true },
        { "other version", receipt({}, QStringLiteral("2.4.0")), QStringLiteral("2.4.1"), false },
        { "no version attribute", receipt({}, QString()), QStringLiteral("1.0"), false },
        { "one-character version", receipt({}, QStringLiteral("7")), QStringLiteral("7"), true },
        { "empty version is too short", receipt({}, QStringLiteral("")), QStringLiteral(""), false },
        { "truncated receipt", receipt({}, QStringLiteral("2.4.1")).chopped(3), QStringLiteral("2.4.1"), false },
        { "empty", QByteArray(), QString(), false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(R::receiptOriginalVersionMatchesVersion(c.data, c.version), c.matches);
    }
}

TEST(ReceiptFile, PathFromTheEnvironment)
{
    fakes::TempHome home;
    fakes::ScopedEnv receiptPath(APMAEU::kReceiptPathVariable, QString());
    EXPECT_EQ(R::readReceipt(), std::nullopt);
    EXPECT_FALSE(APMAEU::isASRS());

    const QString path = home.path() + QStringLiteral("/sandboxReceipt");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(receipt({}));
    file.close();
    receiptPath.set(path);
    EXPECT_EQ(R::readReceipt(), std::optional<QByteArray>(receipt({})));
    EXPECT_TRUE(APMAEU::isASRS());
    receiptPath.set(home.path() + QStringLiteral("/missing"));
    EXPECT_EQ(R::readReceipt(), std::nullopt);
    EXPECT_FALSE(APMAEU::isASRS());
}

// The path comes from the environment: whatever it names must neither hang
// the reader nor be read whole into memory.
TEST(ReceiptFile, OversizedOrSpecialFilesAreNoReceipt)
{
    fakes::TempHome home;
    fakes::ScopedEnv receiptPath(APMAEU::kReceiptPathVariable, QString());

    const QString atCap = home.path() + QStringLiteral("/atCap");
    const QString overCap = home.path() + QStringLiteral("/overCap");
    for (const auto& [path, size] : { std::pair { atCap, qint64(4 * 1024 * 1024) },
             std::pair { overCap, qint64(4 * 1024 * 1024 + 1) } }) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(size)); // sparse
    }
    receiptPath.set(atCap);
    const std::optional<QByteArray> read = R::readReceipt();
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->size(), 4 * 1024 * 1024);
    receiptPath.set(overCap);
    EXPECT_EQ(R::readReceipt(), std::nullopt);

    // A pipe without a writer would block an open or read for ever.
    const QString fifo = home.path() + QStringLiteral("/fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    receiptPath.set(fifo);
    EXPECT_EQ(R::readReceipt(), std::nullopt);
    receiptPath.set(QStringLiteral("/dev/zero"));
    EXPECT_EQ(R::readReceipt(), std::nullopt);
}

} // namespace receipt_reader_test
