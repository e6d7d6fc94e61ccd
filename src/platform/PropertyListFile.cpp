#include "platform/PropertyListFile.h"

#include "platform/PropertyListCodec.h"
#include "platform/UserNotices.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <optional>

namespace platform {
namespace {

const QString kDamagedSuffix = QStringLiteral(".damaged-");
const QString kDamagedTimeFormat = QStringLiteral("yyyyMMdd'T'HHmmss'Z'");
const QString kNoticeKeyPrefix = QStringLiteral("damaged-settings-file:");
const QString kKeptAsideNotice = QStringLiteral("A settings file could not be read: %1 (%2). It was kept as "
                                                "%3, and fresh settings are used from now on.");
const QString kNotMovedNotice = QStringLiteral("A settings file could not be read: %1 (%2), nor moved aside "
                                               "(%3). Fresh settings are used for this run.");
constexpr int kMaxAsideAttempts = 1000;

// Renames the file to a name no earlier damaged copy has. Returns the new
// path, or nothing with the reason.
std::optional<QString> keepAside(const QString& path, QString* reason)
{
    const QString stem = path + kDamagedSuffix + QDateTime::currentDateTimeUtc().toString(kDamagedTimeFormat);
    for (int n = 1; n <= kMaxAsideAttempts; ++n) {
        const QString aside = n == 1 ? stem : stem + QStringLiteral("-%1").arg(n);
        if (QFileInfo::exists(aside))
            continue;
        QFile file(path);
        // QFile::rename never replaces an existing file.
        if (file.rename(aside))
            return aside;
        if (QFileInfo::exists(aside))
            continue; // taken between the check and the rename
        *reason = file.errorString();
        return std::nullopt;
    }
    *reason = QStringLiteral("every name up to %1-%2 is taken").arg(stem).arg(kMaxAsideAttempts);
    return std::nullopt;
}

void reportDamaged(const QString& path, const QString& why)
{
    QString moveError;
    const std::optional<QString> aside = keepAside(path, &moveError);
    QString text;
    if (aside) {
        qWarning("Settings file %s is unreadable (%s); kept as %s, starting afresh", qUtf8Printable(path),
            qUtf8Printable(why), qUtf8Printable(*aside));
        text = kKeptAsideNotice.arg(QDir::toNativeSeparators(path), why, QDir::toNativeSeparators(*aside));
    } else {
        qWarning("Settings file %s is unreadable (%s) and could not be moved aside (%s); starting afresh",
            qUtf8Printable(path), qUtf8Printable(why), qUtf8Printable(moveError));
        text = kNotMovedNotice.arg(QDir::toNativeSeparators(path), why, moveError);
    }
    UserNotices::shared().post(kNoticeKeyPrefix + path, text);
}

} // namespace

QVariantMap PropertyListFile::readDictionary(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    if (!info.isFile()) { // a folder in its place: nothing to keep aside, and writes will fail
        qWarning("Settings file %s is not a file", qUtf8Printable(path));
        return {};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        reportDamaged(path, file.errorString());
        return {};
    }
    const QByteArray bytes = file.readAll();
    const bool readFailed = file.error() != QFileDevice::NoError;
    const QString readError = file.errorString();
    file.close();
    if (readFailed) {
        reportDamaged(path, readError);
        return {};
    }
    QString error;
    const std::optional<QVariant> root = PropertyListCodec::fromData(bytes, &error);
    if (root && root->metaType().id() == QMetaType::QVariantMap)
        return root->toMap();
    reportDamaged(path, root ? QStringLiteral("the top level is not a dictionary") : error);
    return {};
}

} // namespace platform
