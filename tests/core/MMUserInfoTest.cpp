#include "core/MMUserInfo.h"
#include "platform/Preferences.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class MMUserInfoTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString file() const { return dir.filePath(QStringLiteral("defaults.plist")); }
};

TEST_F(MMUserInfoTest, FirstLaunchWritesTheElevenSettingsOnce)
{
    platform::Preferences prefs(file());
    MMUserInfo info(prefs);
    MMwebconfig& c = info.webConfig();

    EXPECT_TRUE(prefs.boolValue(MMUserInfo::kHasLaunchedBefore));
    const std::pair<QString, qlonglong> expected[] = {
        {MMwebconfig::kVoiceShort, 0}, {MMwebconfig::kVoiceLong, 1},   {MMwebconfig::kTransShort, 0},
        {MMwebconfig::kTransLong, 2},  {MMwebconfig::kAiShort, 0},     {MMwebconfig::kAiLong, 3},
        {MMwebconfig::kPunctuation, 1}, {MMwebconfig::kAppStartup, 0}, {MMwebconfig::kBackgroundMode, 0},
        {MMwebconfig::kDynamicTyping, 0},
    };
    for (const auto& [key, value] : expected) {
        const QVariant stored = prefs.value(key);
        EXPECT_EQ(stored.typeId(), QMetaType::LongLong) << key.toStdString();
        EXPECT_EQ(stored.toLongLong(), value) << key.toStdString();
    }
    EXPECT_EQ(c.sec_ocr_ShortcutKey(), QStringLiteral("\u2318 + 3"));
    EXPECT_EQ(c.sec_ocr_ShortcutKey().size(), 5);
    // Never written at first launch; absent reads as 0.
    for (const QString& key : {MMwebconfig::kDpi, MMwebconfig::kDownAddress, MMwebconfig::kHuaciOpen,
                               MMwebconfig::kSearchEngine})
        EXPECT_FALSE(prefs.contains(key)) << key.toStdString();
    EXPECT_EQ(c.fir_dpi(), 0u);
    EXPECT_EQ(c.sec_searchEngine(), 0u);
}

TEST_F(MMUserInfoTest, LaterLaunchesKeepTheUsersChoicesUntilTheFlagIsRemoved)
{
    {
        platform::Preferences prefs(file());
        MMUserInfo first(prefs);
        first.webConfig().setFir_voice_long(4);
        first.webConfig().setBackgroundMode(1);
    }
    {
        platform::Preferences prefs(file()); // a new process reads the file again
        MMUserInfo second(prefs);
        EXPECT_EQ(second.webConfig().fir_voice_long(), 4u);
        EXPECT_EQ(second.webConfig().backgroundMode(), 1u);
        prefs.remove(MMUserInfo::kHasLaunchedBefore);
    }
    platform::Preferences prefs(file());
    MMUserInfo third(prefs);
    EXPECT_EQ(third.webConfig().fir_voice_long(), 1u);
    EXPECT_EQ(third.webConfig().backgroundMode(), 0u);
}

TEST_F(MMUserInfoTest, GettersSeeValuesWrittenByOtherWriters)
{
    platform::Preferences prefs(file());
    MMUserInfo info(prefs);
    prefs.setValue(MMwebconfig::kDpi, qlonglong(3)); // e.g. the mouse's DPI reply
    EXPECT_EQ(info.webConfig().fir_dpi(), 3u);
    prefs.setValue(MMwebconfig::kDpi, qlonglong(-5)); // garbage never reads as a huge level
    EXPECT_EQ(info.webConfig().fir_dpi(), 0u);
}

TEST_F(MMUserInfoTest, StoredAndMemoryOnlyValues)
{
    platform::Preferences prefs(file());
    MMUserInfo info(prefs);
    info.setJumpVersion(QStringLiteral("2.0.1"));
    EXPECT_EQ(prefs.value(MMUserInfo::kJumpVersion).toString(), QStringLiteral("2.0.1"));
    info.setJumpVersion(QStringLiteral(""));
    EXPECT_EQ(info.jumpVersion(), QStringLiteral(""));
    info.setSnipImgPath(QStringLiteral("/tmp/shots"));
    EXPECT_EQ(info.snipImgPath(), QStringLiteral("/tmp/shots"));

    EXPECT_TRUE(info.ipCountry().isNull());
    info.setIpCountry(QStringLiteral("cn"));
    EXPECT_FALSE(prefs.contains(QStringLiteral("ipCountry")));
    EXPECT_FALSE(MMUserInfo::myVersion().isEmpty());
}

} // namespace
