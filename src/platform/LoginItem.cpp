#include "platform/LoginItem.h"

#include "platform/AppPaths.h"
#include "platform/DesktopEntryInstaller.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace platform {

LoginItem::LoginItem(QString configHome, QString id, QString name, QString program, QStringList environment)
    : configHome_(std::move(configHome))
    , id_(std::move(id))
    , name_(std::move(name))
    , program_(std::move(program))
    , environment_(std::move(environment))
{
}

QString LoginItem::configHome()
{
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!configured.isEmpty() && QDir::isAbsolutePath(configured))
        return configured;
    return QDir::homePath() + QStringLiteral("/.config");
}

LoginItem& LoginItem::shared()
{
    const QString home = AppPaths::pravikHome();
    static LoginItem item(configHome(), QStringLiteral("pravik"), QStringLiteral("PraVik"),
        QCoreApplication::applicationFilePath(),
        home.isEmpty() ? QStringList() : QStringList { QStringLiteral("PRAVIK_HOME=") + home });
    return item;
}

QString LoginItem::entryPath() const
{
    return configHome_ + QStringLiteral("/autostart/") + id_ + QStringLiteral(".desktop");
}

bool LoginItem::isEnabled() const
{
    return QFile::exists(entryPath());
}

bool LoginItem::setEnabled(bool enabled, QString* error)
{
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    const QString path = entryPath();
    if (!enabled) {
        if (QFile::exists(path) && !QFile::remove(path))
            return fail(QStringLiteral("%1 cannot be removed").arg(path));
        return true;
    }
    QByteArray text = DesktopEntryInstaller::entryText({ id_, name_, {}, program_, {}, {} }, environment_);
    if (text.isEmpty())
        return fail(QStringLiteral("the program path or its environment cannot be written in a desktop entry"));
    text += "X-GNOME-Autostart-enabled=true\n";
    if (!QDir().mkpath(configHome_ + QStringLiteral("/autostart")))
        return fail(QStringLiteral("the folder %1/autostart cannot be made").arg(configHome_));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        return fail(QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString()));
    return true;
}

} // namespace platform
