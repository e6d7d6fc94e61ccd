#pragma once

// Shared by the property-list tests (XML and binary readers): values both
// use, and an equality that demands the same kinds.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>

namespace plisttest {

constexpr qlonglong kMaxInt = std::numeric_limits<qlonglong>::max();
constexpr qlonglong kMinInt = std::numeric_limits<qlonglong>::min();

inline QDateTime utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
}

inline QByteArray allBytes()
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(char(i));
    return bytes;
}

// Equality that also demands the same kind at every level (QVariant's own
// operator== calls 7 and 7.0 equal), bit-equal reals, and NaN equal to NaN.
inline testing::AssertionResult same(const QVariant& expected, const QVariant& actual, const QString& where = {})
{
    const QString at = where.isEmpty() ? QStringLiteral("top level") : where;
    if (expected.metaType() != actual.metaType())
        return testing::AssertionFailure()
            << qPrintable(at) << ": kind " << expected.typeName() << " expected, got "
            << (actual.isValid() ? actual.typeName() : "nothing");
    switch (expected.metaType().id()) {
    case QMetaType::Double: {
        const double e = expected.toDouble();
        const double a = actual.toDouble();
        if ((std::isnan(e) && std::isnan(a)) || std::memcmp(&e, &a, sizeof e) == 0)
            return testing::AssertionSuccess();
        return testing::AssertionFailure() << qPrintable(at) << ": " << e << " expected, got " << a;
    }
    case QMetaType::QVariantList: {
        const QVariantList e = expected.toList();
        const QVariantList a = actual.toList();
        if (e.size() != a.size())
            return testing::AssertionFailure()
                << qPrintable(at) << ": " << e.size() << " items expected, got " << a.size();
        for (qsizetype i = 0; i < e.size(); ++i) {
            if (auto r = same(e[i], a[i], at + QStringLiteral("[%1]").arg(i)); !r)
                return r;
        }
        return testing::AssertionSuccess();
    }
    case QMetaType::QVariantMap: {
        const QVariantMap e = expected.toMap();
        const QVariantMap a = actual.toMap();
        if (e.keys() != a.keys())
            return testing::AssertionFailure()
                << qPrintable(at) << ": keys " << qPrintable(e.keys().join(u',')) << " expected, got "
                << qPrintable(a.keys().join(u','));
        for (auto it = e.begin(); it != e.end(); ++it) {
            if (auto r = same(it.value(), a.value(it.key()), at + QStringLiteral(".") + it.key()); !r)
                return r;
        }
        return testing::AssertionSuccess();
    }
    default:
        if (expected == actual)
            return testing::AssertionSuccess();
        return testing::AssertionFailure() << qPrintable(at) << ": " << qPrintable(expected.toString())
                                           << " expected, got " << qPrintable(actual.toString());
    }
}

} // namespace plisttest
