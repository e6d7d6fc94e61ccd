#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace platform {
class Preferences;
}

// An earlier scheme of language choices with engine-dependent dictation
// tables (the Microsoft, iFlytek and AIUI codes), the Baidu translation
// table, and the interface, search-engine, mouse-key and device-type name
// lists. Positions are stored in the user defaults. Nothing else in the
// application reads it; the live choices are KWLangManager's.
//
// Dictation engine types: 0 Microsoft, 1 and 3 iFlytek, 4 and 5 AIUI.
class UWLanguageManager {
public:
    static const QString kSearchEngineKey; // "UW_Search_Engine_Key"
    static const QString kWordInputKey; // "UW_Word_Input_Key"
    static const QString kCopyCmdIndexKey; // "copyCmdIndexKey"
    static const QString kMKeyKey; // "UW_MKey_Fuction_Key"
    static const QString kUiLanguageKey; // "uiLanguageIndexKey"
    static const QString kAudioLanguageKey; // "audioLanguageIndexKey"
    static const QString kAudioLanguageForTranslateKey; // "audioLanguageIndexKeyForTranslate"
    static const QString kToLanguageKey; // "toLanguageIndexKey"

    static UWLanguageManager& sharedUWLanguageManager();

    // preferredLanguage: the system's first preferred language ("zh-Hans-CN", ...).
    UWLanguageManager(platform::Preferences& defaults, const QString& preferredLanguage);

    void setAsrLanguageType(qint64 type);
    qint64 asrLanguageType() const { return asrLanguageType_; }

    quint64 searchEngineTag() const { return searchEngineTag_; }
    quint64 wordInputTag() const { return wordInputTag_; }
    quint64 copyCmdIndex() const { return copyCmdIndex_; }
    quint64 mKeyIndex() const { return mKeyIndex_; }
    quint64 uiLanguageIndex() const { return uiLanguageIndex_; }
    quint64 audioLanguageIndex() const { return audioLanguageIndex_; }
    quint64 audioLanguageIndexForTranslate() const { return audioLanguageIndexForTranslate_; }
    quint64 toLanguageIndex() const { return toLanguageIndex_; }

    void setSearchEngineTag(quint64 value);
    void setWordInputTag(quint64 value) { wordInputTag_ = value; } // memory only
    void setCopyCmdIndex(quint64 value);
    void setMKeyIndex(quint64 value);
    void setUiLanguageIndex(quint64 value);
    void setAudioLanguageIndex(quint64 value);
    void setAudioLanguageIndexForTranslate(quint64 value);
    void setToLanguageIndex(quint64 value);

    QStringList readUiLanguageNameList();
    QStringList readWordInputNameList();
    QStringList readSearchEngineNameList();
    QStringList readMKeyNameList();
    QStringList readDeviceTypeNameList();
    QStringList readToLanguageNameList();
    QStringList readAudioLanguageNameList() const; // rebuilt at every call
    // Rebuilds the interface, dictation, translation and search-engine lists.
    void shouldRefreshData();

    QString readAudioLanguageCode() const;
    QString readAudioLanguageCodeForMkeyTranslate() const;
    QString readAudioLanguageName() const;
    QString readAudioLanguageNameForMkeyTranslate() const;
    QString readToLanguageCode() const;
    QString readToLanguageName() const;

private:
    quint64 load(const QString& key, quint64 absent) const;
    QString dictationNameAt(quint64 position) const;
    void store(quint64& field, quint64 value, const QString& key);

    platform::Preferences& defaults_;
    qint64 asrLanguageType_ = 0;
    quint64 searchEngineTag_ = 0;
    quint64 wordInputTag_ = 0;
    quint64 copyCmdIndex_ = 0;
    quint64 mKeyIndex_ = 0;
    quint64 uiLanguageIndex_ = 0;
    quint64 audioLanguageIndex_ = 0;
    quint64 audioLanguageIndexForTranslate_ = 0;
    quint64 toLanguageIndex_ = 0;
    QStringList uiTitleLanguageArray_;
    QStringList searchEngineArray_;
    QStringList mKeyArray_;
    QStringList deviceTypeArray_;
    QStringList toLanguageArray_;
};
