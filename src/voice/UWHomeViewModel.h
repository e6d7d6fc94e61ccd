#pragma once

#include "platform/InstalledApplications.h"
#include "voice/MMAppdataItem.h"
#include "voice/MMCustomCmdItem.h"
#include "voice/mmQuery.h"

#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <mutex>

class HRPSqliteOperation;
class SqliteRowModel;

namespace platform {
class Preferences;
}

// The voice-command store: the custom commands the user edits on the settings
// page and one "open" command per installed application, kept in two tables
// of the application's database. Voice search reads both lists; the settings
// page replaces the custom list and asks for the application list to be
// rebuilt. Safe to use from several threads: the application table is
// rebuilt by one caller at a time, and others wait for the finished list.
class UWHomeViewModel {
public:
    using Callback = std::function<void(bool success, const QString& error)>;

    static inline const QString kDBCustomizeCmdList = QStringLiteral("DBCustomizeCmdList");
    static inline const QString kDBMyAppsoooCmdListKey = QStringLiteral("DBMyAppsoooCmdListKey");
    // The objects of "kGetMyAppNoti", posted around a rebuild of the application table.
    static inline const QString kGetMyAppBegin = QStringLiteral("Begin");
    static inline const QString kGetMyAppEnd = QStringLiteral("End");
    // The key of the index in the object of "kReloadMyAppNumbersOneByOne".
    static inline const QString kIdxKey = QStringLiteral("idx");
    // The interface string put in front of an application's name to make its command word.
    static inline const QString kOpenWordKey = QStringLiteral("打开");
    // Application icons are stored at most this many pixels wide and high.
    static constexpr int kIconSize = 64;

    // Over the application's database and the standard user defaults.
    static UWHomeViewModel& sharedUWHomeViewModel();

    // Keeps application bookmarks in the given defaults, or in the standard
    // user defaults of the moment when none is given.
    UWHomeViewModel(
        HRPSqliteOperation& database, mmQuery query, platform::Preferences* preferences = nullptr);
    UWHomeViewModel(const UWHomeViewModel&) = delete;
    UWHomeViewModel& operator=(const UWHomeViewModel&) = delete;

    // Creates the table unless it exists. After the application table has been
    // made (or found), the installed applications are listed into myAppList.
    bool createSQLTableWithtableName(const QString& tableName, const SqliteRowModel& fieldNameModel);

    // Inserts the row; the callback (may be empty) gets the outcome.
    void requestCreateCustomCmd(const MMCustomCmdItem& item, const Callback& callback);
    // Every custom command, in table order.
    QList<MMCustomCmdItem> getCustomCmdList();
    bool cleanCustomeDB();
    // Replaces every custom command with the list, in order, in one
    // transaction: on failure the commands stay as they were.
    bool replaceCustomCmdList(const QList<MMCustomCmdItem>& items, QString* error = nullptr);

    // Inserts the row; the callback (may be empty) gets the outcome.
    void requestCreateMyAppListCmd(const MMAppdataItem& item, const Callback& callback);
    // Every application command, in table order. An empty (or emptied)
    // table is rebuilt first from the applications installed now:
    // "kGetMyAppNoti" with "Begin" and "End" (on the calling thread) around
    // the rebuild.
    QList<MMAppdataItem> getLocalMyAppsCmdList();
    // Empties the application table so that the next read rebuilds it.
    // Never waits for a rebuild (the settings page calls it on the main
    // thread, and a rebuild of many applications takes seconds): while one
    // runs, the table is marked emptied instead, and the running rebuild
    // starts over with the applications installed by then.
    bool cleanLocalMyAppsCmdList();

    // Fills the application table (only ever rebuilt when empty; whatever it
    // held is replaced) with one row per application of myAppList, in one
    // transaction and in order: name, "file://"
    // and the path of its desktop entry, the icon as Base64 PNG text (empty
    // when there is none), the command word (the localised "打开" directly
    // followed by the name); stores the bookmarks of the paths in one
    // preferences write; and posts
    // "kReloadMyAppNumbersOneByOne" with {"idx": index} on the main thread.
    void getAppList();

    QList<platform::InstalledApplication> myAppList() const;
    const mmQuery& query() const { return query_; }

private:
    platform::Preferences& preferences() const;
    void refreshAppList();
    static void postProgress(qulonglong index);
    // Whether the stored command words use the interface language's word.
    static bool wordsInInterfaceLanguage(const QList<MMAppdataItem>& rows);

    HRPSqliteOperation& database_;
    const mmQuery query_;
    platform::Preferences* preferences_;
    // Guards myAppList_ and makes rebuilding the application table one
    // caller's work. Recursive, so that an observer of the rebuild's
    // notifications may read the store.
    mutable std::recursive_mutex mutex_;
    bool rebuilding_ = false;
    // An emptying asked for while the store was busy: the stored rows are
    // out of date and the next read (or the running rebuild) builds again.
    std::atomic<bool> emptied_ { false };
    QList<platform::InstalledApplication> myAppList_;
};
