#pragma once

#include "platform/HttpClient.h"

#include <QByteArray>
#include <QString>

#include <functional>

// A second update checker that reads a small XML feed from the maker's
// download storage (origin + "/Wendrix/app_mac.xml") instead of asking the
// back end. Nothing in the application runs it; it is kept usable and tested.
//
// The feed's elements "version", "url", "Content", "title" and "md5" (names
// exact; nesting and other elements ignored) fill the properties of the same
// names: the text of "Content" is gathered, with each "#" a line break; the
// others hold the last piece of text read inside them. A property the feed
// does not supply keeps its value from an earlier check; only the content
// starts empty for each check.
//
// Each check ends with exactly one callback, on the main thread. Newer only
// when this very feed was read to its end without an XML error and carries a
// version (dotted decimal) newer than the application's; a feed that cannot
// be fetched, HTTP errors, broken XML, a missing version or a version text
// that is not a version are Unknown.
class CheckUpdateInfo {
public:
    enum class Outcome { Newer, NotNewer, Unknown };
    using CheckCallBack = std::function<void(Outcome outcome, const QString& downloadUrl)>;

    static const QString kFeedPath; // "/Wendrix/app_mac.xml"
    // Where the storage origin comes from: this environment variable, else
    // the standard defaults' kPreferenceKey. Unset means not configured.
    static const char* const kEnvironmentVariable; // "PRAVIK_UPDATE_FEED_URL"
    static const QString kPreferenceKey; // "UpdateFeedBaseURL"

    // What one feed document holds.
    struct Feed {
        QString version, url, content, title, md5;
        bool hasVersion = false; // this document supplied a version
        bool complete = false; // read to its end without an XML error
    };

    static CheckUpdateInfo& sharedManager();

    CheckUpdateInfo(platform::HttpClient& http, QString storageOrigin, QString myVersion);

    void checkVersion(CheckCallBack callback);

    // The feed document read over the properties of an earlier check.
    static Feed readFeed(const QByteArray& xml, const Feed& previous);
    static Feed readFeed(const QByteArray& xml);
    // The outcome of a feed for the application's version.
    static Outcome outcomeFor(const Feed& feed, const QString& myVersion);
    // YES when the given version is newer than the application's.
    bool compareVersionWithServerVersin(const QString& version) const;

    QString version() const { return feed_.version; }
    QString url() const { return feed_.url; }
    QString content() const { return feed_.content; }
    QString title() const { return feed_.title; }
    QString md5() const { return feed_.md5; }
    // The address to download when the last check found an update, else "".
    QString dmgDownloadURL() const { return dmgDownloadURL_; }

private:
    void finish(Outcome outcome, const CheckCallBack& callback);

    platform::HttpClient& http_;
    QString storageOrigin_;
    QString myVersion_;
    Feed feed_;
    QString dmgDownloadURL_;
};
