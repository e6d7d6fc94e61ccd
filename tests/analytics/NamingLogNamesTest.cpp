#include "ValidatorLogRecorder.h"
#include "analytics/model/APMLogNames.h"
#include "analytics/base/APMClassRegistry.h"
#include "analytics/base/APMValue.h"

#include <gtest/gtest.h>

namespace {

const QString kPublicInterface = QStringLiteral("BASAnalytics");

APMValue logNum(qint64 v)
{
    return APMValue::initWithInt64(v);
}

class NamingLogNamesTest : public ::testing::Test {
protected:
    void SetUp() override { APMClassRegistry::registerClassName(kPublicInterface); }

    void TearDown() override
    {
        monitor.setDebugModeEnabled(false);
        APMClassRegistry::unregisterClassName(kPublicInterface);
    }

    APMMonitor& monitor = ValidatorLogRecorder::useTestHome();
};

TEST_F(NamingLogNamesTest, NamesPrintPlainlyOutsideDebugMode)
{
    monitor.setDebugModeEnabled(false);
    EXPECT_EQ(APMEventNameForLog(QStringLiteral("_vs")), QStringLiteral("_vs"));
    EXPECT_EQ(APMParameterNameForLog(QStringLiteral("_sn")), QStringLiteral("_sn"));
    const EventParameters parameters { { QStringLiteral("_err"), logNum(5) } };
    EXPECT_EQ(APMParametersDescription(parameters), QStringLiteral("{_err = 5; }"));
}

TEST_F(NamingLogNamesTest, InternalNamesShowTheirPublicNamesInDebugMode)
{
    monitor.setDebugModeEnabled(true);
    const struct {
        QString (*function)(const QString&);
        QString name;
        QString printed;
    } rows[] = {
        { APMEventNameForLog, QStringLiteral("_vs"), QStringLiteral("screen_view (_vs)") },
        { APMEventNameForLog, QStringLiteral("_cmp"), QStringLiteral("va_campaign (_cmp)") },
        { APMEventNameForLog, QStringLiteral("_zz"), QStringLiteral("_zz") },
        { APMEventNameForLog, QStringLiteral("screen_view"), QStringLiteral("screen_view") },
        { APMEventNameForLog, QString(), QString() },
        { APMParameterNameForLog, QStringLiteral("_sn"), QStringLiteral("va_screen (_sn)") },
        { APMParameterNameForLog, QStringLiteral("_aeid"), QStringLiteral("ad_event_id (_aeid)") },
        { APMUserPropertyNameForLog, QStringLiteral("_id"), QStringLiteral("user_id (_id)") },
        { APMUserPropertyNameForLog, QStringLiteral("_ln"),
            QStringLiteral("basalt_last_notification (_ln)") },
        { APMUserPropertyNameForLog, QStringLiteral("_exp_123"), QStringLiteral("experiment_id (_exp_123)") },
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.function(row.name), row.printed) << qPrintable(row.name);

    // Without the public interface there are no public names to show.
    APMClassRegistry::unregisterClassName(kPublicInterface);
    EXPECT_EQ(APMEventNameForLog(QStringLiteral("_vs")), QStringLiteral("_vs"));
    EXPECT_EQ(APMUserPropertyNameForLog(QStringLiteral("_exp_1")), QStringLiteral("experiment_id (_exp_1)"));
}

TEST_F(NamingLogNamesTest, ParameterDictionariesPrintOneLineEach)
{
    monitor.setDebugModeEnabled(true);
    EXPECT_EQ(APMParametersDescription(EventParameters { { QStringLiteral("_err"), logNum(5) } }),
        QStringLiteral("{\n    va_error (_err) = ParameterLimitReached (5);\n}"));

    const QVariantMap parameters {
        { QStringLiteral("Zeta"), 1 },
        { QStringLiteral("alpha"), QStringLiteral("a") },
        { QStringLiteral("_err"), QVariant::fromValue(logNum(99)) },
        { QStringLiteral("items"),
            QVariant::fromValue(APMValue::initWithValueType(
                APMValue::Array, QVariantList { QVariantMap { { QStringLiteral("item_id"), 7 } } })) },
    };
    EXPECT_EQ(APMParametersDescription(parameters),
        QStringLiteral("{\n"
                       "    alpha = a;\n"
                       "    items = [\n"
                       "    {\n"
                       "        item_id = 7;\n"
                       "    }\n"
                       "    ];\n"
                       "    va_error (_err) = 99;\n"
                       "    Zeta = 1;\n"
                       "}"));
    EXPECT_EQ(APMParametersDescription(QStringLiteral("plain")), QStringLiteral("plain"));
    EXPECT_EQ(APMArrayDescription(QVariantList { 1, 2 }), QStringLiteral("[\n1,\n2\n    ]"));
}

} // namespace
