#pragma once

#include <QMap>
#include <QString>

// The platform registry: the default app that a host program configures,
// and the libraries of the platform that announce their name and version.
// This application never configures the default app; a host program (or a
// test) does, before starting analytics through BASAnalytics.
class BASApp {
public:
    struct Options {
        QString vireoAppID;
        bool isAnalyticsCollectionEnabled = true;
        bool isAnalyticsCollectionDeactivated = false;
    };

    static void configure(const Options& options);
    static bool isDefaultAppConfigured();
    // The options of the configured default app (empty when none).
    static Options defaultAppOptions();

    static void registerInternalLibrary(const QString& name, const QString& version);
    // Name to version of every library registered so far.
    static QMap<QString, QString> registeredLibraries();

    // Tests only: no default app and no registered library.
    static void resetForTesting();
};
