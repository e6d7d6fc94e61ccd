#include "voice/mmQuery.h"

#include <utility>

mmQuery::mmQuery()
    : mmQuery(platform::InstalledApplications::dataFolders())
{
}

mmQuery::mmQuery(QStringList dataFolders)
    : dataFolders_(std::move(dataFolders))
{
}

void mmQuery::queryMyAppListCallback(const Callback& callback) const
{
    const QList<platform::InstalledApplication> applications
        = platform::InstalledApplications::list(dataFolders_, platform::InstalledApplications::localeName(),
            platform::InstalledApplications::currentDesktops());
    if (callback)
        callback(true, applications);
}
