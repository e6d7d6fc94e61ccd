#include "ValidatorLogRecorder.h"
#include "analytics/model/APMEventNames.h"
#include "analytics/model/APMEventParameters.h"
#include "analytics/base/CodePoints.h"
#include "analytics/base/APMValue.h"

#include <gtest/gtest.h>
#include <optional>

namespace {

const QString kEmoji = QString::fromUcs4(U"\U0001F600");

APMValue ruleStr(const QString& s)
{
    return APMValue::initWithValueType(APMValue::String, s);
}

APMValue ruleNum(qint64 v)
{
    return APMValue::initWithInt64(v);
}

QVariant ruleBoxed(const APMValue& value)
{
    return QVariant::fromValue(value);
}

// The error parameters of a dictionary, -1 / null when absent.
qint64 errorCode(const EventParameters& p)
{
    return p.contains(QStringLiteral("_err")) ? p.value(QStringLiteral("_err")).int64Value() : -1;
}

QString errorValue(const EventParameters& p)
{
    return p.value(QStringLiteral("_ev"), APMValue()).stringValue();
}

qint64 errorLength(const EventParameters& p)
{
    return p.contains(QStringLiteral("_el")) ? p.value(QStringLiteral("_el")).int64Value() : -1;
}

QVariantMap item(int id)
{
    return { { QStringLiteral("item_id"), id } };
}

QVariantList items(int count)
{
    QVariantList list;
    for (int i = 0; i < count; ++i)
        list << item(i);
    return list;
}

class NamingRulesTest : public ::testing::Test {
protected:
    ValidatorLogRecorder recorder;
    EventParameterLimits limits;

