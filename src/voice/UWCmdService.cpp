#include "voice/UWCmdService.h"

#include "platform/Preferences.h"
#include "platform/Workspace.h"
#include "voice/CommandBookmarks.h"

#include <QtDebug>

namespace {

const QString kHttpPrefix = QStringLiteral("http://");
const QString kHttpsPrefix = QStringLiteral("https://");
const QString kHttpScheme = QStringLiteral("http");
const QString kHttpsScheme = QStringLiteral("https");
// Besides ASCII letters and digits, the characters a URL query may hold as they are.
const QByteArray kQueryAllowedPunctuation = QByteArrayLiteral("!$&'()*+,-./:;=?@_~");

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isQueryAllowed(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
        || kQueryAllowedPunctuation.contains(c);
}

QByteArray percentEncoded(const QString& text)
{
    static const char kHex[] = "0123456789ABCDEF";
    const QByteArray bytes = text.toUtf8();
    QByteArray encoded;
    encoded.reserve(bytes.size() * 3);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes.at(i);
        // An address written out already encoded must not be encoded twice.
        const bool escape
            = c == '%' && i + 2 < bytes.size() && isHexDigit(bytes.at(i + 1)) && isHexDigit(bytes.at(i + 2));
        if (escape || isQueryAllowed(c)) {
            encoded.append(c);
            continue;
        }
        const auto byte = static_cast<unsigned char>(c);
        encoded.append('%');
        encoded.append(kHex[byte >> 4]);
        encoded.append(kHex[byte & 0x0F]);
    }
    return encoded;
}

} // namespace

UWCmdService& UWCmdService::sharedUWCmdService()
{
    static UWCmdService service;
    return service;
}

UWCmdService::UWCmdService(platform::Preferences* preferences)
    : preferences_(preferences)
{
}

platform::Preferences& UWCmdService::preferences() const
{
    return preferences_ ? *preferences_ : platform::Preferences::standard();
}

std::optional<QUrl> UWCmdService::webAddress(const QString& target)
{
    QString text = target.trimmed();
    if (!text.startsWith(kHttpPrefix, Qt::CaseInsensitive)
        && !text.startsWith(kHttpsPrefix, Qt::CaseInsensitive))
        text.prepend(kHttpPrefix);
    const QUrl url = QUrl::fromEncoded(percentEncoded(text), QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || url.host().isEmpty() || (scheme != kHttpScheme && scheme != kHttpsScheme))
        return std::nullopt;
    return url;
}

bool UWCmdService::openFileWithCmdPath(const QString& path, const QString& cmdType)
{
    if (path.isNull())
        return false;
    if (cmdType == kFileType || cmdType == kFolderType) {
        const QString local = CommandBookmarks::resolveBookmark(preferences(), path);
        if (local.isEmpty()) {
            qInfo().noquote() << "No openable target stored for the command" << path;
            return false;
        }
        return platform::Workspace::shared().openUrl(QUrl::fromLocalFile(local));
    }
    const std::optional<QUrl> url = webAddress(path);
    if (!url) {
        qInfo().noquote() << "Not a web address:" << path;
        return false;
    }
    return platform::Workspace::shared().openUrl(*url);
}
