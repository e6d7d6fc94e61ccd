#include "analytics/base/VULLogger.h"
#include "analytics/base/APMValue.h"

#include <QCoreApplication>
#include <QHash>
#include <QMutex>
#include <QPoint>
#include <QSet>
#include <QStringList>

#include <chrono>
#include <gtest/gtest.h>
#include <limits>
#include <thread>
#include <vector>

namespace {

// Collects the message codes the process-wide monitor prints; its console
// lines are written on its own queue, so waiting is by polling.
class CodeCapture {
public:
    CodeCapture()
    {
        VULLogger::shared().setSink([this](int, const QString&, const QString& code, const QString&) {
            QMutexLocker lock(&mutex_);
            codes_ << code;
        });
    }
    ~CodeCapture() { VULLogger::shared().setSink({}); }

    void clear()
    {
        QMutexLocker lock(&mutex_);
        codes_.clear();
    }

    bool waitFor(const QString& code)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            {
                QMutexLocker lock(&mutex_);
                if (codes_.contains(code))
                    return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

private:
    QMutex mutex_;
    QStringList codes_;
};

struct KindCase {
    const char* name;
    QVariant object;
    APMValue::ValueType type;
    double doubleValue;
    qint64 int64Value;
};

TEST(Value, NumbersKeepTheirKind)
{
    const std::vector<KindCase> cases = {
        { "int 7", QVariant(7), APMValue::Int64, 0.0, 7 },
        { "real 7.0", QVariant(7.0), APMValue::Double, 7.0, 0 },
        { "float", QVariant(1.5f), APMValue::Double, 1.5, 0 },
        { "true", QVariant(true), APMValue::Int64, 0.0, 1 },
        { "false", QVariant(false), APMValue::Int64, 0.0, 0 },
        { "int64 max", QVariant::fromValue(std::numeric_limits<qint64>::max()), APMValue::Int64, 0.0,
            std::numeric_limits<qint64>::max() },
        { "unsigned", QVariant(42u), APMValue::Int64, 0.0, 42 },
        { "char", QVariant::fromValue(char(65)), APMValue::Int64, 0.0, 65 },
    };
    for (const KindCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<APMValue> v = APMValue::valueFromObject(c.object);
        ASSERT_TRUE(v);
        EXPECT_EQ(v->valueType(), c.type);
        EXPECT_EQ(v->isInt64(), c.type == APMValue::Int64);
        EXPECT_EQ(v->isDouble(), c.type == APMValue::Double);
        EXPECT_EQ(v->doubleValue(), c.doubleValue); // no conversion between types
        EXPECT_EQ(v->int64Value(), c.int64Value);
        EXPECT_TRUE(v->stringValue().isNull());
        EXPECT_TRUE(v->arrayValue().isEmpty());
    }
}

TEST(Value, StringsAndArrays)
{
    const std::optional<APMValue> s = APMValue::valueFromObject(QStringLiteral("abc"));
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->isString());
    EXPECT_EQ(s->stringValue(), QStringLiteral("abc"));
    EXPECT_EQ(s->description(), QStringLiteral("abc"));
    EXPECT_EQ(s->int64Value(), 0);

    QVariantList list { 1, QStringLiteral("x") };
    const std::optional<APMValue> a = APMValue::valueFromObject(list, true);
    ASSERT_TRUE(a);
    EXPECT_TRUE(a->isArray());
    list.append(2); // the value keeps what it was made from
    EXPECT_EQ(a->arrayValue(), (QVariantList { 1, QStringLiteral("x") }));
    EXPECT_EQ(a->description(), QStringLiteral("(1, x)"));

    const std::optional<APMValue> fromStringList
        = APMValue::valueFromObject(QStringList { QStringLiteral("a"), QStringLiteral("b") }, true);
    ASSERT_TRUE(fromStringList);
    EXPECT_EQ(fromStringList->arrayValue(), (QVariantList { QStringLiteral("a"), QStringLiteral("b") }));
}

TEST(Value, ExistingValueIsAnsweredAsItIs)
{
    const APMValue original = APMValue::initWithDouble(2.5);
    const std::optional<APMValue> again = APMValue::valueFromObject(QVariant::fromValue(original));
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, original);
    EXPECT_EQ(again->valueType(), APMValue::Double);
    // Even an array value passes when arrays are not allowed: it was checked when made.
    const APMValue array = *APMValue::initWithArray(QVariantList { 1 });
    EXPECT_TRUE(APMValue::valueFromObject(QVariant::fromValue(array)));
}

