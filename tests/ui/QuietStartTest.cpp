// What a start of the real program writes: a few lines that say what the
// person needs to know, not the browser engine's configuration, and a
// missing Bluetooth adapter once.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

TEST(QuietStart, AStartWritesAFewUsefulLines)
{
    QTemporaryDir home;
    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("PRAVIK_HOME"), home.path());
    env.insert(QStringLiteral("PRAVIK_RESOURCES"), qEnvironmentVariable("PRAVIK_RESOURCES"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
    env.insert(QStringLiteral("ASAN_OPTIONS"), qEnvironmentVariable("ASAN_OPTIONS"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // Nothing of this machine's devices, buses or desktop is touched.
    env.insert(
        QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), QStringLiteral("unix:path=") + home.filePath("no-bus"));
    env.insert(
        QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=") + home.filePath("no-bus"));
    for (const char* layer : { "PRAVIK_KEYTAP", "PRAVIK_KEYPOSTER", "PRAVIK_HID", "PRAVIK_STATUSITEM" })
        env.insert(QString::fromLatin1(layer), QStringLiteral("null"));
    QProcess pravik;
    pravik.setProcessEnvironment(env);
    pravik.setProcessChannelMode(QProcess::MergedChannels);
    pravik.start(QStringLiteral(PRAVIK_APP_BINARY), {});
    ASSERT_TRUE(pravik.waitForStarted(10000));

    // Started with its output piped, it writes to a log file once it has one.
    const QString logFolder = home.filePath(QStringLiteral("Documents/Log"));
    QString text;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 30000 && !text.contains(QStringLiteral("Looking for the mouse"))
        && !text.contains(QStringLiteral("cannot be used yet"))) {
        QThread::msleep(200);
        for (const QFileInfo& file :
            QDir(logFolder).entryInfoList({ QStringLiteral("log_*.log") }, QDir::Files)) {
            QFile log(file.absoluteFilePath());
            if (log.open(QIODevice::ReadOnly))
                text = QString::fromUtf8(log.readAll());
        }
    }
    QThread::msleep(3000); // the settings pages' engine has started by now
    for (const QFileInfo& file :
        QDir(logFolder).entryInfoList({ QStringLiteral("log_*.log") }, QDir::Files)) {
        QFile log(file.absoluteFilePath());
        if (log.open(QIODevice::ReadOnly))
            text = QString::fromUtf8(log.readAll());
    }
    pravik.terminate();
    pravik.waitForFinished(10000);
    // What came before the log file was opened went to the pipe.
    text = QString::fromUtf8(pravik.readAll()) + text;

    EXPECT_TRUE(text.contains(QStringLiteral("cannot be used yet"))) << text.toStdString();
    for (const char* dump : { "GL Type", "Init Parameters", "browser-subprocess-path", "QSG RHI Backend" }) {
        EXPECT_FALSE(text.contains(QString::fromLatin1(dump))) << dump << "\n" << text.toStdString();
    }
    const QStringList lines = text.split(u'\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines.filter(QStringLiteral("Bluetooth")).size(), 1) << text.toStdString();
    EXPECT_EQ(lines.filter(QStringLiteral("Bluetooth adapter")).size(), 1) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("Bluez"))) << text.toStdString();
    // A handful of lines (this offscreen test session adds a few of its own), not dozens.
    EXPECT_LE(lines.size(), 20) << text.toStdString();
}

} // namespace
