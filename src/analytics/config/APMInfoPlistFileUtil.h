#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>

class APMError;

// Finds and reads the service configuration file "VireoService-Info.plist"
// (an XML property list holding a dictionary), and gives the application's
// information dictionary, the few facts about the application that the
// analytics library reads.
class APMInfoPlistFileUtil {
public:
    static const QString kResourceName; // "VireoService-Info"
    static const QString kResourceType; // "plist"
    static const QString kVireoAppIDKey; // "VIREO_APP_ID"
    static const QString kAdNestAppIDKey; // "ADNEST_APP_ID"

    // Keys of the information dictionary.
    static const QString kBundleIdentifierKey; // "CFBundleIdentifier"
    static const QString kShortVersionKey; // "CFBundleShortVersionString"
    static const QString kBundleVersionKey; // "CFBundleVersion"

    static constexpr qint64 kMaxFileSize = 1024 * 1024;

    // Where the file is looked for, in order: the application's resources,
    // then the folder of the executable the library is linked into.
    static QStringList searchFolders();
    // The first "VireoService-Info.plist" found there, or "".
    static QString vireoServiceInfoPlistPath();
    static QString vireoServiceInfoPlistPathInFolders(const QStringList& folders);

    // The file's dictionary; nothing when there is no file. A file that
    // cannot be read, is not a property list or holds no dictionary also
    // gives nothing, and the reason in the out-parameter.
    static std::optional<QVariantMap> dictionaryFromVireoServiceInfoPlist(APMError* error = nullptr);
    static std::optional<QVariantMap> dictionaryFromPlistAtPath(
        const QString& path, APMError* error = nullptr);

    // The application's identifier (its name) and its version under both
    // version keys.
    static QVariantMap mainBundleInfoDictionary();
};
