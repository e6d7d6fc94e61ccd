#include "platform/Workspace.h"

#include <QDesktopServices>

namespace platform {
namespace {

class DesktopWorkspace final : public Workspace {
public:
    bool openUrl(const QUrl& url) override { return QDesktopServices::openUrl(url); }
};

Workspace* g_override = nullptr;

} // namespace

Workspace& Workspace::shared()
{
    static DesktopWorkspace desktop;
    return g_override ? *g_override : desktop;
}

void Workspace::setShared(Workspace* workspace)
{
    g_override = workspace;
}

} // namespace platform
