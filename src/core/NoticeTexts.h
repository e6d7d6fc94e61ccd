#pragma once

#include <QString>
#include <QStringList>

// The texts of the notices the main window shows, in the interface language,
// with their details filled in. Each key is the Chinese source wording of
// the interface-string tables; its "%@" placeholders take the arguments in
// order.
class NoticeTexts {
public:
    static QString backendNotConfigured(const QString& variable, const QString& settingKey);
    static QString backendInvalid(const QString& address);
    static QString chatPortalNotConfigured(const QString& variable, const QString& settingKey);
    static QString backendUnreachable(const QString& address, const QString& reason);
    // What needs the back end and why it cannot be had without one.
    static QString manualNeedsBackend(const QString& variable, const QString& settingKey);
    static QString updatesNeedBackend(const QString& variable, const QString& settingKey);
    static QString commandDatabaseDamaged(const QString& path, const QString& reason, const QString& keptAs);
    static QString storageNotWritable(const QString& folder, const QString& reason);

    // The text of key with each "%@" replaced by the next argument; missing
    // arguments leave their placeholder, extra ones are ignored.
    static QString fill(const QString& text, const QStringList& arguments);
};
