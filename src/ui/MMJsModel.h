#pragma once

#include <QJsonValue>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <optional>

class KWLangManager;
class MMUserInfo;
class UWHomeViewModel;

namespace platform {
class Preferences;
}

// Translates between the settings and the settings pages. One way it builds
// the text of every page-function call (page switch, page data, the two
// command lists, a chosen target, the start-up object); the other way it
// applies the bodies of "mouseSettings", "aiSettings" and
// "refreshInstructionData" to the settings, the language choices, the mouse
// and the custom-command table.
//
// Page bodies are outside input: a body of the wrong kind (an array where an
// object belongs, a text that is no number, a fraction, a number out of the
// setting's range) is refused whole with a log line, so no message is ever
// half applied. Main thread.
class MMJsModel {
public:
    // What the page data is read from and written to.
    struct Services {
        MMUserInfo& user;
        KWLangManager& languages;
        UWHomeViewModel& commands;
        platform::Preferences& defaults; // where local command targets are granted
        std::function<void(quint64 level)> setdpi; // the DPI command to the mouse
        std::function<void(bool on)> setTanURLOpen; // the pop-up-website switch to the mouse
        // Asked for when dynamic typing is switched on: the notice of what to
        // do if typing then fails (kNotice* texts). Shown by whoever shows
        // the pages; none: nothing is shown.
        std::function<void()> showDynamicTypingNotice;
    };

    // Over the process-wide services; no notice (the pages' host gives it).
    static Services sharedServices();

    explicit MMJsModel(Services services);
    const Services& services() const { return services_; }

    // Page messages, as the pages post them.
    static const QString kMouseSettings, kAiSettings, kSelfAdaption, kRefreshInstructionData,
        kExecutionLocation, kCheckLevel, kSetSystemLanguage, kScreenshotTranslationKey, kLogExport;
    // The interface texts of the dynamic-typing notice (lookup keys).
    static const QString kNoticeTitle, kNoticeText, kNoticeConfirm, kNoticeCancel;

    // Called when the page switches selection translation / start at login.
    std::function<void(bool)> huaci;
    std::function<void(bool)> startupBlock;

    // Page-function calls. Every argument is a correctly escaped JavaScript
    // string literal, so any text reaches the page as it is and never runs.
    QString oc_sendMegToH5WithSelectedMenuIndex(quint64 index) const;
    QString reloadWithIndex(quint64 index) const;
    QString oc_sendLocalAppList() const;
    // The same call for a list already read; `count` receives its length.
    QString oc_sendLocalAppList(qsizetype* count) const;
    // Empty when there is no custom command (then nothing is sent).
    QString oc_sendCustomCmdList() const;
    QString loadSomeObjFirst() const;

    QString readUserDefaultWebConfig1st() const;
    QString readUserDefaultWebConfig2nd() const;
    QString readUserDefaultWebConfig5ve() const;
    QString readMyDevModel() const;
    // The page data of a menu row: an empty text for rows 2, 3 and unknown rows.
    QString pageData(quint64 index) const;

    // Appliers; false when the body was refused or held no known key.
    bool saveWebConfig1stWebWithMsg(const QJsonValue& body);
    bool saveWebConfig2ndWebWithMsg(const QJsonValue& body);
    bool saveCustomInstructionList(const QJsonValue& body);

    // The "setSystemLanguage" body: an interface-language index 0 to 4 as a
    // number or a numeric text; nothing for anything else.
    static std::optional<quint64> systemLanguageIndex(const QJsonValue& body);
    // A body value read as a whole number within [0, maximum]: a JSON number
    // without fraction or a text of decimal digits; nothing otherwise.
    static std::optional<quint64> integerValue(const QJsonValue& value, quint64 maximum);

private:
    Services services_;
};
