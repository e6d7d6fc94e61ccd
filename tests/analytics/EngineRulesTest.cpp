// Event editing in the engine's pipeline: the configuration's programs edit
// logged events and create new ones, and what they did reaches the
// collection server; a failing program leaves the event as it was logged.
#include "EngineTestFixture.h"
#include "RulesProgramNotation.h"

using namespace engine_test;

namespace engine_rules_test {

// Binds "reg" to the callback registrar and "log" to the event logger.
const QString kRulesPrelude = QStringLiteral("(const \"reg\" (require \"internal.registerCallback\")"
                                             " \"log\" (require \"internal.eventLogger\"))");

QString editingCallback(const QString& type, const QString& body)
{
    return QStringLiteral("(reg 0 (fn \"\" (list \"e\") %1) (map \"type\" \"%2\" \"priority\" 1000))").arg(body, type);
}

class EngineRulesTest : public EngineFixture {
protected:
    void configureProgram(const QString& statements)
    {
        rcfg::ConfigBuilder builder;
        builder.program(rulesnotation::program(kRulesPrelude + statements));
        ASSERT_TRUE(configure(builder));
        ASSERT_TRUE(engine_->remoteConfigInstance()->eventEditing());
    }

    // Everything logged so far, as the server received it.
    QList<fakes::FakeCollectionServer::Event> uploaded()
    {
        advance(15); // measurement.upload.initial_upload_delay_time
        return server_.acceptedEvents();
    }

    static const fakes::FakeCollectionServer::Event* find(
        const QList<fakes::FakeCollectionServer::Event>& events, const QString& name)
    {
        for (const auto& event : events) {
            if (event.name == name)
                return &event;
        }
        return nullptr;
    }
};

TEST_F(EngineRulesTest, AnEditingProgramChangesTheEventTheServerReceives)
{
    start();
    configureProgram(editingCallback(QStringLiteral("edit"),
        QStringLiteral("(if (== (call $e \"getEventName\" (array)) \"click\")"
                       " (list (call $e \"setEventName\" (array \"button_click\"))"
                       " (call $e \"setParamValue\" (array \"button\" \"left\"))))"
                       " 1")));
    logEvent(QStringLiteral("click"), { { QStringLiteral("count"), 2 } });
    logEvent(QStringLiteral("scroll"));

    const auto events = uploaded();
    EXPECT_FALSE(find(events, QStringLiteral("click")));
    const auto* edited = find(events, QStringLiteral("button_click"));
    ASSERT_TRUE(edited);
    EXPECT_EQ(edited->parameters.value(QStringLiteral("button")), QVariant(QStringLiteral("left")));
    EXPECT_EQ(edited->parameters.value(QStringLiteral("count")).toLongLong(), 2);
    // Events the program leaves alone arrive as logged.
    EXPECT_TRUE(find(events, QStringLiteral("scroll")));
}

TEST_F(EngineRulesTest, ACreatingProgramLogsANewEventBesideTheOriginal)
{
    start();
    configureProgram(editingCallback(QStringLiteral("create"),
        QStringLiteral("(if (== (call $e \"getEventName\" (array)) \"click\")"
                       " (log \"click_copy\" (call $e \"getTimestamp\" (array)) (map \"source\" \"rules\")))")));
    logEvent(QStringLiteral("click"), { { QStringLiteral("count"), 2 } });

    const auto events = uploaded();
    const auto* original = find(events, QStringLiteral("click"));
    ASSERT_TRUE(original);
    EXPECT_EQ(original->parameters.value(QStringLiteral("count")).toLongLong(), 2);
    const auto* created = find(events, QStringLiteral("click_copy"));
    ASSERT_TRUE(created);
    EXPECT_EQ(created->parameters.value(QStringLiteral("source")), QVariant(QStringLiteral("rules")));
    EXPECT_EQ(created->timestampMillis, original->timestampMillis);
}

TEST_F(EngineRulesTest, AFailingProgramLeavesTheEventAsLogged)
{
    start();
    // The edit is made, then the program fails (a call on null): the event
    // goes on unedited and nothing is created.
    configureProgram(editingCallback(QStringLiteral("edit"),
        QStringLiteral("(call $e \"setEventName\" (array \"renamed\"))"
                       " (call $e \"setParamValue\" (array \"count\" 99))"
                       " (log \"created\" (call $e \"getTimestamp\" (array)) (map))"
                       " (call (null) \"x\" (array))")));
    logEvent(QStringLiteral("click"), { { QStringLiteral("count"), 2 } });

    const auto events = uploaded();
    EXPECT_FALSE(find(events, QStringLiteral("renamed")));
    EXPECT_FALSE(find(events, QStringLiteral("created")));
    const auto* logged = find(events, QStringLiteral("click"));
    ASSERT_TRUE(logged);
    EXPECT_EQ(logged->parameters.value(QStringLiteral("count")).toLongLong(), 2);
}

} // namespace engine_rules_test
