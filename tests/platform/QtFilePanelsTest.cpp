#include "platform/QtFilePanels.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

// Answers the next modal file dialog the way a user would: selects the
// path in it and presses its accept button (or cancels).
void answerNextFilePanel(std::function<void(QFileDialog&)> answer)
{
    auto* poll = new QTimer;
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, [poll, answer] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        poll->stop();
        poll->deleteLater();
        answer(*dialog);
    });
    poll->start();
}

TEST(QtFilePanelsTest, TheOpenPanelTakesAFileOrAFolder)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("notes.txt"));
    QFile(file).open(QIODevice::WriteOnly);
    const QString folder = dir.filePath(QStringLiteral("Music"));
    QDir().mkpath(folder);
    platform::QtFilePanels panels;
    for (const QString& target : { file, folder }) {
        answerNextFilePanel([target](QFileDialog& dialog) {
            EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Pick"));
            // The path typed into the name field, as a user can: selecting it
            // in the list depends on the listing, which loads on a thread.
            auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            name->setText(target);
            static_cast<QDialog&>(dialog).accept(); // what the accept button does
        });
        const std::optional<QString> chosen = panels.chooseFileOrFolder(nullptr, QStringLiteral("Pick"), QStringLiteral("Choose"), dir.path());
        ASSERT_TRUE(chosen.has_value());
        EXPECT_EQ(*chosen, QDir::cleanPath(target));
    }
    answerNextFilePanel([](QFileDialog& dialog) { dialog.reject(); });
    EXPECT_FALSE(panels.chooseFileOrFolder(nullptr, QStringLiteral("Pick"), QStringLiteral("Choose"), dir.path()).has_value());
}

TEST(QtFilePanelsTest, TheSavePanelProposesTheNameAndKeepsTheSuffix)
{
    QTemporaryDir dir;
    platform::QtFilePanels panels;
    QString proposed;
    answerNextFilePanel([&proposed, &dir](QFileDialog& dialog) {
        proposed = dialog.selectedFiles().value(0);
        // Typed into the name field, as a user can: a selection made through
        // the list races the listing, which loads on a thread.
        auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setText(dir.filePath(QStringLiteral("export")));
        static_cast<QDialog&>(dialog).accept();
    });
    const std::optional<QString> chosen
        = panels.chooseSaveLocation(nullptr, QStringLiteral("DocumentFolder.zip"), QStringLiteral("Where"), "zip");
    EXPECT_TRUE(proposed.endsWith(QStringLiteral("DocumentFolder.zip"))) << proposed.toStdString();
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, dir.filePath(QStringLiteral("export.zip")));
}

} // namespace
