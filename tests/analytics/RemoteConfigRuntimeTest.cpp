// What the remote configuration uses of the rules runtime: program loading
// with its structural check, modules made once per runtime, and the logger
// module's levels.

#include "RemoteConfigTestSupport.h"
#include "ValidatorLogRecorder.h"
#include "analytics/base/APMError.h"
#include "analytics/rules/APMPEventEditing.h"
#include "analytics/rules/APMPKeyValueStore.h"
#include "analytics/rules/APMPLoggerDelegate.h"
#include "analytics/rules/APMPMessageLogger.h"
#include "analytics/rules/APMPObjectProvider.h"
#include "analytics/rules/APMPRuntime.h"
#include "analytics/rules/APMPixieLogger.h"

#include <gtest/gtest.h>

using namespace rcfg;

namespace {

std::vector<std::unique_ptr<APMPBRuntimeEntity>> args(std::unique_ptr<APMPBRuntimeEntity> a)
{
    std::vector<std::unique_ptr<APMPBRuntimeEntity>> list;
    list.push_back(std::move(a));
    return list;
}

TEST(RulesRuntime, ProgramsAreCheckedAsTheInterpreterReadsThem)
{
    const QString runtime = APMPRuntime::kErrorDomain;
    const QString editing = APMPEventEditing::kEditingErrorDomain;
    struct Row {
        const char* what;
        std::function<std::unique_ptr<APMPBProgram>()> make;
        QString domain; // empty: loads
        qint64 code;
    };
    const std::vector<Row> rows = {
        { "declarations and an activity", [] { return goodProgram(); }, QString(), 0 },
        { "literals without values", [] { return program(entity(4, QStringLiteral("f"), args(entity(2)))); },
            QString(), 0 },
        { "an empty program", [] { return message<APMPBProgram>(); }, QString(), 0 },
        { "entity without a type",
            [] {
                auto e = message<APMPBRuntimeEntity>();
                APMPBSetStringField(e.get(), 2, QStringLiteral("f"));
                return program(std::move(e));
            },
            runtime, 12 },
        { "unknown entity type", [] { return program(entity(5)); }, runtime, 12 },
        { "statement without a function name", [] { return program(entity(4)); }, runtime, 14 },
        { "statement with an empty function name", [] { return program(entity(4, QStringLiteral(""))); },
            runtime, 14 },
        { "bad argument deep down",
            [] {
                return program(entity(4, QStringLiteral("a"),
                    args(entity(
                        4, QStringLiteral("b"), args(entity(4, QStringLiteral("c"), args(entity(0))))))));
            },
            runtime, 12 },
        { "activity without a name",
            [] { return program(entity(1), QStringLiteral(""), entity(4, QStringLiteral("8"))); }, editing,
            7 },
        { "activity data that is not a statement or literal",
            [] { return program(entity(1), QStringLiteral("onEvent"), entity(4)); }, runtime, 14 },
    };
    for (const Row& row : rows) {
        APMPEventEditing runner;
        APMError error;
        const auto p = row.make();
        EXPECT_EQ(runner.loadProgram(*p, &error), row.domain.isEmpty()) << row.what;
        EXPECT_EQ(error.domain(), row.domain) << row.what;
        EXPECT_EQ(error.code(), row.code) << row.what;
        EXPECT_EQ(runner.loadProgram(*p, nullptr), row.domain.isEmpty()) << row.what;
    }
}

TEST(RulesRuntime, ModulesAreMadeOncePerRuntime)
{
    APMPRuntime runtime;
    int made = 0;
    runtime.setModuleCreator(
        [&made]() -> std::shared_ptr<APMPRuntimeValue> {
            ++made;
            return std::make_shared<APMPObjectProvider>(QStringLiteral("m"), [] { return QVariant(1); });
        },
        QStringLiteral("m"));
    APMError error;
    const auto first = runtime.require(QStringLiteral("m"), &error);
    ASSERT_TRUE(first);
    EXPECT_EQ(runtime.require(QStringLiteral("m"), &error), first);
    EXPECT_EQ(made, 1);

    // A name first required without a creator stays without a module.
    EXPECT_FALSE(runtime.require(QStringLiteral("late"), &error));
    EXPECT_EQ(error.code(), 0);
    runtime.setModuleCreator(
        []() -> std::shared_ptr<APMPRuntimeValue> {
            return std::make_shared<APMPKeyValueStore>(QStringLiteral("late"), nullptr);
        },
        QStringLiteral("late"));
    EXPECT_FALSE(runtime.require(QStringLiteral("late"), &error));

    // A creator that makes nothing is an error, and nothing is kept.
    runtime.setModuleCreator(
        []() -> std::shared_ptr<APMPRuntimeValue> { return nullptr; }, QStringLiteral("bad"));
    EXPECT_FALSE(runtime.require(QStringLiteral("bad"), &error));
    EXPECT_EQ(error.domain(), APMPRuntime::kErrorDomain);
    EXPECT_EQ(error.code(), 15);
    runtime.setModuleCreator(
        []() -> std::shared_ptr<APMPRuntimeValue> {
            return std::make_shared<APMPKeyValueStore>(QStringLiteral("bad"), nullptr);
        },
        QStringLiteral("bad"));
    EXPECT_TRUE(runtime.require(QStringLiteral("bad"), nullptr));
}

TEST(RulesRuntime, LoggerLevels)
{
    struct Row {
        qint64 ruleLevel;
        bool silent;
        bool monitored;
        qint64 monitorLevel;
    };
    const Row rows[] = {
        { 2, true, false, 8 },
        { 3, false, true, 7 },
        { 5, true, false, 5 },
        { 5, false, true, 4 },
        { 5, false, false, 3 },
        { 6, true, false, 2 },
        { 6, false, true, 1 },
        { 6, false, false, 0 },
        { 4, true, true, 6 },
        { 1, false, false, 6 },
        { 99, false, true, 6 },
        { -3, true, true, 6 },
    };
    for (const Row& row : rows) {
        EXPECT_EQ(APMPixieLogger::monitorLevelForRuleLevel(row.ruleLevel, row.silent, row.monitored),
            row.monitorLevel)
            << row.ruleLevel << " " << row.silent << " " << row.monitored;
    }
}

class RecordingLogger final : public APMPLoggerDelegate {
public:
    struct Call {
        qint64 level;
        QString message;
        QStringList context;
        bool silent;
        bool monitored;
    };
    std::vector<Call> calls;
    void logWithLevel(qint64 level, const QString& message, const QStringList& context, bool silent,
        bool monitored) override
    {
        calls.push_back({ level, message, context, silent, monitored });
    }
};

TEST(RulesRuntime, MessageLoggerFunctionsSetTheirFlags)
{
    auto sink = std::make_shared<RecordingLogger>();
    APMPMessageLogger logger(sink);
    EXPECT_EQ(logger.functionName(), QStringLiteral("internal.logger"));
    logger.log(6, QStringLiteral("a"), { QStringLiteral("x") });
    logger.logSilent(6, QStringLiteral("b"));
    logger.logUnmonitored(6, QStringLiteral("c"));
    ASSERT_EQ(sink->calls.size(), 3u);
    EXPECT_FALSE(sink->calls[0].silent);
    EXPECT_TRUE(sink->calls[0].monitored);
    EXPECT_EQ(sink->calls[0].context, QStringList { QStringLiteral("x") });
    EXPECT_TRUE(sink->calls[1].silent);
    EXPECT_TRUE(sink->calls[1].monitored);
    EXPECT_FALSE(sink->calls[2].silent);
    EXPECT_FALSE(sink->calls[2].monitored);
}

TEST(RulesRuntime, PixieLoggerWritesToTheEngineMonitor)
{
    ValidatorLogRecorder recorder;
    APMPixieLogger logger;
    logger.logWithLevel(4, QStringLiteral("rule says hello"), { QStringLiteral("ctx") }, false, true);
    logger.logWithLevel(6, QStringLiteral("rule failed"), {}, false, false);
    EXPECT_TRUE(recorder.has(6, 24005));
    EXPECT_TRUE(recorder.has(0, 24005));
    bool found = false;
    for (const RecordedLine& line : recorder.lines())
        found = found || line.message.contains(QStringLiteral("rule says hello: ctx"));
    EXPECT_TRUE(found);
}

} // namespace
