#pragma once

#include <QString>
#include <QStringList>
#include <QVariantList>

#include <functional>
#include <optional>

namespace platform {
class Preferences;
}

// A language list: entries {"name": display name (also an interface-string
// key), "value": the service's code}; positions are the stored indexes.
using LanguageList = QVariantList;

// Every language choice of the application, kept in the user defaults with a
// copy in memory, and the language lists of the cloud services, read from
// property-list resources at each request. Which list applies depends on the
// service region at the moment of the call.
class KWLangManager {
public:
    using RegionProvider = std::function<QString()>;

    static KWLangManager& sharedManager();

    // preferredLanguages: the system's preferred languages, first is most
    // preferred (e.g. "zh-Hans-CN"); region: the current service region code.
    KWLangManager(platform::Preferences& defaults, QStringList preferredLanguages, RegionProvider region);

    static const QString kIndexOfUI, kSearchEngineIndex, kIndexTypingFrom, kTypingFromName, kTypingFromCode,
        kTransFromName, kTransFromCode, kIndexTransFrom, kIndexTransTo, kIndexOcrFrom, kIndexOcrTo,
        kIndexHuaciFrom, kIndexHuaciTo;

    quint64 indexOfUI() const { return indexOfUI_; }
    void setIndexOfUI(quint64 v) { saveIndex(indexOfUI_, v, kIndexOfUI); }
    quint64 searchEngineIndex() const { return searchEngineIndex_; }
    void setSearchEngineIndex(quint64 v) { saveIndex(searchEngineIndex_, v, kSearchEngineIndex); }
    quint64 indexTypingFrom() const { return indexTypingFrom_; }
    void setIndexTypingFrom(quint64 v) { saveIndex(indexTypingFrom_, v, kIndexTypingFrom); }
    quint64 indexTransFrom() const { return indexTransFrom_; }
    void setIndexTransFrom(quint64 v) { saveIndex(indexTransFrom_, v, kIndexTransFrom); }
    quint64 indexTransTo() const { return indexTransTo_; }
    void setIndexTransTo(quint64 v) { saveIndex(indexTransTo_, v, kIndexTransTo); }
    quint64 indexOcrFrom() const { return indexOcrFrom_; }
    void setIndexOcrFrom(quint64 v) { saveIndex(indexOcrFrom_, v, kIndexOcrFrom); }
    quint64 indexOcrTo() const { return indexOcrTo_; }
    void setIndexOcrTo(quint64 v) { saveIndex(indexOcrTo_, v, kIndexOcrTo); }
    quint64 indexHuaciFrom() const { return indexHuaciFrom_; }
    void setIndexHuaciFrom(quint64 v) { saveIndex(indexHuaciFrom_, v, kIndexHuaciFrom); }
    quint64 indexHuaciTo() const { return indexHuaciTo_; }
    void setIndexHuaciTo(quint64 v) { saveIndex(indexHuaciTo_, v, kIndexHuaciTo); }

    QString TypingFromName() const { return typingFromName_; }
    void setTypingFromName(const QString& v) { saveString(typingFromName_, v, kTypingFromName); }
    QString TypingFromCode() const { return typingFromCode_; }
    void setTypingFromCode(const QString& v) { saveString(typingFromCode_, v, kTypingFromCode); }
    QString TransFromName() const { return transFromName_; }
    void setTransFromName(const QString& v) { saveString(transFromName_, v, kTransFromName); }
    QString TransFromCode() const { return transFromCode_; }
    void setTransFromCode(const QString& v) { saveString(transFromCode_, v, kTransFromCode); }

    QVariant getWithKey(const QString& key) const;

    // Lists by service, read from their files at every call; nothing when the
    // file is missing or unreadable.
    static std::optional<LanguageList> loadList(const QString& fileName);
    std::optional<LanguageList> getXunfeiAsrLanguageArray() const;
    std::optional<LanguageList> getXunfeiOcrLanguageArray() const;
    std::optional<LanguageList> getWeiruanOcrLanguageArray() const;
    std::optional<LanguageList> getBaiduOcrLanguageArray() const;
    std::optional<LanguageList> getIfyMachineTransLanguageArray() const;
    std::optional<LanguageList> getMicrosoftTransLanguageArray() const;
    std::optional<LanguageList> getAppleTTSLanguageArray() const;

    // Lists by purpose.
    std::optional<LanguageList> getTypingFromLangeArray() const;
    std::optional<LanguageList> getOcrLangeArray() const;
    std::optional<LanguageList> getTransLangeArray() const;
    std::optional<LanguageList> getHuaciLangeArray() const;
    std::optional<LanguageList> getTTSLangeArray() const;

    // "name" / "value" of the entry at index; an index past the end takes
    // entry 0. A null string for a missing or empty list.
    static QString getLanguageNameWithLanguageList(const std::optional<LanguageList>& list, quint64 index);
    static QString getLanguageCodeWithLanguageList(const std::optional<LanguageList>& list, quint64 index);
    static QStringList getAllNamesWithLanguageList(const std::optional<LanguageList>& list);

private:
    bool isMainland() const;
    void getDefaultValue(const QStringList& preferredLanguages);
    void saveIndex(quint64& field, quint64 value, const QString& key);
    void saveString(QString& field, const QString& value, const QString& key);
    std::optional<quint64> storedIndex(const QString& key) const;
    QString storedString(const QString& key) const;
    static QString entryField(const std::optional<LanguageList>& list, quint64 index, const QString& field);

    platform::Preferences& defaults_;
    RegionProvider region_;
    quint64 indexOfUI_ = 0, searchEngineIndex_ = 0, indexTypingFrom_ = 0, indexTransFrom_ = 0, indexTransTo_ = 0,
            indexOcrFrom_ = 0, indexOcrTo_ = 0, indexHuaciFrom_ = 0, indexHuaciTo_ = 0;
    QString typingFromName_, typingFromCode_, transFromName_, transFromCode_;
};
