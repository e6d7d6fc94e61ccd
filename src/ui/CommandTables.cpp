#include "ui/CommandTables.h"

#include "core/HRPSqliteOperation.h"
#include "core/NoticeTexts.h"
#include "core/StorageCheck.h"
#include "platform/UserNotices.h"
#include "voice/MMAppdataItem.h"
#include "voice/MMCustomCmdItem.h"
#include "voice/UWHomeViewModel.h"

#include <QFileInfo>

const QString CommandTables::kCommandDatabaseNotice = QStringLiteral("command-database-replaced");

bool CommandTables::open(HRPSqliteOperation& database)
{
    using Outcome = HRPSqliteOperation::Recovery::Outcome;
    const QString path = database.databasePath();
    const HRPSqliteOperation::Recovery recovery = database.recoverIfDamaged();
    switch (recovery.outcome) {
    case Outcome::Healthy:
        break;
    case Outcome::MovedAside:
        qWarning("CommandTables: the command database %s could not be read (%s); it was kept as %s and a new "
                 "one started",
            qUtf8Printable(path), qUtf8Printable(recovery.reason), qUtf8Printable(recovery.keptAs));
        platform::UserNotices::shared().post(
            kCommandDatabaseNotice, NoticeTexts::commandDatabaseDamaged(path, recovery.reason, recovery.keptAs));
        break;
    case Outcome::Unwritable:
        StorageCheck::reportUnwritable(QFileInfo(path).absolutePath(), recovery.reason);
        break;
    }
    QString error;
    if (!database.createTableWithtableName(UWHomeViewModel::kDBMyAppsoooCmdListKey, MMAppdataItem(), &error)
        || !database.createTableWithtableName(UWHomeViewModel::kDBCustomizeCmdList, MMCustomCmdItem(), &error)) {
        qWarning("CommandTables: creating the command tables in %s failed: %s; voice commands will not work",
            qUtf8Printable(path), qUtf8Printable(error));
        return false;
    }
    return true;
}
