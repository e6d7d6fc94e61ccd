#include "ui/TargetChooser.h"

#include "core/LGNLocalizedString.h"
#include "platform/FilePanels.h"
#include "ui/ScriptMessageBridge.h"

#include <QDir>
#include <QFileInfo>

const QString TargetChooser::kPromptKey = QStringLiteral("选择");
const QString TargetChooser::kTitleKey = QStringLiteral("选择此指令要打开的文件或文件夹");
const QString TargetChooser::kPageFunction = QStringLiteral("executionLocationLoad");

TargetChooser::TargetChooser(QWidget* window)
    : TargetChooser(platform::FilePanels::shared(), QDir::homePath(), window)
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
        = panels_.chooseFileOrFolder(window_, LGNLocalizedString::lgnAppLocalizedString(kTitleKey),
            LGNLocalizedString::lgnAppLocalizedString(kPromptKey), startFolder_);
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
    return ScriptMessageBridge::functionCall(kPageFunction, { address });
}
