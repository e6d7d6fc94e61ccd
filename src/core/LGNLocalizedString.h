#pragma once

#include <QString>
#include <QStringList>

// Interface-string lookup. The key of a text is its Chinese source wording;
// the tables are "Localizable.plist" dictionaries in one ".lproj" resource
// folder per interface language. A key missing from a table comes back as
// the key itself.
class LGNLocalizedString {
public:
    // In the interface language the user chose (indexOfUI of the language
    // selections): 0 zh-Hans, 1 en, 2 id, 3 vi, 4 ko; any other index falls
    // back to the system-language lookup.
    static QString lgnAppLocalizedString(const QString& key);
    // In the system's language.
    static QString lgnLocalizedString(const QString& key);

    // The same rules with the inputs given (tests, and callers that already
    // hold them).
    static QString appLocalizedString(const QString& key, quint64 indexOfUI, const QStringList& preferredLanguages);
    static QString systemLocalizedString(const QString& key, const QStringList& preferredLanguages);

    // The table folder the interface texts come from: the chosen language's,
    // or for an index outside 0 to 4 the first preferred system language
    // that has a table, else the Chinese one.
    static QString interfaceLanguage(quint64 indexOfUI, const QStringList& preferredLanguages);
    // The same for the user's choice and the system's languages.
    static QString appInterfaceLanguage();

    // The folder for an interface-language index; empty outside 0 to 4.
    static QString languageFolderForIndex(quint64 indexOfUI);
    // The text of key in a language folder's table ("zh-Hans", "en", ...).
    static QString lookup(const QString& key, const QString& language);

private:
    static QString preferredTableLanguage(const QStringList& preferredLanguages);
};
