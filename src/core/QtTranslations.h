#pragma once

#include <QString>

#include <memory>

class QTranslator;

// Qt's own texts (the standard buttons of message boxes and dialogs, the
// file dialog's labels) in the interface language, from the translation
// files of the Qt installation. Holds at most one installed translation;
// applying another language replaces it.
class QtTranslations {
public:
    QtTranslations();
    ~QtTranslations();
    QtTranslations(const QtTranslations&) = delete;
    QtTranslations& operator=(const QtTranslations&) = delete;

    // The name of Qt's translation file for an interface-string table folder
    // ("zh-Hans" -> "qtbase_zh_CN").
    static QString fileNameForLanguage(const QString& tableLanguage);

    // Installs Qt's translation for the table language (removing the one
    // installed before) and returns whether Qt's texts are now in that
    // language (English needs no file). Where Qt has no translation for the
    // language its built-in English stays, never the previous language.
    bool apply(const QString& tableLanguage, const QString& folder);
    // The same with the Qt installation's translation folder.
    bool apply(const QString& tableLanguage);

private:
    std::unique_ptr<QTranslator> translator_;
};
