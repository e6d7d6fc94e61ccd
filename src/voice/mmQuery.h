#pragma once

#include "platform/InstalledApplications.h"

#include <QList>
#include <QStringList>

#include <functional>

// Lists the installed applications for the voice-command store.
class mmQuery {
public:
    using Callback = std::function<void(bool success, const QList<platform::InstalledApplication>& results)>;

    // Reads the desktop entries of the environment's data folders.
    mmQuery();
    // Reads the desktop entries (and icons) of the given data folders.
    explicit mmQuery(QStringList dataFolders);

    // Reading desktop entries is a quick walk of a few folders, so the list is
    // made at once and handed to the callback before this returns, on the
    // calling thread.
    void queryMyAppListCallback(const Callback& callback) const;

    QStringList dataFolders() const { return dataFolders_; }

private:
    QStringList dataFolders_;
};
