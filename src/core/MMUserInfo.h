#pragma once

#include "core/MMDeviceInfo.h"
#include "core/MMwebconfig.h"
#include "core/mmApiKeyItem.h"

#include <QString>
#include <QVariant>

#include <memory>
#include <optional>

namespace platform {
class Preferences;
}

// The process-wide settings and state: the settings record, the service
// region, the update-check results and two remembered values. Writes the
// first-launch settings once per user account.
class MMUserInfo {
public:
    static MMUserInfo& sharedMMUserInfo();

    // An instance over the given defaults (tests); runs the first-launch rule.
    explicit MMUserInfo(platform::Preferences& defaults);
    MMUserInfo(const MMUserInfo&) = delete;
    MMUserInfo& operator=(const MMUserInfo&) = delete;

    static const QString kHasLaunchedBefore, kJumpVersion, kSnipImgPath;
    static const QString kDefaultOcrShortcut; // "⌘ + 3"
    // The service region of the mainland services: "cn".
    static const QString kMainlandRegion;

    MMwebconfig& webConfig() { return webConfig_; }
    // The connected mouse (memory only).
    MMDeviceInfo& deviceInfo() { return deviceInfo_; }

    // The cloud credentials of the identified device; nothing until the back
    // end has answered (or after it answered with something unusable).
    const std::optional<mmApiKeyItem>& apikeyItem() const { return apikeyItem_; }
    void setApikeyItem(std::optional<mmApiKeyItem> item) { apikeyItem_ = std::move(item); }

    // The server version the user chose to skip; "" means none.
    QString jumpVersion() const;
    void setJumpVersion(const QString& version);
    QString snipImgPath() const;
    void setSnipImgPath(const QString& path);

    // The application's short version string.
    static QString myVersion();

    QString neewVersion() const { return neewVersion_; }
    void setNeewVersion(const QString& v) { neewVersion_ = v; }
    QString updateURL() const { return updateURL_; }
    void setUpdateURL(const QString& v) { updateURL_ = v; }
    // "cn" selects the mainland services; anything else, null included, the
    // overseas ones. Null until a device is identified.
    QString ipCountry() const { return ipCountry_; }
    void setIpCountry(const QString& v) { ipCountry_ = v; }

    // YES exactly once per user account: sets the flag as it answers.
    bool isFirstLaunch();

    void saveObj(const QVariant& value, const QString& key);
    QVariant getObjWithKey(const QString& key) const;

private:
    void writeFirstLaunchSettings();

    platform::Preferences& defaults_;
    MMwebconfig webConfig_;
    MMDeviceInfo deviceInfo_;
    std::optional<mmApiKeyItem> apikeyItem_;
    QString neewVersion_;
    QString updateURL_;
    QString ipCountry_;
};