struct RefusedCase {
    const char* name;
    QVariant object;
    bool allowArray;
    const char* code;
};

TEST(Value, UnsupportedObjectsAreRefusedWithTheirCode)
{
    CodeCapture capture;
    const std::vector<RefusedCase> cases = {
        { "nil", QVariant(), true, "I-ACS035000" },
        { "array not allowed", QVariantList { 1 }, false, "I-ACS035001" },
        { "dictionary", QVariantMap { { QStringLiteral("k"), 1 } }, true, "I-ACS035001" },
        { "other kind", QVariant::fromValue(QPoint(1, 2)), true, "I-ACS035001" },
        { "bytes", QByteArray("x"), true, "I-ACS035001" },
        { "unsigned past int64", QVariant::fromValue(std::numeric_limits<quint64>::max()), true,
            "I-ACS035001" },
    };
    for (const RefusedCase& c : cases) {
        SCOPED_TRACE(c.name);
        capture.clear();
        EXPECT_FALSE(APMValue::valueFromObject(c.object, c.allowArray));
        EXPECT_TRUE(capture.waitFor(QString::fromLatin1(c.code)));
    }
    EXPECT_FALSE(APMValue::initWithString(QVariant()));
    EXPECT_TRUE(capture.waitFor(QStringLiteral("I-ACS035002")));
    EXPECT_FALSE(APMValue::initWithString(7));
    EXPECT_TRUE(capture.waitFor(QStringLiteral("I-ACS035003")));
    EXPECT_FALSE(APMValue::initWithArray(QVariant()));
    EXPECT_TRUE(capture.waitFor(QStringLiteral("I-ACS035004")));
    EXPECT_FALSE(APMValue::initWithArray(QStringLiteral("x")));
    EXPECT_TRUE(capture.waitFor(QStringLiteral("I-ACS035005")));
}

TEST(Value, EqualityAndHashing)
{
    const APMValue one = APMValue::initWithInt64(1);
    const APMValue oneReal = APMValue::initWithDouble(1.0);
    EXPECT_NE(one, oneReal);
    EXPECT_NE(one.hash(), oneReal.hash());

    const APMValue a1 = *APMValue::initWithString(QStringLiteral("a"));
    const APMValue a2 = *APMValue::valueFromObject(QStringLiteral("a"));
    EXPECT_EQ(a1, a2);
    EXPECT_EQ(a1.hash(), a2.hash());
    EXPECT_NE(a1, *APMValue::initWithString(QStringLiteral("b")));

    const APMValue l1 = *APMValue::initWithArray(QVariantList { 1, QStringLiteral("x") });
    const APMValue l2 = *APMValue::initWithArray(QVariantList { 1, QStringLiteral("x") });
    EXPECT_EQ(l1, l2);
    EXPECT_EQ(l1.hash(), l2.hash());

    QSet<APMValue> set { one, oneReal, a1, a2, l1, l2 };
    EXPECT_EQ(set.size(), 4);
    QHash<APMValue, int> byValue;
    byValue.insert(one, 1);
    EXPECT_EQ(byValue.value(APMValue::initWithInt64(1)), 1);
    EXPECT_FALSE(byValue.contains(oneReal));

    // The designated form stores what it is given, unchecked.
    const APMValue raw = APMValue::initWithValueType(APMValue::String, QVariant(5));
    EXPECT_TRUE(raw.isString());
    EXPECT_TRUE(raw.stringValue().isNull());
}

TEST(Value, DescriptionsOfNumbers)
{
    EXPECT_EQ(APMValue::initWithInt64(42).description(), QStringLiteral("42"));
    EXPECT_EQ(APMValue::initWithDouble(1.5).description(), QStringLiteral("1.5"));
    EXPECT_EQ(APMValue::initWithDouble(0.1).description(), QStringLiteral("0.1"));
}

} // namespace