    EventParameters clean(const QVariantMap& parameters, const QString& eventName, bool checkPublic)
    {
        std::optional<EventParameters> cleaned
            = APMCleanEventParameters(parameters, eventName, checkPublic, false, limits);
        EXPECT_TRUE(cleaned.has_value());
        return cleaned.value_or(EventParameters());
    }
};

TEST_F(NamingRulesTest, NameTables)
{
    EXPECT_EQ(APMPublicToInternalEventNames().size(), 32);
    EXPECT_EQ(APMPublicToInternalParameterNames().size(), 54);
    EXPECT_EQ(APMEventErrorCodeNames().size(), 25);
    EXPECT_EQ(APMPublicToInternalEventNames().value(QStringLiteral("screen_view")), QStringLiteral("_vs"));
    EXPECT_EQ(APMPublicToInternalEventNames().value(QStringLiteral("first_open")), QStringLiteral("_f"));
    EXPECT_EQ(APMInternalToPublicEventNames().value(QStringLiteral("_vs")), QStringLiteral("screen_view"));
    EXPECT_EQ(APMInternalToPublicEventNames().value(QStringLiteral("_cmp")), QStringLiteral("va_campaign"));
    EXPECT_EQ(APMInternalToPublicEventNames().size(), 31); // "_cmp" has two public names
    EXPECT_EQ(APMPublicEventsConvertedToInternal(),
        (QMap<QString, QString> { { QStringLiteral("ad_impression"), QStringLiteral("_ai") } }));
    EXPECT_EQ(APMEventErrorCodeNames().value(28), QStringLiteral("ItemScopedCustomParameterLimitReached"));
    EXPECT_FALSE(APMEventErrorCodeNames().contains(24));
    for (const auto* table : { &APMPublicToInternalEventNames(), &APMPublicToInternalParameterNames() }) {
        for (auto it = table->cbegin(); it != table->cend(); ++it) {
            EXPECT_TRUE(APMIsPublicName(it.key())) << qPrintable(it.key());
            EXPECT_FALSE(APMIsPublicName(it.value())) << qPrintable(it.value());
        }
    }
}

TEST_F(NamingRulesTest, NameFamilies)
{
    EXPECT_FALSE(APMIsPublicName(QString()));
    EXPECT_TRUE(APMIsPublicName(QStringLiteral("x_")));
    EXPECT_FALSE(APMIsPublicName(QStringLiteral("_x")));
    EXPECT_TRUE(APMIsNotErrorEventName(QStringLiteral("error")));
    EXPECT_FALSE(APMIsNotErrorEventName(QStringLiteral("_err")));
    EXPECT_TRUE(APMIsItemArrayEvent(QStringLiteral("view_search_results")));
    EXPECT_FALSE(APMIsItemArrayEvent(QStringLiteral("Purchase")));
    EXPECT_TRUE(APMIsItemParameterName(QStringLiteral("item_category5")));
    EXPECT_FALSE(APMIsItemParameterName(QStringLiteral("item_category6")));
    EXPECT_TRUE(APMIsPurchaseRelatedEvent(QStringLiteral("_f")));
    EXPECT_FALSE(APMIsPurchaseRelatedEvent(QStringLiteral("first_open")));

    const QVariantMap screen { { QStringLiteral("_sc"), QStringLiteral("Main") },
        { QStringLiteral("x"), 1 } };
    EXPECT_TRUE(APMHasScreenParameters(screen));
    EXPECT_EQ(APMScreenParametersFromParameters(screen),
        (QVariantMap { { QStringLiteral("_sc"), QStringLiteral("Main") } }));
    EXPECT_FALSE(APMHasScreenParameters(EventParameters { { QStringLiteral("_s"), ruleNum(1) } }));
    EXPECT_TRUE(APMHasArrayParameter(QVariantMap { { QStringLiteral("items"), items(1) } }));
    EXPECT_FALSE(APMHasArrayParameter(QVariantMap { { QStringLiteral("x"), QStringLiteral("[]") } }));
}

TEST_F(NamingRulesTest, TrimmingCountsCodePoints)
{
    const QString letters40 = QString(40, QLatin1Char('n'));
    const struct {
        const char* what;
        QVariant value;
        QVariant lengthSource;
        QString expectedText;
        qint64 expectedLength;
    } rows[] = {
        { "40 letters stay whole", letters40, QVariant(), letters40, -1 },
        { "41 letters are cut", letters40 + QLatin1Char('x'), letters40 + QLatin1Char('x'),
            letters40 + QStringLiteral("..."), 41 },
        { "41 emoji are cut between code points", kEmoji.repeated(41), kEmoji.repeated(41),
            kEmoji.repeated(40) + QStringLiteral("..."), 41 },
        { "nil", QVariant(), QVariant(), QStringLiteral("(nil)"), -1 },
        { "not a string", 42, QVariant(), QStringLiteral("int"), -1 },
        { "length of a list", QStringLiteral("items"), QVariantList { 1, 2, 3 }, QStringLiteral("items"), 3 },
        { "length of a value", QStringLiteral("p"), ruleBoxed(ruleStr(kEmoji.repeated(3))), QStringLiteral("p"), 3 },
        { "no length for a number", QStringLiteral("p"), 7, QStringLiteral("p"), 0 },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EventParameters p;
        trimStringToLength(p, row.value, 40, row.lengthSource);
        EXPECT_EQ(errorValue(p), row.expectedText);
        EXPECT_EQ(errorLength(p), row.expectedLength);
    }
    EventParameters recorded { { QStringLiteral("_el"), ruleNum(5) } };
    trimStringToLength(recorded, QStringLiteral("late"), 40, QStringLiteral("late"));
    EXPECT_FALSE(recorded.contains(QStringLiteral("_ev")));
    EXPECT_EQ(errorLength(recorded), 5);
}

TEST_F(NamingRulesTest, ParameterNameRules)
{
    const QString n40 = QString(40, QLatin1Char('p'));
    const struct {
        QString name;
        bool checkPublic;
        bool valid;
        qint64 error;
        QString errorText;
        qint64 errorLen;
    } rows[] = {
        { QStringLiteral("value"), true, true, -1, QString(), -1 },
        { n40, true, true, -1, QString(), -1 },
        { n40 + QLatin1Char('p'), true, false, APMEventErrorCodeInvalidParameterName,
            n40 + QStringLiteral("..."), 41 },
        { QStringLiteral("1x"), true, false, APMEventErrorCodeInvalidParameterName, QStringLiteral("1x"),
            -1 },
        { QStringLiteral("_o"), true, false, APMEventErrorCodeInvalidParameterName, QStringLiteral("_o"),
            -1 },
        { QStringLiteral("_o"), false, true, -1, QString(), -1 },
        { QStringLiteral("va_x"), true, false, APMEventErrorCodeParameterNameIsReserved,
            QStringLiteral("va_x"), -1 },
        { QStringLiteral("va_x"), false, true, -1, QString(), -1 },
        { QString(), false, false, APMEventErrorCodeInvalidParameterName, QString(), -1 },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(qPrintable(row.name));
        EventParameters errors;
        EXPECT_EQ(APMIsValidParameterName(row.name, row.checkPublic, &errors), row.valid);
        EXPECT_EQ(errorCode(errors), row.error);
        EXPECT_EQ(errorValue(errors), row.errorText);
        EXPECT_EQ(errorLength(errors), row.errorLen);
    }
    EventParameters earlier { { QStringLiteral("_err"), ruleNum(APMEventErrorCodeValueIsNotNumeric) } };
    EXPECT_FALSE(APMIsValidParameterName(QStringLiteral("a-b"), true, &earlier));
    EXPECT_EQ(earlier.size(), 1);
    EXPECT_EQ(errorCode(earlier), APMEventErrorCodeValueIsNotNumeric);
}

TEST_F(NamingRulesTest, CleaningConvertsValues)
{
    const EventParameters p
        = clean({ { QStringLiteral("s"), QStringLiteral("text") }, { QStringLiteral("i"), 7 },
                    { QStringLiteral("d"), 7.0 }, { QStringLiteral("b"), true },
                    { QStringLiteral("v"), ruleBoxed(ruleStr(QStringLiteral("kept"))) } },
            QStringLiteral("tap"), true);
    EXPECT_EQ(p.size(), 5);
    EXPECT_EQ(p.value(QStringLiteral("s")), ruleStr(QStringLiteral("text")));
    EXPECT_EQ(p.value(QStringLiteral("i")), ruleNum(7));
    EXPECT_EQ(p.value(QStringLiteral("d")), APMValue::initWithDouble(7.0));
    EXPECT_EQ(p.value(QStringLiteral("b")), ruleNum(1));
    EXPECT_EQ(p.value(QStringLiteral("v")), ruleStr(QStringLiteral("kept")));
    EXPECT_FALSE(APMCleanEventParameters({}, QStringLiteral("tap"), true, false, limits).has_value());
}

TEST_F(NamingRulesTest, FirstViolationInKeyOrderIsRecorded)
{
    // Every key is invalid: only the error parameters remain, and they
    // describe the key that sorts first, however the dictionary was built.
    QVariantMap parameters;
    parameters.insert(QStringLiteral("z-z"), 1);
    parameters.insert(QStringLiteral("b-b"), 2);
    parameters.insert(QStringLiteral("basalt_x"), 3);
    const EventParameters p = clean(parameters, QStringLiteral("tap"), true);
    EXPECT_EQ(p.size(), 2);
    EXPECT_EQ(errorCode(p), APMEventErrorCodeInvalidParameterName);
    EXPECT_EQ(errorValue(p), QStringLiteral("b-b"));

    const EventParameters reserved = clean(
        { { QStringLiteral("basalt_x"), 3 }, { QStringLiteral("c-c"), 1 } }, QStringLiteral("tap"), true);
    EXPECT_EQ(errorCode(reserved), APMEventErrorCodeParameterNameIsReserved);
    EXPECT_EQ(errorValue(reserved), QStringLiteral("basalt_x"));
}

TEST_F(NamingRulesTest, CleaningKeepsAnExistingError)
{
    const EventParameters p
        = clean({ { QStringLiteral("_err"), 13 }, { QStringLiteral("_ev"), QStringLiteral("older") },
                    { QStringLiteral("bad-name"), 1 }, { QStringLiteral("fine"), 2 } },
            QStringLiteral("_err"), false);
    EXPECT_EQ(errorCode(p), 13);
    EXPECT_EQ(errorValue(p), QStringLiteral("older"));
    EXPECT_FALSE(p.contains(QStringLiteral("bad-name")));
    EXPECT_EQ(p.value(QStringLiteral("fine")), ruleNum(2));
}

TEST_F(NamingRulesTest, TooLongValuesAreDroppedAndDescribed)
{
    const struct {
        const char* what;
        QVariant value;
        bool dropped;
        qint64 length;
    } rows[] = {
        { "100 emoji", kEmoji.repeated(100), false, -1 },
        { "101 emoji", kEmoji.repeated(101), true, 101 },
        { "101 letters as a value", ruleBoxed(ruleStr(QString(101, QLatin1Char('x')))), true, 101 },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const EventParameters p = clean({ { QStringLiteral("note"), row.value }, { QStringLiteral("n"), 1 } },
            QStringLiteral("tap"), true);
        EXPECT_EQ(p.contains(QStringLiteral("note")), !row.dropped);
        EXPECT_EQ(p.value(QStringLiteral("n")), ruleNum(1));
        EXPECT_EQ(errorCode(p), row.dropped ? qint64(APMEventErrorCodeInvalidParameterValue) : -1);
        EXPECT_EQ(errorValue(p), row.dropped ? QStringLiteral("note") : QString());
        EXPECT_EQ(errorLength(p), row.length);
    }
}

TEST_F(NamingRulesTest, UnsupportedValuesAreDropped)
{
    recorder.clear();
    const EventParameters p = clean(
        { { QStringLiteral("map"), QVariantMap { { QStringLiteral("a"), 1 } } }, { QStringLiteral("n"), 1 } },
        QStringLiteral("tap"), true);
    EXPECT_EQ(p, (EventParameters { { QStringLiteral("n"), ruleNum(1) } }));
    EXPECT_TRUE(recorder.has(APMMonitor::kLevelWarning, 18015));
}

TEST_F(NamingRulesTest, ErrorValueStaysTrimmed)
{
    // The error event's own "_ev" is cut to the internal limit, whether it
    // arrives as text or as a value, and "_el" keeps the full length.
    const QString longText = QString(300, QLatin1Char('e'));
    for (const QVariant& value : { QVariant(longText), ruleBoxed(ruleStr(longText)) }) {
        const EventParameters p = clean({ { QStringLiteral("_err"), 4 }, { QStringLiteral("_ev"), value } },
            QStringLiteral("_err"), false);
        EXPECT_EQ(errorValue(p), QString(256, QLatin1Char('e')) + QStringLiteral("..."));
        EXPECT_EQ(errorLength(p), 300);
        EXPECT_EQ(errorCode(p), 4);
    }
    const QString alreadyCut = QString(256, QLatin1Char('e')) + QStringLiteral("...");
    const EventParameters again
        = clean({ { QStringLiteral("_ev"), alreadyCut } }, QStringLiteral("_err"), false);
    EXPECT_EQ(errorValue(again), alreadyCut);
    EXPECT_EQ(errorLength(again), -1);
}

TEST_F(NamingRulesTest, PublicParameterLimit)
{
    const struct {
        const char* what;
        int publicCount;
        bool checkPublic;
        QStringList removed;
    } rows[] = {
        { "25 of 25", 25, true, {} },
        { "27 of 25", 27, true, { QStringLiteral("p25"), QStringLiteral("p26") } },
        { "27 of 25 with internal keys beside", 27, false, { QStringLiteral("p25"), QStringLiteral("p26") } },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        recorder.clear();
        QVariantMap parameters;
        for (int i = 0; i < row.publicCount; ++i)
            parameters.insert(QStringLiteral("p%1").arg(i, 2, 10, QLatin1Char('0')), i);
        if (!row.checkPublic) {
            parameters.insert(QStringLiteral("_sn"), QStringLiteral("Main"));
            parameters.insert(QStringLiteral("_si"), 7);
        }
        const EventParameters p = clean(parameters, QStringLiteral("_vs"), row.checkPublic);
        for (const QString& key : row.removed)
            EXPECT_FALSE(p.contains(key)) << qPrintable(key);
        EXPECT_EQ(APMCountPublicParameters(p, false), std::min(row.publicCount, 25));
        if (!row.checkPublic) {
            EXPECT_TRUE(p.contains(QStringLiteral("_sn")));
            EXPECT_TRUE(p.contains(QStringLiteral("_si")));
        }
        const bool trimmed = !row.removed.isEmpty();
        EXPECT_EQ(errorCode(p), trimmed ? qint64(APMEventErrorCodeParameterLimitReached) : -1);
        EXPECT_EQ(recorder.has(APMMonitor::kLevelErrorMonitored, 18017), trimmed);
    }
}

TEST_F(NamingRulesTest, ItemArrays)
{
    const struct {
        const char* what;
        QString event;
        QString name;
        QVariantList array;
        qint64 keptItems; // -1: the parameter is dropped
        qint64 error;
        QString errorText;
    } rows[] = {
        { "200 items", QStringLiteral("purchase"), QStringLiteral("items"), items(200), 200, -1, QString() },
        { "201 items", QStringLiteral("purchase"), QStringLiteral("items"), items(201), 200,
            APMEventErrorCodeTooManyExtraParamEvents, QStringLiteral("items") },
        { "250 items", QStringLiteral("purchase"), QStringLiteral("items"), items(250), 200,
            APMEventErrorCodeTooManyExtraParamEvents, QStringLiteral("items") },
        { "not an ecommerce event", QStringLiteral("login"), QStringLiteral("items"), items(1), -1,
            APMEventErrorCodeInvalidArrayParamEventName, QStringLiteral("login") },
        { "not named items", QStringLiteral("purchase"), QStringLiteral("products"), items(1), -1,
            APMEventErrorCodeInvalidArrayParamName, QStringLiteral("products") },
        { "an item that is not a dictionary", QStringLiteral("purchase"), QStringLiteral("items"),
            { item(0), QStringLiteral("x"), item(2) }, 2, APMEventErrorCodeInvalidParameterValue,
            QStringLiteral("items[1]") },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const EventParameters p = clean({ { row.name, row.array } }, row.event, true);
        if (row.keptItems < 0)
            EXPECT_FALSE(p.contains(row.name));
        else
            EXPECT_EQ(p.value(row.name).arrayValue().size(), row.keptItems);
        EXPECT_EQ(errorCode(p), row.error);
        EXPECT_EQ(errorValue(p), row.errorText);
    }
}

TEST_F(NamingRulesTest, ItemElementsAreCleaned)
{
    const QVariantMap element { { QStringLiteral("item_id"), QStringLiteral("sku") },
        { QStringLiteral("price"), 9.5 }, { QStringLiteral("colour"), QStringLiteral("red") },
        { QStringLiteral("nested"), items(1) } };
    const auto cleanedElement = [&](const EventParameterLimits& l) {
        const EventParameters p
            = APMCleanEventParameters({ { QStringLiteral("items"), QVariantList { element } } },
                QStringLiteral("purchase"), true, false, l)
                  .value_or(EventParameters());
        const QVariantList list = p.value(QStringLiteral("items")).arrayValue();
        EXPECT_EQ(list.size(), 1);
        EventParameters out;
        const QVariantMap map = list.value(0).toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            out.insert(it.key(), it.value().value<APMValue>());
        return out;
    };

    // A nested array is refused inside the element; the custom parameter stays.
    const EventParameters allowed = cleanedElement(limits);
    EXPECT_FALSE(allowed.contains(QStringLiteral("nested")));
    EXPECT_EQ(allowed.value(QStringLiteral("colour")), ruleStr(QStringLiteral("red")));
    EXPECT_EQ(allowed.value(QStringLiteral("price")), APMValue::initWithDouble(9.5));
    EXPECT_EQ(errorCode(allowed), APMEventErrorCodeInvalidArrayParamNesting);
    EXPECT_EQ(errorValue(allowed), QStringLiteral("nested"));

    // With item-scoped parameters off, the custom parameter goes; the
    // standard item parameters stay.
    EventParameterLimits off = limits;
    off.itemScopedCustomParameterEnabled = false;
    recorder.clear();
    const EventParameters disabled = cleanedElement(off);
    EXPECT_FALSE(disabled.contains(QStringLiteral("colour")));
    EXPECT_TRUE(disabled.contains(QStringLiteral("item_id")));
    EXPECT_TRUE(disabled.contains(QStringLiteral("price")));
    EXPECT_EQ(errorCode(disabled), APMEventErrorCodeInvalidArrayParamNesting); // the first error stays
    EXPECT_TRUE(recorder.has(APMMonitor::kLevelError, 18016));

    QVariantMap crowded;
    for (int i = 0; i < 28; ++i)
        crowded.insert(QStringLiteral("c%1").arg(i, 2, 10, QLatin1Char('0')), i);
    crowded.insert(QStringLiteral("item_id"), 1);
    const EventParameters trimmed
        = APMCleanEventParameters(crowded, QStringLiteral("purchase"), true, true, limits)
              .value_or(EventParameters());
    EXPECT_FALSE(trimmed.contains(QStringLiteral("c27")));
    EXPECT_TRUE(trimmed.contains(QStringLiteral("c26")));
    EXPECT_TRUE(trimmed.contains(QStringLiteral("item_id")));
    EXPECT_EQ(errorCode(trimmed), APMEventErrorCodeItemScopedCustomParameterLimitReached);

    const EventParameters one = APMCleanEventParameters(
        { { QStringLiteral("colour"), QStringLiteral("red") } }, QStringLiteral("purchase"), true, true, off)
                                    .value_or(EventParameters());
    EXPECT_EQ(one,
        (EventParameters { { QStringLiteral("_err"), ruleNum(APMEventErrorCodeCustomParamsInArrayElement) } }));
}

TEST_F(NamingRulesTest, ValueAndCurrency)
{
    const struct {
        const char* what;
        EventParameters parameters;
        bool passes;
        bool keepsValue;
        qint64 error;
        QString errorText;
    } rows[] = {
        { "no value", { { QStringLiteral("x"), ruleNum(1) } }, true, false, -1, QString() },
        { "value and currency",
            { { QStringLiteral("value"), APMValue::initWithDouble(9.99) },
                { QStringLiteral("currency"), ruleStr("EUR") } },
            true, true, -1, QString() },
        { "value without currency", { { QStringLiteral("value"), ruleNum(5) } }, false, false,
            APMEventErrorCodeCurrencyCodeIsMissingOrInvalid, QStringLiteral("currency") },
        { "value with a bad currency",
            { { QStringLiteral("value"), ruleNum(5) }, { QStringLiteral("currency"), ruleStr("E1") } }, false, false,
            APMEventErrorCodeCurrencyCodeIsMissingOrInvalid, QStringLiteral("currency") },
        { "value that is text",
            { { QStringLiteral("value"), ruleStr("5") }, { QStringLiteral("currency"), ruleStr("EUR") } }, false,
            false, APMEventErrorCodeValueIsNotNumeric, QStringLiteral("value") },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EventParameters p = row.parameters;
        EXPECT_EQ(APMCheckValueAndCurrency(p), row.passes);
        EXPECT_EQ(p.contains(QStringLiteral("value")), row.keepsValue);
        EXPECT_EQ(errorCode(p), row.error);
        EXPECT_EQ(errorValue(p), row.errorText);
    }
}

TEST_F(NamingRulesTest, TrimmingToALimitRemovesTheLastPublicKeys)
{
    EventParameters p { { QStringLiteral("a"), ruleNum(1) }, { QStringLiteral("price"), ruleNum(2) },
        { QStringLiteral("z"), ruleNum(3) }, { QStringLiteral("_r"), ruleNum(1) },
        { QStringLiteral("value"), ruleNum(4) } };
    EventParameters itemScoped = p;
    APMTrimPublicParametersToLimit(p, 2);
    EXPECT_EQ(p.keys(), (QStringList { QStringLiteral("_r"), QStringLiteral("a"), QStringLiteral("price") }));
    APMTrimParametersToLimit(itemScoped, 0, true);
    EXPECT_EQ(itemScoped.keys(),
        (QStringList { QStringLiteral("_r"), QStringLiteral("price"), QStringLiteral("value") }));
}

TEST_F(NamingRulesTest, ArrayRefusalsBecomeErrors)
{
    const struct {
        qint64 failureCode;
        qint64 error;
        QString text;
    } rows[] = {
        { 10, APMEventErrorCodeInvalidArrayParamEventName, QStringLiteral("login") },
        { 11, APMEventErrorCodeInvalidArrayParamName, QStringLiteral("things") },
        { 12, APMEventErrorCodeTooManyExtraParamEvents, QStringLiteral("things") },
        { 13, APMEventErrorCodeInvalidArrayParamNesting, QStringLiteral("things") },
        { 2, -1, QString() },
    };
    for (const auto& row : rows) {
        EventParameters p;
        APMSetArrayParameterError(p, row.failureCode, QStringLiteral("things"), QStringLiteral("login"));
        EXPECT_EQ(errorCode(p), row.error) << row.failureCode;
        EXPECT_EQ(errorValue(p), row.text) << row.failureCode;
    }
}

TEST_F(NamingRulesTest, ErrorEvents)
{
    struct Logged {
        QString origin;
        QString name;
        QVariantMap parameters;
    };
    std::vector<Logged> logged;
    const InternalEventLogger logger = [&](const QString& origin, const QString& name, const QVariantMap& p) {
        logged.push_back({ origin, name, p });
    };
    const auto value
        = [&](const QString& key) { return logged.back().parameters.value(key).value<APMValue>(); };

    APMLogErrorEvent(0, logger);
    APMLogErrorEventWithValue(0, QStringLiteral("x"), 40, QStringLiteral("y"), logger);
    EXPECT_TRUE(logged.empty());

    APMLogErrorEvent(APMEventErrorCodeEventLimitReached, logger);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged.back().origin, QStringLiteral("auto"));
    EXPECT_EQ(logged.back().name, QStringLiteral("_err"));
    EXPECT_EQ(logged.back().parameters.size(), 1);
    EXPECT_EQ(value(QStringLiteral("_err")), ruleNum(8));

