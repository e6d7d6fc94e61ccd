#include "core/StorageCheck.h"

#include "core/NoticeTexts.h"
#include "platform/UserNotices.h"

#include <QDir>
#include <QTemporaryFile>

const QString StorageCheck::kNoticeKey = QStringLiteral("storage-not-writable");

bool StorageCheck::checkFolders(const QStringList& folders)
{
    for (const QString& folder : folders) {
        if (!QDir().mkpath(folder)) {
            reportUnwritable(folder, QStringLiteral("the folder cannot be created"));
            return false;
        }
        QTemporaryFile probe(folder + QStringLiteral("/.write-check-XXXXXX"));
        if (!probe.open() || probe.write("ok", 2) != 2 || !probe.flush()) {
            reportUnwritable(folder, probe.errorString());
            return false;
        }
    }
    return true;
}

void StorageCheck::reportUnwritable(const QString& folder, const QString& reason)
{
    if (platform::UserNotices::shared().post(kNoticeKey, NoticeTexts::storageNotWritable(folder, reason)))
        qWarning("PraVik cannot write to %s (%s): settings, voice commands and logs will not be kept",
            qUtf8Printable(folder), qUtf8Printable(reason));
}
