// The Linux system facts: the version from os-release in its shell-like
// forms, the model from the firmware's product name, and the fallbacks.
#include "platform/SystemFacts.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(SystemFactsTest, VersionIDIsReadFromOsReleaseInItsQuotingForms)
{
    struct Case {
        const char* contents;
        const char* expected;
    };
    const Case cases[] = {
        { "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n", "12" },
        { "VERSION_ID=22.04\n", "22.04" },
        { "VERSION_ID='3.18.4'\n", "3.18.4" },
        { "  VERSION_ID=\"a\\\"b\"  \n", "a\"b" },
        { "VERSION=\"12 (bookworm)\"\nID=debian\n", "" }, // rolling releases have none
        { "# VERSION_ID=\"9\"\nVERSION_ID=\"10\"\n", "10" },
        { "VERSION_ID=\"unterminated\n", "\"unterminated" },
        { "VERSION_ID=\n", "" },
        { "", "" },
        { "\x00\xff\xfe VERSION_ID", "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.contents);
        EXPECT_EQ(platform::LinuxSystemFacts::versionIDFromOsRelease(QByteArray(c.contents)),
            QString::fromUtf8(c.expected));
    }
}

TEST(SystemFactsTest, FilesGiveVersionAndModelWithFallbacks)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString osRelease = dir.filePath(QStringLiteral("os-release"));
    const QString productName = dir.filePath(QStringLiteral("product_name"));
    QFile release(osRelease);
    ASSERT_TRUE(release.open(QIODevice::WriteOnly));
    release.write("ID=debian\nVERSION_ID=\"12\"\n");
    release.close();
    QFile product(productName);
    ASSERT_TRUE(product.open(QIODevice::WriteOnly));
    product.write("ThinkPad X1 Carbon Gen 9\n");
    product.close();

    const platform::LinuxSystemFacts facts(osRelease, productName);
    EXPECT_EQ(facts.osVersion(), QStringLiteral("12"));
    EXPECT_EQ(facts.deviceModel(), QStringLiteral("ThinkPad X1 Carbon Gen 9"));

    // Unreadable or blank: no version, and the generic model.
    const platform::LinuxSystemFacts missing(dir.filePath(QStringLiteral("none")), dir.filePath(QStringLiteral("none")));
    EXPECT_EQ(missing.osVersion(), QString());
    EXPECT_EQ(missing.deviceModel(), platform::LinuxSystemFacts::kUnknownDeviceModel);
    ASSERT_TRUE(product.open(QIODevice::WriteOnly | QIODevice::Truncate));
    product.write(" \n");
    product.close();
    EXPECT_EQ(facts.deviceModel(), QStringLiteral("linux"));
    // A file far longer than any product name is cut, not read whole.
    ASSERT_TRUE(product.open(QIODevice::WriteOnly | QIODevice::Truncate));
    product.write(QByteArray(1 << 20, 'x'));
    product.close();
    EXPECT_EQ(facts.deviceModel().size(), 256);

    // The version is read anew on each call (a system update while running).
    ASSERT_TRUE(release.open(QIODevice::WriteOnly | QIODevice::Truncate));
    release.write("VERSION_ID=13\n");
    release.close();
    EXPECT_EQ(facts.osVersion(), QStringLiteral("13"));
}

TEST(SystemFactsTest, TheSessionsLanguagesAndTimeZoneAreReported)
{
    const platform::SystemFacts& facts = platform::SystemFacts::shared();
    EXPECT_FALSE(facts.preferredLanguages().isEmpty());
    const int offset = facts.timeZoneOffsetSeconds();
    EXPECT_GE(offset, -14 * 3600);
    EXPECT_LE(offset, 14 * 3600);
}

} // namespace
