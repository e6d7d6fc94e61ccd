#include "core/LGNLocalizedString.h"

#include "core/KWLangManager.h"
#include "platform/PropertyListCodec.h"
#include "platform/Resources.h"

#include <QHash>
#include <QLocale>
#include <QMutex>
#include <QVariantMap>

namespace {

const QString kDevelopmentLanguage = QStringLiteral("zh-Hans");
const QStringList kLanguages = {QStringLiteral("zh-Hans"), QStringLiteral("en"), QStringLiteral("id"),
                                QStringLiteral("vi"), QStringLiteral("ko")};

// Tables are read once per language and kept; they never change while the
// application runs.
QVariantMap table(const QString& language)
{
    static QMutex mutex;
    static QHash<QString, QVariantMap> cache;
    QMutexLocker lock(&mutex);
    auto it = cache.find(language);
    if (it != cache.end())
        return it.value();
    QVariantMap strings;
    const auto bytes = platform::Resources::read(QStringLiteral("lproj/%1.lproj/Localizable.plist").arg(language));
    if (bytes) {
        const auto parsed = platform::PropertyListCodec::fromXml(*bytes);
        if (parsed && parsed->typeId() == QMetaType::QVariantMap)
            strings = parsed->toMap();
    }
    cache.insert(language, strings);
    return strings;
}

// Maps a system language tag ("zh-Hans-CN", "zh_CN", "en-US") to one of our
// table folders, or an empty string.
QString folderForSystemLanguage(QString tag)
{
    tag.replace(QLatin1Char('_'), QLatin1Char('-'));
    const QString lower = tag.toLower();
    if (lower.startsWith(QLatin1String("zh")))
        return lower.startsWith(QLatin1String("zh-hant")) || lower == QLatin1String("zh-tw")
                || lower == QLatin1String("zh-hk")
            ? QString() // no Traditional Chinese table: next preference
            : kDevelopmentLanguage;
    for (const QString& lang : kLanguages)
        if (lower == lang || lower.startsWith(lang + QLatin1Char('-')))
            return lang;
    return {};
}

} // namespace

QString LGNLocalizedString::lookup(const QString& key, const QString& language)
{
    const QVariant v = table(language).value(key);
    return v.typeId() == QMetaType::QString ? v.toString() : key;
}

QString LGNLocalizedString::preferredTableLanguage(const QStringList& preferredLanguages)
{
    for (const QString& tag : preferredLanguages) {
        const QString folder = folderForSystemLanguage(tag);
        if (!folder.isEmpty())
            return folder;
    }
    return kDevelopmentLanguage;
}

QString LGNLocalizedString::interfaceLanguage(quint64 indexOfUI, const QStringList& preferredLanguages)
{
    const QString folder = languageFolderForIndex(indexOfUI);
    return folder.isEmpty() ? preferredTableLanguage(preferredLanguages) : folder;
}

QString LGNLocalizedString::appInterfaceLanguage()
{
    return interfaceLanguage(KWLangManager::sharedManager().indexOfUI(), QLocale::system().uiLanguages());
}

QString LGNLocalizedString::languageFolderForIndex(quint64 indexOfUI)
{
    return indexOfUI < quint64(kLanguages.size()) ? kLanguages.at(qsizetype(indexOfUI)) : QString();
}

QString LGNLocalizedString::appLocalizedString(const QString& key, quint64 indexOfUI,
                                               const QStringList& preferredLanguages)
{
    return lookup(key, interfaceLanguage(indexOfUI, preferredLanguages));
}

QString LGNLocalizedString::systemLocalizedString(const QString& key, const QStringList& preferredLanguages)
{
    const QString first = preferredLanguages.value(0);
    if (first.contains(QLatin1String("en")) || first.contains(QLatin1String("zh-Hant"))
        || first.contains(QLatin1String("zh-Hans")))
        return lookup(key, preferredTableLanguage(preferredLanguages));
    return lookup(key, QStringLiteral("en"));
}

QString LGNLocalizedString::lgnAppLocalizedString(const QString& key)
{
    return appLocalizedString(key, KWLangManager::sharedManager().indexOfUI(), QLocale::system().uiLanguages());
}

QString LGNLocalizedString::lgnLocalizedString(const QString& key)
{
    return systemLocalizedString(key, QLocale::system().uiLanguages());
}
