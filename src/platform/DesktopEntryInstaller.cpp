#include "platform/DesktopEntryInstaller.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QSaveFile>

namespace platform {
namespace {

// The string escapes of a desktop entry value.
QString escaped(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\':
            out += QStringLiteral("\\\\");
            break;
        case '\n':
            out += QStringLiteral("\\n");
            break;
        case '\t':
            out += QStringLiteral("\\t");
            break;
        case '\r':
            out += QStringLiteral("\\r");
            break;
        default:
            out += c;
        }
    }
    return out;
}

// One Exec argument: always quoted, with the characters that quoting does not
// protect escaped by a backslash, and "%" doubled so it is no field code.
QString execArgument(const QString& argument)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    quoted += u'"';
    return escaped(quoted);
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes contents at path unless the file already holds exactly them.
// Returns false with error set when the file cannot be written.
bool writeIfChanged(const QString& path, const QByteArray& contents, bool* written, QString* error)
{
    if (QFile::exists(path) && readAll(path) == contents)
        return true;
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        *error = QStringLiteral("cannot create the folder %1").arg(QFileInfo(path).absolutePath());
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size() || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    *written = true;
    return true;
}

} // namespace

QString DesktopEntryInstaller::dataHome()
{
    const QString value = qEnvironmentVariable("XDG_DATA_HOME");
    if (value.isEmpty() || QDir::isRelativePath(value))
        return QDir::homePath() + QStringLiteral("/.local/share");
    return value;
}

QString DesktopEntryInstaller::entryPath(const QString& dataHome, const QString& id)
{
    return dataHome + QStringLiteral("/applications/") + id + QStringLiteral(".desktop");
}

QByteArray DesktopEntryInstaller::entryText(const Launcher& launcher, const QStringList& environment)
{
    const auto breaksLine = [](const QString& text) { return text.contains(u'\n') || text.contains(u'\r'); };
    if (breaksLine(launcher.program))
        return {};
    QString exec;
    if (!environment.isEmpty()) {
        exec = QStringLiteral("env ");
        for (const QString& assignment : environment) {
            if (breaksLine(assignment) || !assignment.contains(u'='))
                return {};
            exec += execArgument(assignment) + u' ';
        }
    }
    exec += execArgument(launcher.program);
    QString categories;
    for (const QString& category : launcher.categories)
        categories += QString(category).replace(u';', QStringLiteral("\\;")) + u';';
    QString text = QStringLiteral("[Desktop Entry]\n"
                                  "Type=Application\n"
                                  "Version=1.5\n");
    text += QStringLiteral("Name=") + escaped(launcher.name) + u'\n';
    if (!launcher.comment.isEmpty())
        text += QStringLiteral("Comment=") + escaped(launcher.comment) + u'\n';
    text += QStringLiteral("Exec=") + exec + u'\n';
    text += QStringLiteral("TryExec=") + escaped(launcher.program) + u'\n';
    text += QStringLiteral("Icon=") + escaped(launcher.id) + u'\n';
    text += QStringLiteral("Terminal=false\n");
    if (!categories.isEmpty())
        text += QStringLiteral("Categories=") + categories + u'\n';
    return text.toUtf8();
}

DesktopEntryInstaller::Result DesktopEntryInstaller::install(
    const Launcher& launcher, const QString& dataHome, QString* error)
{
    QString reason;
    const auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return Result::Failed;
    };
    const QByteArray entry = entryText(launcher);
    if (entry.isEmpty())
        return fail(
            QStringLiteral("the program path %1 cannot be written in a desktop entry").arg(launcher.program));
    const QByteArray icon = readAll(launcher.iconSource);
    const QSize size = QImageReader(launcher.iconSource).size();
    if (icon.isEmpty() || !size.isValid())
        return fail(QStringLiteral("cannot read the icon %1").arg(launcher.iconSource));
    const int side = qMax(size.width(), size.height());
    const QString iconPath
        = QStringLiteral("%1/icons/hicolor/%2x%2/apps/%3.png").arg(dataHome).arg(side).arg(launcher.id);

    bool written = false;
    // The icon first: a launcher that appears before its icon shows a blank one.
    if (!writeIfChanged(iconPath, icon, &written, &reason)
        || !writeIfChanged(entryPath(dataHome, launcher.id), entry, &written, &reason))
        return fail(reason);
    return written ? Result::Installed : Result::UpToDate;
}

} // namespace platform
