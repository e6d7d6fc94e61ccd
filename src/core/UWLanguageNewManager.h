#pragma once

#include "core/UWLanguageTables.h"

#include <QString>
#include <QStringList>

namespace platform {
class Preferences;
}

// An earlier scheme of the dictation and translation languages, in 26
// letter sections for an indexed picker. A choice is a position string:
// the section number, "/", the row number ("9/0": section J, row 0, "zh-CN").
// Nothing else in the application reads it; the live choices are
// KWLangManager's.
class UWLanguageNewManager {
public:
    static const QString kAudioKey; // "new_audioLanguageIndexKey"
    static const QString kToKey; // "new_toLanguageIndexKey"
    static const QString kDefaultAudio; // "9/0"
    static const QString kDefaultTo; // "24/0"

    static UWLanguageNewManager& sharedUWLanguageNewManager();

    explicit UWLanguageNewManager(platform::Preferences& defaults);

    QString audioLanguageIndex() const { return audioLanguageIndex_; }
    QString toLanguageIndex() const { return toLanguageIndex_; }
    void setAudioLanguageIndex(const QString& position);
    void setToLanguageIndex(const QString& position);

    // The chosen row; a position that is not "section/row" inside the table
    // gives the defaults: "zh-CN" and 简体中文, "en" and 英语.
    QString readAudioLanguageCode() const;
    QString readAudioLanguageName() const;
    QString readToLanguageCode() const;
    QString readToLanguageName() const;

    // Name tables in the interface language: dictation rebuilt at every
    // call, translation cached until shouldRefreshData().
    UWLanguageTables::Sections readAudioLanguageNameList() const;
    UWLanguageTables::Sections readToLanguageNameList();
    void shouldRefreshData();

private:
    platform::Preferences& defaults_;
    QString audioLanguageIndex_;
    QString toLanguageIndex_;
    UWLanguageTables::Sections toLanguageArray_;
};
