#include "voice/UWHomeViewModel.h"

#include "core/HRPSqliteOperation.h"
#include "core/LGNLocalizedString.h"
#include "core/Notifications.h"
#include "core/StringCoding.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"
#include "voice/CommandBookmarks.h"

#include <algorithm>
#include <QtDebug>

#include <utility>

namespace {

const QString kHomeFileScheme = QStringLiteral("file://");

} // namespace

UWHomeViewModel& UWHomeViewModel::sharedUWHomeViewModel()
{
    static UWHomeViewModel model(HRPSqliteOperation::shareOperation(), mmQuery());
    return model;
}

UWHomeViewModel::UWHomeViewModel(
    HRPSqliteOperation& database, mmQuery query, platform::Preferences* preferences)
    : database_(database)
    , query_(std::move(query))
    , preferences_(preferences)
{
}

platform::Preferences& UWHomeViewModel::preferences() const
{
    return preferences_ ? *preferences_ : platform::Preferences::standard();
}

bool UWHomeViewModel::createSQLTableWithtableName(
    const QString& tableName, const SqliteRowModel& fieldNameModel)
{
    const bool created = database_.createTableWithtableName(tableName, fieldNameModel);
    if (created && tableName == kDBMyAppsoooCmdListKey)
        refreshAppList();
    return created;
}

void UWHomeViewModel::refreshAppList()
{
    std::lock_guard lock(mutex_);
    query_.queryMyAppListCallback([this](bool success, const QList<platform::InstalledApplication>& results) {
        if (success)
            myAppList_ = results;
    });
}

QList<platform::InstalledApplication> UWHomeViewModel::myAppList() const
{
    std::lock_guard lock(mutex_);
    return myAppList_;
}

void UWHomeViewModel::requestCreateCustomCmd(const MMCustomCmdItem& item, const Callback& callback)
{
    database_.insertDataBaseWithtableName(kDBCustomizeCmdList, item, callback);
}

QList<MMCustomCmdItem> UWHomeViewModel::getCustomCmdList()
{
    return database_.selectAllDataBaseWithtableName<MMCustomCmdItem>(kDBCustomizeCmdList);
}

bool UWHomeViewModel::replaceCustomCmdList(const QList<MMCustomCmdItem>& items, QString* error)
{
    QList<const SqliteRowModel*> rows;
    for (const MMCustomCmdItem& item : items)
        rows.append(&item);
    return database_.replaceAllDataBaseWithtableName(kDBCustomizeCmdList, rows, error);
}

bool UWHomeViewModel::cleanCustomeDB()
{
    return database_.cleanTableWithtableName(kDBCustomizeCmdList);
}

void UWHomeViewModel::requestCreateMyAppListCmd(const MMAppdataItem& item, const Callback& callback)
{
    database_.insertDataBaseWithtableName(kDBMyAppsoooCmdListKey, item, callback);
}

QList<MMAppdataItem> UWHomeViewModel::getLocalMyAppsCmdList()
{
    std::lock_guard lock(mutex_);
    // A reader called back from within a rebuild gets what is there so far
    // instead of starting a second rebuild.
    if (rebuilding_)
        return database_.selectAllDataBaseWithtableName<MMAppdataItem>(kDBMyAppsoooCmdListKey);
    if (!emptied_.exchange(false)) {
        const QList<MMAppdataItem> rows
            = database_.selectAllDataBaseWithtableName<MMAppdataItem>(kDBMyAppsoooCmdListKey);
        if (!rows.isEmpty() && wordsInInterfaceLanguage(rows))
            return rows;
    }
    rebuilding_ = true;
    auto& center = platform::NotificationCenter::defaultCenter();
    center.post(notifications::kGetMyApp, kGetMyAppBegin);
    // The applications installed now, so that a refresh shows what was
    // installed or removed since start-up. An emptying asked for meanwhile
    // means the list may be out of date already: build it again.
    do {
        refreshAppList();
        getAppList();
    } while (emptied_.exchange(false));
    const QList<MMAppdataItem> rows
        = database_.selectAllDataBaseWithtableName<MMAppdataItem>(kDBMyAppsoooCmdListKey);
    rebuilding_ = false;
    center.post(notifications::kGetMyApp, kGetMyAppEnd);
    return rows;
}

bool UWHomeViewModel::cleanLocalMyAppsCmdList()
{
    std::unique_lock lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock() || rebuilding_) {
        emptied_ = true;
        return true;
    }
    emptied_ = false;
    return database_.cleanTableWithtableName(kDBMyAppsoooCmdListKey);
}

bool UWHomeViewModel::wordsInInterfaceLanguage(const QList<MMAppdataItem>& rows)
{
    // A list built under another interface language (before a switch, or by
    // an earlier run) would keep asking for the other language's word.
    const QString openWord = LGNLocalizedString::lgnAppLocalizedString(kOpenWordKey);
    return std::none_of(rows.cbegin(), rows.cend(), [&openWord](const MMAppdataItem& row) {
        const QString word = row.cmdword();
        return word.endsWith(row.name()) && word.size() > row.name().size()
            && word.chopped(row.name().size()) != openWord;
    });
}

void UWHomeViewModel::getAppList()
{
    std::lock_guard lock(mutex_);
    const QString openWord = LGNLocalizedString::lgnAppLocalizedString(kOpenWordKey);
    const QStringList dataFolders = query_.dataFolders();
    // All rows in one transaction and all grants in one preferences write:
    // row by row, a few hundred applications took over a second.
    QList<MMAppdataItem> rows;
    QVariantMap bookmarks;
    qulonglong index = 0;
    for (const platform::InstalledApplication& application : std::as_const(myAppList_)) {
        MMAppdataItem row;
        row.setName(application.displayName);
        row.setPath(kHomeFileScheme + application.path);
        const QString icon = StringCoding::conversionImageToStringWithImage(
            platform::InstalledApplications::iconImage(application.icon, kIconSize, dataFolders));
        row.setIcon(icon.isNull() ? QStringLiteral("") : icon);
        row.setCmdword(openWord + application.displayName);
        if (const std::optional<QVariant> entry = CommandBookmarks::bookmarkEntry(row.path()))
            bookmarks.insert(row.path(), *entry);
        rows.append(row);
        postProgress(index++);
    }
    QList<const SqliteRowModel*> models;
    for (const MMAppdataItem& row : std::as_const(rows))
        models.append(&row);
    QString error;
    if (!database_.replaceAllDataBaseWithtableName(kDBMyAppsoooCmdListKey, models, &error))
        qWarning().noquote() << "Cannot store the application commands:" << error;
    if (!bookmarks.isEmpty())
        preferences().setValues(bookmarks);
}

void UWHomeViewModel::postProgress(qulonglong index)
{
    const QVariantMap object { { kIdxKey, QVariant::fromValue(index) } };
    const auto post = [object] {
        platform::NotificationCenter::defaultCenter().post(
            notifications::kReloadMyAppNumbersOneByOne, object);
    };
    if (platform::MainQueue::isMainThread())
        post();
    else
        platform::MainQueue::shared().async(post);
}
