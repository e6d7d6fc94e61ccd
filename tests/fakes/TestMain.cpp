// The main() of every test binary: a QApplication (offscreen unless a display
// is asked for) so that widgets, the main queue and sockets work in tests.
#include <QApplication>

#include <gtest/gtest.h>

#include <unistd.h>

int main(int argc, char** argv)
{
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
