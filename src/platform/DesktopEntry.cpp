#include "platform/DesktopEntry.h"

#include <QFile>

namespace platform {
namespace {

const QString kMainGroup = QStringLiteral("Desktop Entry");
const QString kExecKey = QStringLiteral("Exec");
const QString kIconKey = QStringLiteral("Icon");
const QString kNameKey = QStringLiteral("Name");

// The escapes of string values: \s \n \t \r \\. A backslash before anything
// else stays as it is (lists and Exec give it their own meaning).
QString unescape(const QString& raw)
{
    QString text;
    text.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw.at(i);
        if (c != QLatin1Char('\\') || i + 1 >= raw.size()) {
            text.append(c);
            continue;
        }
        const QChar next = raw.at(i + 1);
        switch (next.unicode()) {
        case 's':
            text.append(QLatin1Char(' '));
            break;
        case 'n':
            text.append(QLatin1Char('\n'));
            break;
        case 't':
            text.append(QLatin1Char('\t'));
            break;
        case 'r':
            text.append(QLatin1Char('\r'));
            break;
        case '\\':
            text.append(QLatin1Char('\\'));
            break;
        default:
            text.append(c);
            continue; // the next character is read on its own
        }
        ++i;
    }
    return text;
}

// Locale forms to try, most specific first: lang_COUNTRY@MODIFIER,
// lang_COUNTRY, lang@MODIFIER, lang.
QStringList localeCandidates(QString localeName)
{
    const qsizetype dot = localeName.indexOf(QLatin1Char('.'));
    QString modifier;
    const qsizetype at = localeName.indexOf(QLatin1Char('@'));
    if (at >= 0)
        modifier = localeName.mid(at + 1);
    if (dot >= 0)
        localeName.truncate(dot);
    else if (at >= 0)
        localeName.truncate(at);
    const qsizetype underscore = localeName.indexOf(QLatin1Char('_'));
    const QString lang = underscore >= 0 ? localeName.left(underscore) : localeName;
    const QString country = underscore >= 0 ? localeName.mid(underscore + 1) : QString();
    QStringList candidates;
    if (lang.isEmpty())
        return candidates;
    if (!country.isEmpty() && !modifier.isEmpty())
        candidates.append(lang + QLatin1Char('_') + country + QLatin1Char('@') + modifier);
    if (!country.isEmpty())
        candidates.append(lang + QLatin1Char('_') + country);
    if (!modifier.isEmpty())
        candidates.append(lang + QLatin1Char('@') + modifier);
    candidates.append(lang);
    return candidates;
}

} // namespace

std::optional<DesktopEntry> DesktopEntry::read(const QString& filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaximumFileSize)
        return std::nullopt;
    const QByteArray contents = file.read(kMaximumFileSize + 1);
    if (contents.size() > kMaximumFileSize)
        return std::nullopt;
    return parse(contents, filePath);
}

std::optional<DesktopEntry> DesktopEntry::parse(const QByteArray& contents, const QString& filePath)
{
    DesktopEntry entry;
    entry.filePath_ = filePath;
    bool seenMainGroup = false;
    bool inMainGroup = false;
    const QStringList lines = QString::fromUtf8(contents).split(QLatin1Char('\n'));
    for (QString line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#')))
            continue;
        if (trimmed.startsWith(QLatin1Char('[')) && trimmed.endsWith(QLatin1Char(']'))) {
            const QString group = trimmed.mid(1, trimmed.size() - 2);
            // A repeated main group is invalid; only the first one counts.
            inMainGroup = group == kMainGroup && !seenMainGroup;
            seenMainGroup = seenMainGroup || inMainGroup;
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        if (key.isEmpty() || entry.raw_.contains(key))
            continue;
        QString value = line.mid(equals + 1);
        qsizetype start = 0;
        while (start < value.size()
            && (value.at(start) == QLatin1Char(' ') || value.at(start) == QLatin1Char('\t')))
            ++start;
        entry.raw_.insert(key, value.mid(start));
    }
    if (!seenMainGroup)
        return std::nullopt;
    return entry;
}

QString DesktopEntry::value(const QString& key) const
{
    const auto it = raw_.constFind(key);
    return it == raw_.constEnd() ? QString() : unescape(it.value());
}

QString DesktopEntry::localizedValue(const QString& key, const QString& localeName) const
{
    for (const QString& locale : localeCandidates(localeName)) {
        const QString localized = value(key + QLatin1Char('[') + locale + QLatin1Char(']'));
        if (!localized.isNull())
            return localized;
    }
    return value(key);
}

bool DesktopEntry::boolValue(const QString& key) const
{
    return value(key) == QLatin1String("true");
}

QStringList DesktopEntry::listValue(const QString& key) const
{
    const auto it = raw_.constFind(key);
    if (it == raw_.constEnd())
        return {};
    const QString& raw = it.value();
    QStringList items;
    QString current;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw.at(i);
        if (c == QLatin1Char('\\') && i + 1 < raw.size() && raw.at(i + 1) == QLatin1Char(';')) {
            current.append(QLatin1Char(';'));
            ++i;
        } else if (c == QLatin1Char(';')) {
            items.append(unescape(current));
            current.clear();
        } else {
            current.append(c);
        }
    }
    // The closing ";" is optional.
    if (!current.isEmpty())
        items.append(unescape(current));
    return items;
}

std::optional<QStringList> DesktopEntry::launchArguments() const
{
    const QString exec = value(kExecKey);
    if (exec.isEmpty())
        return std::nullopt;
    QStringList arguments;
    QString current;
    bool hasArgument = false;
    bool quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (quoted) {
            if (c == QLatin1Char('"')) {
                quoted = false;
                continue;
            }
            if (c == QLatin1Char('\\') && i + 1 < exec.size()
                && QStringLiteral("\"`$\\").contains(exec.at(i + 1))) {
                current.append(exec.at(++i));
                continue;
            }
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (hasArgument)
                arguments.append(current);
            current.clear();
            hasArgument = false;
            continue;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
            hasArgument = true;
            continue;
        }
        if (c != QLatin1Char('%')) {
            current.append(c);
            hasArgument = true;
            continue;
        }
        if (i + 1 >= exec.size())
            return std::nullopt;
        const QChar code = exec.at(++i);
        switch (code.unicode()) {
        case '%':
            current.append(QLatin1Char('%'));
            hasArgument = true;
            break;
        // Files and addresses: a launch without any leaves nothing in their place.
        case 'f':
        case 'F':
        case 'u':
        case 'U':
        // Deprecated codes, removed.
        case 'd':
        case 'D':
        case 'n':
        case 'N':
        case 'v':
        case 'm':
            break;
        case 'i': {
            // Only meaningful as an argument of its own.
            const QString icon = value(kIconKey);
            if (!icon.isEmpty() && !hasArgument && !quoted)
                arguments << QStringLiteral("--icon") << icon;
            break;
        }
        case 'c':
            current.append(value(kNameKey));
            hasArgument = true;
            break;
        case 'k':
            current.append(filePath_);
            hasArgument = true;
            break;
        default:
            return std::nullopt;
        }
    }
    if (quoted)
        return std::nullopt;
    if (hasArgument)
        arguments.append(current);
    if (arguments.isEmpty() || arguments.first().isEmpty())
        return std::nullopt;
    return arguments;
}

} // namespace platform
