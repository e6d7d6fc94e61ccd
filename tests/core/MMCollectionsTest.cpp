#include "core/MMCollections.h"

#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace {

const QList<int> kNumbers { 1, 2, 3, 4, 5, 6 };

TEST(MMCollectionsTest, MapKeepsPresentResultsInOrderAndStops)
{
    const QStringList odd = mm_map(kNumbers, [](int n, qsizetype, bool&) -> std::optional<QString> {
        return n % 2 ? std::optional<QString>(QString::number(n * 10)) : std::nullopt;
    });
    EXPECT_EQ(odd, QStringList({ QStringLiteral("10"), QStringLiteral("30"), QStringLiteral("50") }));

    QList<qsizetype> seen;
    const QList<int> firstThree = mm_map(kNumbers, [&seen](int n, qsizetype index, bool& stop) {
        seen.append(index);
        stop = index == 2;
        return std::optional<int>(n);
    });
    EXPECT_EQ(firstThree, QList<int>({ 1, 2, 3 }));
    EXPECT_EQ(seen, QList<qsizetype>({ 0, 1, 2 }));

    const QVariantList mixed { 1, QStringLiteral("a"), QVariant(), 2.5 };
    const QVariantList strings = mm_map(mixed, [](const QVariant& v, qsizetype, bool&) {
        return v.typeId() == QMetaType::QString ? v : QVariant();
    });
    EXPECT_EQ(strings, QVariantList({ QStringLiteral("a") }));
}

TEST(MMCollectionsTest, WhereFiltersInOrderAndStops)
{
    EXPECT_EQ(mm_where(kNumbers, [](int n, qsizetype, bool&) { return n > 3; }), QList<int>({ 4, 5, 6 }));
    EXPECT_EQ(mm_where(kNumbers,
                  [](int n, qsizetype index, bool& stop) {
                      stop = index == 3;
                      return n % 2 == 0;
                  }),
        QList<int>({ 2, 4 }));
    EXPECT_TRUE(mm_where(QList<int>(), [](int, qsizetype, bool&) { return true; }).isEmpty());
}

TEST(MMCollectionsTest, FindReturnsTheCallbacksValueNotTheElement)
{
    int calls = 0;
    const std::optional<QString> found = mm_find(
        kNumbers, [&calls](int n, qsizetype, bool&) -> std::optional<QString> {
            ++calls;
            return n * n > 10 ? std::optional<QString>(QStringLiteral("square %1").arg(n * n)) : std::nullopt;
        });
    EXPECT_EQ(found, QStringLiteral("square 16"));
    EXPECT_EQ(calls, 4);

    EXPECT_FALSE(mm_find(kNumbers, [](int, qsizetype, bool&) { return std::optional<int>(); }));
    EXPECT_FALSE(mm_find(kNumbers, [](int n, qsizetype, bool& stop) {
        stop = true;
        return n == 2 ? std::optional<int>(n) : std::nullopt;
    }));
    const QVariant variant = mm_find(QVariantList { 1, 2 }, [](const QVariant& v, qsizetype, bool&) {
        return v.toInt() == 2 ? QVariant(QStringLiteral("two")) : QVariant();
    });
    EXPECT_EQ(variant, QVariant(QStringLiteral("two")));
}

TEST(MMCollectionsTest, CombineJoinsReturnedLists)
{
    const QList<int> combined = mm_combine(kNumbers, [](int n, qsizetype, bool& stop) {
        stop = n == 4;
        return n % 2 ? QList<int>() : QList<int>({ n, -n });
    });
    EXPECT_EQ(combined, QList<int>({ 2, -2, 4, -4 }));
}

TEST(MMCollectionsTest, IndexDictionaryKeepsTheLastIndex)
{
    const QHash<QString, qsizetype> indexes = mm_objectToIndexDictionary(
        QStringList({ QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("x") }));
    EXPECT_EQ(
        indexes, (QHash<QString, qsizetype> { { QStringLiteral("x"), 2 }, { QStringLiteral("y"), 1 } }));
}

TEST(MMCollectionsTest, ReversedDictionaryNeedsDistinctValues)
{
    const QString a = QStringLiteral("a");
    const QString b = QStringLiteral("b");
    EXPECT_FALSE(mm_reverseKeysAndObjectsDictionary(QHash<QString, int> { { a, 1 }, { b, 1 } }));
    const auto empty = mm_reverseKeysAndObjectsDictionary(QHash<QString, int>());
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->isEmpty());
    const auto reversed = mm_reverseKeysAndObjectsDictionary(QHash<QString, int> { { a, 1 }, { b, 2 } });
    ASSERT_TRUE(reversed);
    EXPECT_EQ(*reversed, (QHash<int, QString> { { 1, a }, { 2, b } }));
}

} // namespace
