#include "ui/TargetChooser.h"

#include "core/LGNLocalizedString.h"
#include "platform/FilePanels.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

const QString TargetChooser::kPromptKey = QStringLiteral("选择");
const QString TargetChooser::kPageFunction = QStringLiteral("executionLocationLoad");

TargetChooser::TargetChooser(QWidget* window)
    : TargetChooser(platform::FilePanels::shared(),
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation), window)
{
}

TargetChooser::TargetChooser(platform::FilePanels& panels, QString startFolder, QWidget* window)
    : panels_(panels)
    , startFolder_(std::move(startFolder))
    , window_(window)
{
}

void TargetChooser::changeFolderAction(const PageCall& sendToPage)
{
    const std::optional<QString> chosen
        = panels_.chooseFileOrFolder(window_, LGNLocalizedString::lgnAppLocalizedString(kPromptKey), startFolder_);
    if (!chosen || !sendToPage)
        return;
    sendToPage(pageScript(addressText(*chosen)));
}

QString TargetChooser::addressText(const QString& path)
{
    const QFileInfo info(path);
    QString absolute = QDir::cleanPath(info.absoluteFilePath());
    if (info.isDir() && !absolute.endsWith(u'/'))
        absolute += u'/';
    return QStringLiteral("file://") + absolute;
}

QString TargetChooser::pageScript(const QString& address)
{
    QString escaped;
    escaped.reserve(address.size() + 8);
    for (const QChar c : address) {
        switch (c.unicode()) {
        case '\\':
            escaped += QStringLiteral("\\\\");
            break;
        case '\'':
            escaped += QStringLiteral("\\'");
            break;
        case '"':
            escaped += QStringLiteral("\\\"");
            break;
        case '\n':
            escaped += QStringLiteral("\\n");
            break;
        case '\r':
            escaped += QStringLiteral("\\r");
            break;
        case '<':
            // Keeps "</script>" inert wherever the page puts the text.
            escaped += QStringLiteral("\\x3c");
            break;
        case 0x2028:
        case 0x2029:
            escaped += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            break;
        default:
            if (c.unicode() < 0x20)
                escaped += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
            else
                escaped += c;
        }
    }
    return kPageFunction + QStringLiteral("('") + escaped + QStringLiteral("')");
}
