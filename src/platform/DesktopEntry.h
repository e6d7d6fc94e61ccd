#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

namespace platform {

// One XDG desktop entry file (".desktop"): the keys of its "Desktop Entry"
// group, with the format's escapes, localised keys and Exec quoting.
class DesktopEntry {
public:
    // Files larger than this are not desktop entries anyone wrote by hand or tool.
    static constexpr qint64 kMaximumFileSize = 1024 * 1024;

    // nullopt when the file cannot be read, is too large or has no "Desktop Entry" group.
    static std::optional<DesktopEntry> read(const QString& filePath);
    static std::optional<DesktopEntry> parse(const QByteArray& contents, const QString& filePath = {});

    QString filePath() const { return filePath_; }

    // The value of a key with the escapes \s \n \t \r \\ resolved; null when absent.
    QString value(const QString& key) const;
    // The value for a locale such as "sr_RS@latin" or "zh_CN" (an encoding
    // suffix is ignored), falling back from the most to the least specific
    // form and finally to the unlocalised key.
    QString localizedValue(const QString& key, const QString& localeName) const;
    // True only for the value "true".
    bool boolValue(const QString& key) const;
    // A list value (";"-separated, "\;" for a literal semicolon).
    QStringList listValue(const QString& key) const;

    // The command line that the entry's Exec key describes: the program first,
    // then its arguments, with quoting removed and the field codes expanded
    // for a launch without files or addresses. nullopt when there is no Exec,
    // its quoting is unbalanced or it uses an unknown field code.
    std::optional<QStringList> launchArguments() const;

private:
    QString filePath_;
    QHash<QString, QString> raw_; // key (with any "[locale]" suffix) to its unescaped text
};

} // namespace platform
