// The main() of every test binary: a QApplication (offscreen unless a display
// is asked for) so that widgets, the main queue and sockets work in tests.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

int main(int argc, char** argv)
{
    // Each test binary gets a home of its own, so that no test reads what a
    // user (or an earlier run) left in the real settings, and none writes
    // there. Tests that need a particular home still set their own.
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/pravik-test-home-XXXXXX"));
    if (!home.isValid())
        return 2;
    qputenv("HOME", QFile::encodeName(home.path()));
    for (const char* variable : { "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME" })
        qunsetenv(variable);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The settings pages' browser engine shares its graphics contexts, and
    // refuses its sandbox to the root user (test containers).
    if (geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
