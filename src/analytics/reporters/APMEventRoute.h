#pragma once

#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>

class APMSessionReporter;

// Where the automatic reporters reach the layers above them by default. The
// engine and the front end sit above the reporters, so they install their
// doors here as the program starts (a program without one of them has no
// door and gets the answer "nobody there"). Each door answers for the live
// state itself: a front end that has not started or was reset, an engine
// that is not made yet or is gone. Any thread.
class APMEventRoute {
public:
    using EventEntry = std::function<void(
        const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp)>;
    // True when the front end took the event (it has started).
    using FrontEndEntry = std::function<bool(
        const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp)>;

    // What the shared engine offers the reporters; every member answers
    // "nothing" while there is no shared engine.
    struct Engine {
        // The engine's own entry for a reporter's internal event, placed on
        // the current screen unless it names its own.
        EventEntry logOwnInternalEvent;
        // An event logged as it is, under the engine's enabled state and
        // past the interceptor (purchases).
        EventEntry logEvent;
        // The engine's session reporter once its components are initialized.
        std::function<std::shared_ptr<APMSessionReporter>()> sessionReporter;
    };

    static void setFrontEnd(FrontEndEntry entry);
    static void setEngine(Engine engine);

    // The front end's internal-event entry once it has started (its queue
    // keeps the event's order with the application's events), else the
    // shared engine's own entry, else nowhere.
    static void logReportedInternalEvent(
        const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp);
    // The same, with the shared engine's plain entry as the second choice.
    static void logEventThroughFrontEndOrEngine(
        const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp);
    // Null without a shared engine that has initialized its components.
    static std::shared_ptr<APMSessionReporter> engineSessionReporter();
};
