#include "core/MMUserInfo.h"

#include "platform/Preferences.h"

const QString MMUserInfo::kMainlandRegion = QStringLiteral("cn");
const QString MMUserInfo::kHasLaunchedBefore = QStringLiteral("HasLaunchedBefore_2");
const QString MMUserInfo::kJumpVersion = QStringLiteral("jumpVersionKey");
const QString MMUserInfo::kSnipImgPath = QStringLiteral("snipImgPathKey");
const QString MMUserInfo::kDefaultOcrShortcut = QStringLiteral("\u2318 + 3");

MMUserInfo& MMUserInfo::sharedMMUserInfo()
{
    static MMUserInfo* shared = new MMUserInfo(platform::Preferences::standard());
    return *shared;
}

MMUserInfo::MMUserInfo(platform::Preferences& defaults)
    : defaults_(defaults)
    , webConfig_(defaults)
{
    if (isFirstLaunch())
        writeFirstLaunchSettings();
}

bool MMUserInfo::isFirstLaunch()
{
    if (defaults_.boolValue(kHasLaunchedBefore, false))
        return false;
    defaults_.setValue(kHasLaunchedBefore, true);
    return true;
}

void MMUserInfo::writeFirstLaunchSettings()
{
    MMwebconfig& c = webConfig_;
    c.setFir_voice_short(0);
    c.setFir_voice_long(1);
    c.setFir_trans_short(0);
    c.setFir_trans_long(2);
    c.setFir_ai_short(0);
    c.setFir_ai_long(3);
    c.setSec_punctution(1);
    c.setAppstartup(0);
    c.setBackgroundMode(0);
    c.setSec_dynamic_typing(0);
    c.setSec_ocr_ShortcutKey(kDefaultOcrShortcut);
}

QString MMUserInfo::jumpVersion() const
{
    return getObjWithKey(kJumpVersion).toString();
}

void MMUserInfo::setJumpVersion(const QString& version)
{
    saveObj(version, kJumpVersion);
}

QString MMUserInfo::snipImgPath() const
{
    return getObjWithKey(kSnipImgPath).toString();
}

void MMUserInfo::setSnipImgPath(const QString& path)
{
    saveObj(path, kSnipImgPath);
}

QString MMUserInfo::myVersion()
{
    return QStringLiteral(PRAVIK_VERSION);
}

void MMUserInfo::saveObj(const QVariant& value, const QString& key)
{
    defaults_.setValue(key, value);
}

QVariant MMUserInfo::getObjWithKey(const QString& key) const
{
    return defaults_.value(key);
}
