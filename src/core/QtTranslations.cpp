#include "core/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace QtTranslationsFile {

// Qt names its files by locale; our tables by script for Chinese.
const QString kSimplifiedChineseTable = QStringLiteral("zh-Hans");
const QString kSimplifiedChineseQt = QStringLiteral("zh_CN");
const QString kPrefix = QStringLiteral("qtbase_");
// Qt's texts are written in English: nothing to load.
const QString kSourceLanguage = QStringLiteral("en");

} // namespace QtTranslationsFile

QtTranslations::QtTranslations() = default;

QtTranslations::~QtTranslations()
{
    if (translator_)
        QCoreApplication::removeTranslator(translator_.get());
}

QString QtTranslations::fileNameForLanguage(const QString& tableLanguage)
{
    using namespace QtTranslationsFile;
    QString locale = tableLanguage == kSimplifiedChineseTable ? kSimplifiedChineseQt : tableLanguage;
    locale.replace(QLatin1Char('-'), QLatin1Char('_'));
    return kPrefix + locale;
}

bool QtTranslations::apply(const QString& tableLanguage, const QString& folder)
{
    if (translator_) {
        QCoreApplication::removeTranslator(translator_.get());
        translator_.reset();
    }
    if (tableLanguage.isEmpty())
        return false;
    if (tableLanguage == QtTranslationsFile::kSourceLanguage)
        return true;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(fileNameForLanguage(tableLanguage), folder) || translator->isEmpty()) {
        qInfo("Qt has no translation for \"%s\" in %s: its own dialog texts stay in English",
            qUtf8Printable(tableLanguage), qUtf8Printable(folder));
        return false;
    }
    if (!QCoreApplication::installTranslator(translator.get()))
        return false;
    translator_ = std::move(translator);
    return true;
}

bool QtTranslations::apply(const QString& tableLanguage)
{
    return apply(tableLanguage, QLibraryInfo::path(QLibraryInfo::TranslationsPath));
}
