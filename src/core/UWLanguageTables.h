#pragma once

#include <QList>
#include <QStringList>

// The language tables of the older language managers, written into the
// program: flat code and name tables by service, and the same dictation and
// translation languages in 26 sections, one per letter A to Z of the pinyin
// initial of their Chinese names. Name tables hold the Chinese names (the
// interface-string keys); they run row for row beside their code tables.
class UWLanguageTables {
public:
    using Sections = QList<QStringList>;

    static const QStringList& iflyCodes(); // 8
    static const QStringList& aiuiCodes(); // 8
    static const QStringList& baiduDictationCodes(); // 4
    static const QStringList& microsoftAsrCodes(); // 30
    static const QStringList& microsoftAsrNames();
    static const QStringList& microsoftTranslationCodes(); // 64
    static const QStringList& baiduTranslationCodes(); // 211
    static const QStringList& baiduTranslationNames();
    static const QStringList& iflyDictationNames(); // 8, beside the iFlytek and AIUI codes
    static const QStringList& baiduDictationNames(); // 4

    static const Sections& sectionedAsrCodes(); // 30 in 26 sections
    static const Sections& sectionedAsrNames();
    static const Sections& sectionedTranslationCodes(); // 64 in 26 sections
    static const Sections& sectionedTranslationNames();
};
