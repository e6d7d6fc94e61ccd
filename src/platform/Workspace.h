#pragma once

#include <QUrl>

#include <memory>

namespace platform {

// Opens addresses, files and folders with the desktop's default handlers.
class Workspace {
public:
    virtual ~Workspace() = default;
    virtual bool openUrl(const QUrl& url) = 0;

    static Workspace& shared();
    // Tests install a fake; nullptr restores the desktop backend.
    static void setShared(Workspace* workspace);
};

} // namespace platform
