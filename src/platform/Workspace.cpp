#include "platform/Workspace.h"

#include "platform/DesktopEntry.h"

#include <QDesktopServices>
#include <QProcess>

namespace platform {
namespace {

class DesktopWorkspace final : public Workspace {
public:
    bool openUrl(const QUrl& url) override
    {
        // An installed application is named by its desktop entry: start
        // what the entry describes instead of handing the file to the
        // desktop, which would open it as text.
        if (url.isLocalFile() && url.toLocalFile().endsWith(QLatin1String(".desktop")))
            return launch(url.toLocalFile());
        return QDesktopServices::openUrl(url);
    }

private:
    static bool launch(const QString& entryPath)
    {
        const std::optional<DesktopEntry> entry = DesktopEntry::read(entryPath);
        if (!entry)
            return false;
        const std::optional<QStringList> arguments = entry->launchArguments();
        if (!arguments || arguments->isEmpty())
            return false;
        return QProcess::startDetached(arguments->first(), arguments->mid(1), entry->value(QStringLiteral("Path")));
    }
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
