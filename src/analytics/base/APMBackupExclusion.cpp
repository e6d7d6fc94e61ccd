#include "analytics/base/APMBackupExclusion.h"

#include "analytics/base/APMError.h"

#include <QFileInfo>
#include <QMutex>

namespace {

const QString kNoFileDescription = QStringLiteral("No file to exclude from backup");

struct ExcluderState {
    QMutex mutex;
    APMBackupExclusion::Excluder excluder;
};

ExcluderState& excluderState()
{
    static ExcluderState* s = new ExcluderState(); // lives as long as the process
    return *s;
}

bool defaultExcluder(const QString& path, APMError* error)
{
    if (path.isEmpty() || !QFileInfo::exists(path)) {
        APMSetErrorWithCode(error, APMError::InvalidState, kNoFileDescription);
        return false;
    }
    return true;
}

} // namespace

void APMBackupExclusion::setExcluder(Excluder excluder)
{
    QMutexLocker lock(&excluderState().mutex);
    excluderState().excluder = std::move(excluder);
}

bool APMBackupExclusion::excludePath(const QString& path, APMError* error)
{
    Excluder excluder;
    {
        QMutexLocker lock(&excluderState().mutex);
        excluder = excluderState().excluder;
    }
    return excluder ? excluder(path, error) : defaultExcluder(path, error);
}

bool APMExcludePathFromBackup(const QString& path, APMError* error)
{
    return APMBackupExclusion::excludePath(path, error);
}
