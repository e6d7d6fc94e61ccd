#include "core/NoticeTexts.h"

#include "core/LGNLocalizedString.h"

namespace {

const QString kBackendNotConfigured = QStringLiteral(
    "未设置后端服务器地址：鼠标无法获取凭据，语音输入无法使用。请设置环境变量 %@ 或设置项 %@，然后重新启动 PraVik（见 README 中的“The back "
    "end”一节）。");
const QString kBackendInvalid
    = QStringLiteral("后端服务器地址 %@ 无效：地址须以 http:// 或 https:// 开头并包含主机名。");
const QString kBackendUnreachable
    = QStringLiteral("无法连接后端服务器 %@（%@）：鼠标无法获取凭据，语音输入无法使用。");
const QString kManualNeedsBackend = QStringLiteral("使用手册由后端服务器提供，而后端服务器地址尚未设置。请设置环境变量 %@ "
                                                   "或设置项 %@（见 README 中的“The back end”一节）。");
const QString kUpdatesNeedBackend = QStringLiteral("没有设置更新来源：更新信息来自后端服务器，而后端服务器地址尚未设置。请设置环境变量 %@ "
                                                   "或设置项 %@（见 README 中的“The back end”一节）。");
const QString kChatPortalNotConfigured = QStringLiteral("未设置 AI 助手门户的地址，AI 对话无法打开。请设置环境变量 %@ 或设置项 %@，然后重新启动 "
                                                        "PraVik（见 README 中的“The AI assistant's portal”一节）。");
const QString kCommandDatabaseDamaged = QStringLiteral(
    "命令数据库 %@ 无法读取（%@）。原文件已保留为 %@，并已新建数据库；之前添加的自定义命令需要重新添加。");
const QString kStorageNotWritable = QStringLiteral("无法写入 %@（%@）：设置、语音命令和日志都不会被保存。");

QString localized(const QString& key, const QStringList& arguments)
{
    return NoticeTexts::fill(LGNLocalizedString::lgnAppLocalizedString(key), arguments);
}

} // namespace

QString NoticeTexts::fill(const QString& text, const QStringList& arguments)
{
    static const QString placeholder = QStringLiteral("%@");
    QString result;
    qsizetype from = 0;
    for (const QString& argument : arguments) {
        const qsizetype at = text.indexOf(placeholder, from);
        if (at < 0)
            break;
        result += QStringView(text).mid(from, at - from);
        result += argument;
        from = at + placeholder.size();
    }
    result += QStringView(text).mid(from);
    return result;
}

QString NoticeTexts::backendNotConfigured(const QString& variable, const QString& settingKey)
{
    return localized(kBackendNotConfigured, { variable, settingKey });
}

QString NoticeTexts::chatPortalNotConfigured(const QString& variable, const QString& settingKey)
{
    return localized(kChatPortalNotConfigured, { variable, settingKey });
}

QString NoticeTexts::backendInvalid(const QString& address)
{
    return localized(kBackendInvalid, { address });
}

QString NoticeTexts::backendUnreachable(const QString& address, const QString& reason)
{
    return localized(kBackendUnreachable, { address, reason });
}

QString NoticeTexts::manualNeedsBackend(const QString& variable, const QString& settingKey)
{
    return localized(kManualNeedsBackend, { variable, settingKey });
}

QString NoticeTexts::updatesNeedBackend(const QString& variable, const QString& settingKey)
{
    return localized(kUpdatesNeedBackend, { variable, settingKey });
}

QString NoticeTexts::commandDatabaseDamaged(const QString& path, const QString& reason, const QString& keptAs)
{
    return localized(kCommandDatabaseDamaged, { path, reason, keptAs });
}

QString NoticeTexts::storageNotWritable(const QString& folder, const QString& reason)
{
    return localized(kStorageNotWritable, { folder, reason });
}
