#include "fakes/FakePasteboard.h"
#include "platform/QtPasteboard.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>

#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace {

using platform::PasteboardKind;

// The same behaviour from the session's pasteboard and from the fake.
class PasteboardTest : public ::testing::TestWithParam<bool> {
protected:
    std::unique_ptr<platform::Pasteboard> pasteboard = GetParam()
        ? std::unique_ptr<platform::Pasteboard>(std::make_unique<platform::QtPasteboard>())
        : std::unique_ptr<platform::Pasteboard>(std::make_unique<fakes::FakePasteboard>());
};

TEST_P(PasteboardTest, TextRoundTripsAndAbsenceIsNull)
{
    const QString text = QStringLiteral("Grüße 你好 👍🏽\nzweite Zeile");
    pasteboard->setText(text);
    EXPECT_EQ(pasteboard->text(), text);

    pasteboard->setText(QStringLiteral(""));
    EXPECT_FALSE(pasteboard->text().isNull()); // an empty text is still a text
    EXPECT_TRUE(pasteboard->text().isEmpty());

    pasteboard->clear();
    EXPECT_TRUE(pasteboard->text().isNull());

    QImage picture(4, 4, QImage::Format_RGB32);
    picture.fill(Qt::red);
    pasteboard->setText(QStringLiteral("before"));
    pasteboard->setImage(picture);
    EXPECT_TRUE(pasteboard->text().isNull()); // a picture only: no text
}

TEST_P(PasteboardTest, TheWholeContentIsTakenAndPutBack)
{
    QImage picture(4, 4, QImage::Format_ARGB32);
    picture.fill(QColor(10, 200, 30));
    const platform::Pasteboard::Content rich { { { QStringLiteral("text/plain"), "bold words" },
                                                   { QStringLiteral("text/html"), "<b>bold</b> words" } },
        picture };
    pasteboard->setContent(rich);
    EXPECT_EQ(pasteboard->text(), QStringLiteral("bold words"));
    const platform::Pasteboard::Content taken = pasteboard->content();
    EXPECT_EQ(taken, rich);

    pasteboard->setText(QStringLiteral("borrowed"));
    EXPECT_EQ(pasteboard->content().formats.size(), 1u);
    pasteboard->setContent(taken);
    EXPECT_EQ(pasteboard->content(), rich);

    pasteboard->setContent({});
    EXPECT_TRUE(pasteboard->content().isEmpty());
    EXPECT_TRUE(pasteboard->text().isNull());
}

TEST_P(PasteboardTest, WritesFromAnotherThreadAreDoneOnTheMainThread)
{
    std::atomic<bool> done { false };
    QString readBack;
    std::thread typing([&] {
        pasteboard->setText(QStringLiteral("from the typing queue"));
        readBack = pasteboard->text();
        done = true;
    });
    // The main thread keeps its loop turning, as the application's does.
    QElapsedTimer waited;
    waited.start();
    while (!done && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    typing.join();
    EXPECT_EQ(readBack, QStringLiteral("from the typing queue"));
    EXPECT_EQ(pasteboard->text(), QStringLiteral("from the typing queue"));
}

TEST_P(PasteboardTest, SelectionIsSeparateWhereSupported)
{
    if (!pasteboard->supportsSelection())
        GTEST_SKIP() << "this session has no primary selection (covered under X11)";
    pasteboard->setText(QStringLiteral("copied"));
    pasteboard->setText(QStringLiteral("selected"), PasteboardKind::Selection);
    EXPECT_EQ(pasteboard->text(PasteboardKind::Selection), QStringLiteral("selected"));
    EXPECT_EQ(pasteboard->text(), QStringLiteral("copied"));
    pasteboard->clear(PasteboardKind::Selection);
    EXPECT_TRUE(pasteboard->text(PasteboardKind::Selection).isNull());
    EXPECT_EQ(pasteboard->text(), QStringLiteral("copied"));
}

INSTANTIATE_TEST_SUITE_P(QtAndFake, PasteboardTest, ::testing::Values(true, false),
    [](const auto& info) { return info.param ? "Qt" : "Fake"; });

} // namespace
