#include "analytics/config/APMBackupExclusion.h"

#include "analytics/config/APMError.h"

#include <QFileInfo>
#include <QMutex>

namespace {

const QString kNoFileDescription = QStringLiteral("No file to exclude from backup");

struct State {
    QMutex mutex;
    APMBackupExclusion::Excluder excluder;
};

State& state()
{
    static State* s = new State(); // lives as long as the process
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
    QMutexLocker lock(&state().mutex);
    state().excluder = std::move(excluder);
}

bool APMBackupExclusion::excludePath(const QString& path, APMError* error)
{
    Excluder excluder;
    {
        QMutexLocker lock(&state().mutex);
        excluder = state().excluder;
    }
    return excluder ? excluder(path, error) : defaultExcluder(path, error);
}

bool APMExcludePathFromBackup(const QString& path, APMError* error)
{
    return APMBackupExclusion::excludePath(path, error);
}
