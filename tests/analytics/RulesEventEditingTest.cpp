// Event editing: programs from a configuration register edit and create
// callbacks, which change the event being logged and log new events.

#include "RemoteConfigTestSupport.h"
#include "RulesTestRunner.h"
#include "analytics/rules/APMPEditingCallbackHandler.h"
#include "analytics/rules/APMPEventEditing.h"
#include "analytics/rules/APMPKeyValueStore.h"
#include "analytics/rules/APMPLoggerDelegate.h"
#include "analytics/rules/APMPMessageLogger.h"
#include "analytics/rules/APMPObjectManager.h"
#include "analytics/rules/APMPObjectProvider.h"

#include <gtest/gtest.h>

namespace rules_editing_test {

// Binds "reg" to the callback registrar and "log" to the event logger.
const QString kPrelude = QStringLiteral("(const \"reg\" (require \"internal.registerCallback\")"
                                        " \"log\" (require \"internal.eventLogger\"))");

// An edit callback with the given body, at the given priority.
QString editCallback(const QString& body, int priority = 1000)
{
    return QStringLiteral("(reg 0 (fn \"\" (list \"e\") %1) (map \"type\" \"edit\" \"priority\" %2))")
        .arg(body)
        .arg(priority);
}

QString createCallback(const QString& body)
{
    return QStringLiteral("(reg 0 (fn \"\" (list \"e\") %1) (map \"type\" \"create\"))").arg(body);
}

// A facade with the program loaded (the load must succeed).
std::unique_ptr<APMPEventEditing> loaded(const QString& statements, const std::vector<rulesnotation::Activity>& activities = {})
{
    auto editing = std::make_unique<APMPEventEditing>();
    APMError error;
    const bool ok = editing->loadProgram(*rulesnotation::program(kPrelude + statements, activities), &error);
    EXPECT_TRUE(ok) << rulesrunner::showError(error).toStdString() << " loading " << statements.toStdString();
    return editing;
}

QString loadError(const QString& statements, const std::vector<rulesnotation::Activity>& activities = {})
{
    APMPEventEditing editing;
    APMError error;
    if (editing.loadProgram(*rulesnotation::program(kPrelude + statements, activities), &error))
        return QStringLiteral("loaded");
    return rulesrunner::showError(error);
}

APMPEvent purchase()
{
    return APMPEvent(QStringLiteral("purchase"), 1700000000.5,
        { { "value", 9.99 }, { "count", qint64(3) }, { "_x", qint64(3) }, { "currency", "EUR" }, { "order", "" } });
}

TEST(RulesEventEditing, AnEditCallbackChangesTheEvent)
{
    const auto editing = loaded(editCallback("(call $e \"setParamValue\" (array \"currency\" \"USD\"))"
                                             " (call $e \"setEventName\" (array (+ (call $e \"getEventName\" (array)) \"_x\")))"
                                             " (call $e \"setParamValue\" (array \"ts\" (call $e \"getTimestamp\" (array))))"
                                             " 1"));
    APMError error;
    ASSERT_TRUE(editing->handleEvent(purchase(), &error));
    EXPECT_EQ(error.code(), 0);
    EXPECT_TRUE(editing->hasEdits());
    EXPECT_FALSE(editing->hasCreatedEvents());
    const APMPEvent& output = editing->eventContext().outputEvent();
    EXPECT_EQ(output.name(), QStringLiteral("purchase_x"));
    EXPECT_EQ(output.parameterForName("currency"), QVariant("USD"));
    EXPECT_EQ(output.parameterForName("ts").toDouble(), 1700000000.5);
    EXPECT_EQ(output.parameterForName("value"), QVariant(9.99));
    // The input event is untouched.
    EXPECT_EQ(editing->eventContext().inputEvent().name(), QStringLiteral("purchase"));
}

TEST(RulesEventEditing, ACreateCallbackLogsNewEvents)
{
    const auto editing = loaded(createCallback(
        "(log \"made\" 1234.9 (map \"count\" 7.8 \"currency\" 5 \"note\" \"x\" \"gone\" (null) \"list\" (array 1 \"a\")))"));
    APMError error;
    ASSERT_TRUE(editing->handleEvent(purchase(), &error));
    EXPECT_FALSE(editing->hasEdits());
    ASSERT_TRUE(editing->hasCreatedEvents());
    ASSERT_EQ(editing->eventContext().eventsToLog().size(), 1u);
    const APMPEvent& made = editing->eventContext().eventsToLog().front();
    EXPECT_EQ(made.name(), QStringLiteral("made"));
    EXPECT_EQ(made.timestamp(), 1234);
    // Coerced against the input event's parameters of the same names.
    EXPECT_EQ(made.parameterForName("count").metaType().id(), QMetaType::LongLong);
    EXPECT_EQ(made.parameterForName("count").toLongLong(), 7);
    EXPECT_EQ(made.parameterForName("currency"), QVariant("5"));
    EXPECT_EQ(made.parameterForName("note"), QVariant("x"));
    EXPECT_FALSE(made.hasParameterName("gone"));
    EXPECT_EQ(made.parameterForName("list"), QVariant(QVariantList { 1.0, "a" }));

    // The next event starts with no logged events.
    const auto quiet = loaded(createCallback("0"));
    EXPECT_FALSE(quiet->handleEvent(purchase(), &error));
    EXPECT_FALSE(quiet->hasCreatedEvents());
}

TEST(RulesEventEditing, AFailingProgramLeavesTheEventAsItWas)
{
    struct Row {
        const char* what;
        QString program;
        qint64 code;
    };
    const std::vector<Row> rows = {
        { "edit callback", editCallback("(call $e \"setParamValue\" (array \"currency\" \"USD\")) (call (null) \"x\" (array))"),
            7 },
        { "create callback changing the event and logging",
            createCallback("(call $e \"setParamValue\" (array \"currency\" \"USD\")) (log \"a\" 1 (map))"
                           " (call (null) \"x\" (array))"),
            7 },
        { "endless loop", editCallback("(call $e \"setEventName\" (array \"x\")) (while true 0 false (list))"), 18 },
        { "endless recursion", QStringLiteral("(defun \"r\" (list \"e\") (call $e \"setEventName\" (array \"x\")) (r $e))")
                + editCallback("(r $e)"),
            19 },
        { "bad argument", editCallback("(call $e \"setEventName\" (array (null)))"), 10 },
    };
    for (const Row& row : rows) {
        const auto editing = loaded(row.program);
        APMError error;
        EXPECT_FALSE(editing->handleEvent(purchase(), &error)) << row.what;
        EXPECT_EQ(error.domain(), APMPRuntimeError::kDomain) << row.what;
        EXPECT_EQ(error.code(), row.code) << row.what;
        EXPECT_FALSE(editing->hasEdits()) << row.what;
        EXPECT_FALSE(editing->hasCreatedEvents()) << row.what;
        EXPECT_TRUE(editing->eventContext().outputEvent().isEqualToEvent(purchase())) << row.what;
    }

    // A failing edit callback stops the run: later callbacks do not run, and
    // earlier ones keep their changes.
    const auto editing = loaded(editCallback("(call $e \"setParamValue\" (array \"a\" \"1\")) 0", 1)
        + editCallback("(call $e \"setParamValue\" (array \"b\" \"1\")) (break 1)", 2)
        + createCallback("(log \"never\" 0 (map))"));
    APMError error;
    EXPECT_FALSE(editing->handleEvent(purchase(), &error));
    EXPECT_EQ(error.code(), 9);
    EXPECT_TRUE(editing->eventContext().outputEvent().hasParameterName("a"));
    EXPECT_FALSE(editing->eventContext().outputEvent().hasParameterName("b"));
    EXPECT_FALSE(editing->hasCreatedEvents());
}

TEST(RulesEventEditing, AProgramCannotHoardMemoryAcrossEvents)
{
    // Every event keeps three more arrays of 2^20 holes and renames the
    // event. The runtime's element limit ends the run that would pass it,
    // that event is logged as it came, and what the runtime holds stays
    // bounded however many events follow.
    const auto editing = loaded(QStringLiteral("(let \"kept\") (= \"kept\" (array))"
                                               " (defun \"big\" (list) (let \"a\") (= \"a\" (array))"
                                               " (setprop $a \"length\" 1048576) (return $a))")
        + editCallback("(call $e \"setEventName\" (array \"x\")) (call $kept \"push\" (array (big) (big) (big))) 0"));
    const APMPObjectManager& objects = editing->runtime().objectManager();
    int failedEvents = 0;
    for (int event = 0; event < 6; ++event) {
        APMError error;
        const bool edited = editing->handleEvent(purchase(), &error);
        if (error.code() != 0) {
            ++failedEvents;
            EXPECT_EQ(error.code(), APMPRuntimeError::LimitExceeded) << event;
            EXPECT_FALSE(edited) << event;
            EXPECT_TRUE(editing->eventContext().outputEvent().isEqualToEvent(purchase())) << event;
        } else {
            EXPECT_EQ(editing->eventContext().outputEvent().name(), QStringLiteral("x")) << event;
        }
        EXPECT_LE(objects.liveElementCount(), APMPLimits::kMaxLiveElements) << event;
    }
    EXPECT_EQ(failedEvents, 5);
}

TEST(RulesEventEditing, ResultsDecideWhetherAnEditIsKept)
{
    const std::vector<std::pair<const char*, bool>> rows = {
        { "(undefined)", false },
        { "0", true },
        { "1", true },
        { "2", false },
        { "-1", false },
        { "\"1\"", false },
        { "4294967298", false },
        { "4294967297", true },
        { "(return 3)", true },
    };
    for (const auto& [result, kept] : rows) {
        const auto editing = loaded(editCallback(QStringLiteral("(call $e \"setParamValue\" (array \"currency\" \"USD\")) ")
            + QString::fromUtf8(result)));
        APMError error;
        EXPECT_EQ(editing->handleEvent(purchase(), &error), kept) << result;
        EXPECT_EQ(editing->eventContext().outputEvent().parameterForName("currency"), QVariant(kept ? "USD" : "EUR"))
            << result;
    }
}

TEST(RulesEventEditing, CallbacksRunByPriority)
{
    const auto append = [](const char* mark, int priority) {
        return editCallback(QStringLiteral("(call $e \"setParamValue\" (array \"order\" (+ (call $e \"getParamValue\""
                                           " (array \"order\")) \"%1\"))) 0")
                                .arg(QString::fromUtf8(mark)),
            priority);
    };
    const auto editing = loaded(append("a", 5) + append("b", 5) + append("c", 5) + append("d", 10) + append("e", 3)
        + QStringLiteral("(reg 0 (fn \"\" (list \"e\") 0) (map \"type\" \"create\" \"priority\" \"7\"))")
        + QStringLiteral("(reg 0 (fn \"\" (list \"e\") 0) (map \"type\" \"create\"))"));
    EXPECT_EQ(editing->callbackHandler().editPriorities(), (QList<qint64> { 3, 5, 6, 7, 10 }));
    EXPECT_EQ(editing->callbackHandler().createPriorities(), (QList<qint64> { 7, 1000 }));
    APMError error;
    ASSERT_TRUE(editing->handleEvent(purchase(), &error));
    EXPECT_EQ(editing->eventContext().outputEvent().parameterForName("order"), QVariant("eabcd"));
}

TEST(RulesEventEditing, RegistrationChecksItsOptions)
{
    EXPECT_EQ(loadError("(reg 0 (fn \"\" (list) 0) (map \"priority\" 1))"), QStringLiteral("editing error 2"));
    EXPECT_EQ(loadError("(reg 0 (fn \"\" (list) 0) (map \"type\" \"other\"))"), QStringLiteral("editing error 3"));
    EXPECT_EQ(loadError("(reg 0 5 (map \"type\" \"edit\"))"), QStringLiteral("error 10"));
    EXPECT_EQ(loadError("(reg 0 (fn \"\" (list) 0) 5)"), QStringLiteral("error 10"));
    EXPECT_EQ(loadError("(reg 0 (fn \"\" (list) 0))"), QStringLiteral("error 9"));
    const QString many = QStringLiteral("(let \"f\") (= \"f\" (fn \"\" (list \"e\") 0))"
                                        " (for (seq (let \"i\") (= \"i\" 0) (array \"i\")) (< $i %1) (= \"i\" (+ $i 1))"
                                        " (list (reg 0 $f (map \"type\" (? (% $i 2) \"edit\" \"create\") \"priority\" 1))))");
    EXPECT_EQ(loadError(many.arg(1000)), QStringLiteral("loaded"));
    EXPECT_EQ(loadError(many.arg(1001)), QStringLiteral("editing error 4"));
}

TEST(RulesEventEditing, ProgramsLoadActivitiesThroughTheirFunctions)
{
    const QString activityFunction = QStringLiteral(
        "(defun \"onEvent\" (list \"rule\") (reg 0 (fn \"\" (list \"e\") (call $e \"setParamValue\" (array (prop $rule"
        " \"param\") (prop $rule \"value\"))) 0) (map \"type\" \"edit\")))");
    const auto editing = loaded(activityFunction,
        { { "onEvent", "(map \"param\" \"a\" \"value\" \"1\") (map \"param\" \"b\" \"value\" \"2\")" } });
    EXPECT_EQ(editing->callbackHandler().editPriorities().size(), 2);
    APMError error;
    ASSERT_TRUE(editing->handleEvent(purchase(), &error));
    EXPECT_EQ(editing->eventContext().outputEvent().parameterForName("a"), QVariant("1"));
    EXPECT_EQ(editing->eventContext().outputEvent().parameterForName("b"), QVariant("2"));

    EXPECT_EQ(loadError(QString(), { { "unbound", "(map)" } }), QStringLiteral("editing error 7"));
    EXPECT_EQ(loadError(activityFunction, { { "onEvent", "5" } }), QStringLiteral("editing error 6"));
    EXPECT_EQ(loadError(QStringLiteral("(return 1)")), QStringLiteral("editing error 5"));
    EXPECT_EQ(loadError(QStringLiteral("(7 (= \"nope\" 1))")), QStringLiteral("error 2"));
}

TEST(RulesEventEditing, RemovingAParameterIsAnEdit)
{
    const auto editing = loaded(editCallback("(call $e \"setParamValue\" (array \"currency\" (null))) 0"));
    APMError error;
    EXPECT_TRUE(editing->handleEvent(purchase(), &error));
    EXPECT_TRUE(editing->hasEdits());
    EXPECT_FALSE(editing->eventContext().outputEvent().hasParameterName("currency"));
}

TEST(RulesEventEditing, ParameterValuesAreCoercedToTheirKind)
{
    struct Row {
        const char* name;
        const char* value;
        QVariant expected;
    };
    const std::vector<Row> rows = {
        { "_x", "2.5", QVariant(qint64(3)) }, // internal whole numbers keep their value
        { "count", "2.5", QVariant(qint64(2)) }, // public whole numbers take whole numbers
        { "value", "3", QVariant(3.0) }, // floating point stays floating point
        { "currency", "7", QVariant("7") }, // over a text, the number's text
        { "currency", "2.5", QVariant("2.5") },
        { "_err", "2.9", QVariant(qint64(2)) },
        { "new", "4", QVariant(4.0) },
        { "count", "1e300", QVariant(std::numeric_limits<qint64>::max()) }, // saturates
        { "count", "\"x\"", QVariant("x") },
        { "count", "true", QVariant(qint64(1)) },
    };
    for (const Row& row : rows) {
        const auto editing = loaded(editCallback(
            QStringLiteral("(call $e \"setParamValue\" (array \"%1\" %2)) 0").arg(row.name, row.value)));
        APMError error;
        editing->handleEvent(purchase(), &error);
        const QVariant stored = editing->eventContext().outputEvent().parameterForName(row.name);
        EXPECT_EQ(stored, row.expected) << row.name << " " << row.value;
        EXPECT_EQ(stored.metaType().id(), row.expected.metaType().id()) << row.name << " " << row.value;
    }
}

TEST(RulesEventEditing, EventFunctionsReadTheOutputEvent)
{
    const auto editing = loaded(editCallback(
        "(call $e \"setParamValue\" (array \"seen\" (+ (+ (call (call $e \"getParams\" (array)) \"hasOwnProperty\""
        " (array \"_x\")) (typeof (call $e \"getParamValue\" (array \"missing\")))) (call $e \"getParamValue\""
        " (array \"count\")))))"
        " (call $e \"setParamValue\" (array \"arity\" (call $e \"getEventName\" (array 1)))) 0"));
    APMError error;
    EXPECT_FALSE(editing->handleEvent(purchase(), &error));
    EXPECT_EQ(error.code(), 9);
    const auto reading = loaded(editCallback(
        "(call $e \"setParamValue\" (array \"seen\" (+ (+ (call (call $e \"getParams\" (array)) \"hasOwnProperty\""
        " (array \"_x\")) (typeof (call $e \"getParamValue\" (array \"missing\")))) (call $e \"getParamValue\""
        " (array \"count\"))))) 0"));
    ASSERT_TRUE(reading->handleEvent(purchase(), &error));
    EXPECT_EQ(reading->eventContext().outputEvent().parameterForName("seen"), QVariant("trueobject3"));
}

TEST(RulesEventEditing, ManyCreatedEvents)
{
    const auto editing = loaded(createCallback("(for (seq (let \"i\") (= \"i\" 0) (array \"i\")) (< $i 300)"
                                               " (= \"i\" (+ $i 1)) (list (log (+ \"e\" $i) $i (map))))"));
    APMError error;
    ASSERT_TRUE(editing->handleEvent(purchase(), &error));
    EXPECT_TRUE(editing->hasCreatedEvents());
    EXPECT_EQ(editing->eventContext().eventsToLog().size(), 300u);
    EXPECT_EQ(editing->eventContext().eventsToLog().back().name(), QStringLiteral("e299"));
}

class RulesEditingLogRecorder final : public APMPLoggerDelegate {
public:
    struct Line {
        qint64 level;
        QString message;
        QStringList context;
        bool silent;
        bool monitored;
    };
    std::vector<Line> lines;
    void logWithLevel(qint64 level, const QString& message, const QStringList& context, bool silent,
        bool monitored) override
    {
        lines.push_back({ level, message, context, silent, monitored });
    }
};

TEST(RulesEventEditing, HostModules)
{
    auto sink = std::make_shared<RulesEditingLogRecorder>();
    APMPEventEditing editing;
    editing.setModuleCreator(
        [sink]() -> std::shared_ptr<APMPRuntimeValue> { return std::make_shared<APMPMessageLogger>(sink); },
        APMPMessageLogger::kFunctionName);
    editing.setModuleCreator(
        []() -> std::shared_ptr<APMPRuntimeValue> {
            return std::make_shared<APMPKeyValueStore>(QStringLiteral("internal.remoteConfig"),
                [](const QString& key) -> std::optional<QString> {
                    return key == QLatin1String("k") ? std::optional<QString>(QStringLiteral("v")) : std::nullopt;
                });
        },
        QStringLiteral("internal.remoteConfig"));
    editing.setModuleCreator(
        []() -> std::shared_ptr<APMPRuntimeValue> {
            return std::make_shared<APMPObjectProvider>(QStringLiteral("internal.appMetadata"),
                [] { return QVariantMap { { "platform", "macos" } }; });
        },
        QStringLiteral("internal.appMetadata"));
    APMPRuntime& runtime = editing.runtime();
    const QString prelude = QStringLiteral("(const \"logger\" (require \"internal.logger\") \"rc\" (require"
                                           " \"internal.remoteConfig\") \"md\" (require \"internal.appMetadata\"))");
    EXPECT_EQ(rulesrunner::run(runtime, prelude + "(call $logger \"log\" (array \"hello\"))"), QStringLiteral("undefined"));
    rulesrunner::run(runtime, "(call $logger \"log\" (array 6 \"m\"))");
    rulesrunner::run(runtime, "(call (call $logger \"silent\" (array)) \"log\" (array 6 \"s\" \"a\" \"b\" \"c\" \"d\"))");
    rulesrunner::run(runtime, "(call (prop $logger \"unmonitored\") \"log\" (array 6.9 \"u\"))");
    EXPECT_EQ(rulesrunner::run(runtime, "(call $logger \"log\" (array))"), QStringLiteral("error 9"));
    ASSERT_EQ(sink->lines.size(), 4u);
    EXPECT_EQ(sink->lines[0].level, 4);
    EXPECT_EQ(sink->lines[0].message, QStringLiteral("hello"));
    EXPECT_TRUE(sink->lines[0].monitored);
    EXPECT_EQ(sink->lines[1].level, 6);
    EXPECT_TRUE(sink->lines[2].silent);
    EXPECT_EQ(sink->lines[2].context, (QStringList { "a", "b", "c" }));
    EXPECT_EQ(sink->lines[3].level, 6);
    EXPECT_FALSE(sink->lines[3].monitored);
    EXPECT_FALSE(sink->lines[3].silent);

    EXPECT_EQ(rulesrunner::run(runtime, "(call $rc \"getValue\" (array \"k\" 1))"), QStringLiteral("\"v\""));
    EXPECT_EQ(rulesrunner::run(runtime, "(call $rc \"getValue\" (array \"nope\" (map \"d\" 1)))"), QStringLiteral("{d:1}"));
    EXPECT_EQ(rulesrunner::run(runtime, "(call $rc \"getValue\" (array \"k\"))"), QStringLiteral("error 9"));
    EXPECT_EQ(rulesrunner::run(runtime, "(prop (md) \"platform\")"), QStringLiteral("\"macos\""));
}

TEST(RulesEventEditing, TheConfigurationsProgramEditsEvents)
{
    // A configuration carries the program; the facade it builds edits and
    // creates events as the pipeline will ask it to.
    rcfg::Harness harness;
    rcfg::ConfigBuilder builder;
    builder.setting(QStringLiteral("custom.suffix"), QStringLiteral("_v2"))
        .program(rulesnotation::program(kPrelude
            + QStringLiteral("(const \"rc\" (require \"internal.remoteConfig\"))")
            + editCallback("(call $e \"setEventName\" (array (+ (call $e \"getEventName\" (array))"
                           " (call $rc \"getValue\" (array \"custom.suffix\" \"\"))))) 0")
            + createCallback("(log \"copy\" (call $e \"getTimestamp\" (array)) (map \"of\" (call $e \"getEventName\""
                             " (array))))")));
    harness.store(builder);
    const auto config = harness.make();
    ASSERT_TRUE(config);
    const auto editing = config->eventEditing();
    ASSERT_TRUE(editing);
    APMError error;
    ASSERT_TRUE(editing->handleEvent(purchase(), &error));
    EXPECT_EQ(editing->eventContext().outputEvent().name(), QStringLiteral("purchase_v2"));
    ASSERT_EQ(editing->eventContext().eventsToLog().size(), 1u);
    EXPECT_EQ(editing->eventContext().eventsToLog().front().parameterForName("of"), QVariant("purchase_v2"));
    EXPECT_EQ(editing->eventContext().eventsToLog().front().timestamp(), 1700000000);
}

} // namespace rules_editing_test