    const struct {
        qint64 code;
        QVariant value;
        qint64 length; // -1: no "_el"
    } rows[] = {
        { APMEventErrorCodeInvalidParameterValue, QStringLiteral("abc"), 3 },
        { APMEventErrorCodeUserPropertyValueTooLong, ruleBoxed(ruleStr(kEmoji.repeated(37))), 37 },
        { APMEventErrorCodeInvalidUserPropertyName, QStringLiteral("short"), -1 },
        { APMEventErrorCodeInvalidUserPropertyName, QString(41, QLatin1Char('v')), 41 },
        { APMEventErrorCodeInvalidParameterValue, QVariant(), -1 },
    };
    for (const auto& row : rows) {
        APMLogErrorEventWithValue(row.code, kEmoji.repeated(41), 40, row.value, logger);
        EXPECT_EQ(value(QStringLiteral("_err")), ruleNum(row.code));
        EXPECT_EQ(value(QStringLiteral("_ev")).stringValue(), kEmoji.repeated(40) + QStringLiteral("..."));
        if (row.length < 0)
            EXPECT_FALSE(logged.back().parameters.contains(QStringLiteral("_el")));
        else
            EXPECT_EQ(value(QStringLiteral("_el")), ruleNum(row.length));
    }
}

TEST(CodePointsTest, SurrogatePairsAreOneCodePoint)
{
    const QString mixed = QStringLiteral("a") + kEmoji + QStringLiteral("b");
    EXPECT_EQ(CodePoints::length(mixed), 3);
    EXPECT_EQ(CodePoints::left(mixed, 2), QStringLiteral("a") + kEmoji);
    EXPECT_EQ(CodePoints::left(mixed, 0), QString());
    EXPECT_EQ(CodePoints::left(mixed, 10), mixed);
    const QString lone = QString(QChar(0xD800)) + QStringLiteral("x"); // a lone surrogate counts once
    EXPECT_EQ(CodePoints::length(lone), 2);
    EXPECT_EQ(CodePoints::length(kEmoji.left(1)), 1);
}

} // namespace

TEST_F(NamingRulesTest, ValidParameterNamesSortAsAnEnglishReaderWould)
{
    EventParameters errors;
    const QVariantMap parameters {
        { "zeta", 1 }, { "Beta", 2 }, { "alpha", 3 }, { "1bad", 4 }, { "basalt_reserved", 5 }
    };
    // Letters before case: not the code-unit order ("Beta" < "alpha").
    EXPECT_EQ(APMValidParameterNamesSorted(parameters, true, &errors), (QStringList { "alpha", "Beta", "zeta" }));
    EXPECT_TRUE(errors.contains(QStringLiteral("_err")));

    struct Case {
        QString a, b;
        int expected;
    };
    const Case cases[] = {
        { QString(), QStringLiteral("a"), -1 },
        { QStringLiteral("a"), QString(), 1 },
        { QString(), QString(), -1 },
        { QStringLiteral("b"), QStringLiteral("C"), -1 },
        { QStringLiteral("same"), QStringLiteral("same"), 0 },
        { QStringLiteral("item2"), QStringLiteral("item10"), 1 },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(APMCompareNamesEnUS(c.a, c.b), c.expected) << c.a.toStdString() << " vs " << c.b.toStdString();
    }
}
