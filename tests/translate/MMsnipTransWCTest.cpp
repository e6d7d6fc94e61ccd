// The result window's roads against the fake recognition and translation
// services of both regions, failures included.
#include "translate/HLMachineTranslationRequest.h"
#include "translate/MMsnipTransWC.h"

#include "core/AppStyle.h"
#include "core/KWLangManager.h"
#include "core/LGNLocalizedString.h"
#include "core/MMUserInfo.h"
#include "core/Notifications.h"
#include "fakes/FakeDocumentOcrService.h"
#include "fakes/FakeImageOcrService.h"
#include "fakes/FakeKeyPoster.h"
#include "fakes/FakeMachineTranslationService.h"
#include "fakes/FakePasteboard.h"
#include "fakes/FakeScreenGrabber.h"
#include "fakes/FakeSpeechSynthesizer.h"
#include "fakes/FakeTextTranslationService.h"
#include "fakes/FakeWindowList.h"
#include "fakes/ScreenShot.h"
#include "fakes/VirtualTime.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"
#include "translate/MMMicrosoftOCRRecognition.h"
#include "translate/Selection.h"
#include "translate/SnipManager.h"
#include "translate/XunfeiDocumentOcr.h"

#include <QApplication>
#include <QComboBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using fakes::FakeHttpServer;

QImage resultWindowPicture()
{
    QImage image(120, 40, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.fillRect(10, 10, 50, 20, Qt::black);
    return image;
}

// What the window shows for a failure reason and its detail.
QString shownReason(const QString& reason, const QString& detail = QString())
{
    return LGNLocalizedString::lgnAppLocalizedString(reason).replace(QStringLiteral("%@"), detail);
}

class ResultWindowTest : public ::testing::Test {
protected:
    ResultWindowTest()
    {
        mmApiKeyItem keys;
        keys.ocr_appid = QStringLiteral("ocr-app");
        keys.ocr_appkey = QStringLiteral("ocr-key");
        keys.ocr_appsecret = QStringLiteral("ocr-secret");
        keys.int_ocr_appkey = QStringLiteral("int-ocr-key");
        keys.int_ocr_appsecret = QStringLiteral("int-ocr-secret");
        keys.ots_appid = QStringLiteral("ots-app");
        keys.ots_appkey = QStringLiteral("ots-key");
        keys.ots_appsecret = QStringLiteral("ots-secret");
        keys.azure_ocr_key = QStringLiteral("azure-ocr-key");
        keys.azure_ocr_url = imageOcr_.baseUrl();
        keys.azure_translate_key = QStringLiteral("azure-translate-key");
        keys.azure_translate_url = textTranslation_.address();
        user_.setApikeyItem(keys);
        setRegion(QStringLiteral("us"));
    }

    void setRegion(const QString& region)
    {
        region_ = region;
        user_.setIpCountry(region);
    }

    // Waits until the translation pane shows something other than before,
    // or the source pane shows a failure.
    void waitForPanes(const QString& translationBefore = {})
    {
        FakeHttpServer::waitUntil(
            [&] {
                return window_.translationText() != translationBefore || !window_.message().isEmpty();
            },
            10000);
        FakeHttpServer::waitUntil([] { return false; }, 30);
    }

    QTemporaryDir dir_;
    platform::Preferences prefs_ { dir_.filePath(QStringLiteral("defaults.plist")) };
    MMUserInfo user_ { prefs_ };
    QString region_;
    KWLangManager languages_ { prefs_, { QStringLiteral("en-US") }, [this] { return region_; } };
    fakes::FakeScreenGrabber grabber_;
    fakes::FakeWindowList windows_;
    platform::NotificationCenter center_;
    fakes::FakePasteboard pasteboard_;
    fakes::FakeKeyPoster keys_ { &pasteboard_ };
    fakes::VirtualTime time_;
    SnipManager snip_ { grabber_, windows_, center_, pasteboard_, user_ };
    Selection selection_ { pasteboard_, keys_, time_ };
    fakes::FakeDocumentOcrService documentOcr_ { { QStringLiteral("ocr-app"), QStringLiteral("ocr-key"),
        QStringLiteral("ocr-secret") } };
    fakes::FakeImageOcrService imageOcr_ { QStringLiteral("azure-ocr-key") };
    fakes::FakeMachineTranslationService machineTranslation_ { { QStringLiteral("ots-app"),
        QStringLiteral("ots-key"), QStringLiteral("ots-secret") } };
    fakes::FakeTextTranslationService textTranslation_ { QStringLiteral("azure-translate-key") };
    fakes::FakeSpeechSynthesizer speech_;
    MMsnipTransWC window_ { { snip_, selection_, user_, languages_, center_, pasteboard_,
        documentOcr_.baseUrl(), machineTranslation_.baseUrl(), &speech_, &time_ } };
};

// The window wears the application's look: its font, background and
// rounded buttons in the soft accent colour.
TEST_F(ResultWindowTest, WearsTheApplicationsLook)
{
    window_.show();
    QApplication::processEvents();
    EXPECT_EQ(window_.font().families(), AppStyle::font().families());
    EXPECT_EQ(window_.palette().color(QPalette::Window).name(), AppStyle::kSurface.name());
    const QList<QPushButton*> buttons = window_.findChildren<QPushButton*>();
    ASSERT_FALSE(buttons.isEmpty());
    for (QPushButton* button : buttons) {
        const QImage image
            = window_.grab(QRect(button->mapTo(&window_, QPoint(0, 0)), button->size())).toImage();
        const QColor fill = image.pixelColor(int(3 * image.devicePixelRatio()), image.height() / 2);
        const QColor expected = button->isEnabled() ? AppStyle::kAccentSoft : AppStyle::kLine;
        EXPECT_EQ(fill.name(), expected.name()) << button->text().toStdString();
        EXPECT_NE(image.pixelColor(0, 0), fill) << "rounded: " << button->text().toStdString();
    }
}

TEST_F(ResultWindowTest, OverseasPictureIsRecognisedAndTranslated)
{
    imageOcr_.reply(fakes::FakeImageOcrService::recognised(QStringLiteral("en"),
        { { { QStringLiteral("Hello"), QStringLiteral("there") }, { QStringLiteral("again") } } }));
    textTranslation_.reply(fakes::FakeTextTranslationService::translation(QStringLiteral("Hallo")));
    window_.recognizeImage(resultWindowPicture());
    waitForPanes();
    EXPECT_EQ(window_.sourceText(), QStringLiteral("Hello there \nagain \n"));
    EXPECT_EQ(window_.translationText(), QStringLiteral("Hallo"));
    EXPECT_EQ(imageOcr_.problems(), QStringList());
    EXPECT_EQ(textTranslation_.problems(), QStringList());
    ASSERT_EQ(imageOcr_.received().size(), 1);
    EXPECT_EQ(imageOcr_.received()[0].size(), QSize(120, 40));
    ASSERT_EQ(textTranslation_.received().size(), 1);
    EXPECT_EQ(textTranslation_.received()[0].text, QStringLiteral("Hello there \nagain \n"));

    window_.tts();
    EXPECT_EQ(pasteboard_.text(), QStringLiteral("Hallo"));
}

TEST_F(ResultWindowTest, MainlandPictureIsRecognisedAndTranslatedWithSignedRequests)
{
    setRegion(QStringLiteral("cn"));
    documentOcr_.reply(fakes::FakeDocumentOcrService::recognised(QStringLiteral("你好")));
    machineTranslation_.reply(fakes::FakeMachineTranslationService::translation(QStringLiteral("Hello")));
    window_.setSourceText(QStringLiteral("earlier text"));
    window_.recognizeImage(resultWindowPicture());
    waitForPanes();
    EXPECT_EQ(window_.sourceText(), QStringLiteral("你好")) << "replaced, not appended";
    EXPECT_EQ(window_.translationText(), QStringLiteral("Hello"));
    EXPECT_EQ(documentOcr_.problems(), QStringList());
    EXPECT_EQ(machineTranslation_.problems(), QStringList());
    ASSERT_EQ(documentOcr_.received().size(), 1);
    EXPECT_EQ(documentOcr_.received()[0].convertToFormat(QImage::Format_RGB32), resultWindowPicture());
    ASSERT_EQ(machineTranslation_.received().size(), 1);
    EXPECT_EQ(machineTranslation_.received()[0].text, QStringLiteral("你好"));
}

TEST_F(ResultWindowTest, RecognitionFailuresAreToldBesideThePanesAndNotTranslated)
{
    struct Case {
        const char* name;
        bool mainland;
        FakeHttpServer::Reply reply;
        QString expected;
    };
    const Case cases[] = {
        { "service error", true, fakes::FakeDocumentOcrService::error(10163, QStringLiteral("bad image")),
            shownReason(XunfeiDocumentOcr::kServiceError, QStringLiteral("10163")) },
        { "no header", true, FakeHttpServer::Reply::json(R"({"payload":{}})"),
            shownReason(XunfeiDocumentOcr::kUnreadableReply) },
        { "text not Base64", true,
            FakeHttpServer::Reply::json(
                R"({"header":{"code":0},"payload":{"recognizeDocumentRes":{"text":"%%"}}})"),
            shownReason(XunfeiDocumentOcr::kUnreadableReply) },
        { "no text", true, fakes::FakeDocumentOcrService::recognised(QString()),
            shownReason(XunfeiDocumentOcr::kNoText) },
        { "mainland HTTP error", true, FakeHttpServer::Reply::text("down", 502),
            shownReason(XunfeiDocumentOcr::kHttpError, QStringLiteral("502")) },
        { "no words", false, fakes::FakeImageOcrService::recognised(QStringLiteral("en"), {}),
            shownReason(MMMicrosoftOCRRecognition::kNoText) },
        { "not JSON", false, FakeHttpServer::Reply::json("{"),
            shownReason(MMMicrosoftOCRRecognition::kUnreadableReply) },
        { "overseas HTTP error", false, FakeHttpServer::Reply::json(R"({"error":"quota"})", 429),
            shownReason(MMMicrosoftOCRRecognition::kHttpError, QStringLiteral("429")) },
    };
    for (const Case& k : cases) {
        setRegion(k.mainland ? QStringLiteral("cn") : QStringLiteral("us"));
        (k.mainland ? documentOcr_.server() : imageOcr_.server())
            .enqueue("POST",
                k.mainland ? fakes::FakeDocumentOcrService::kPath : fakes::FakeImageOcrService::kPath,
                k.reply);
        // An earlier result stands in the panes until the failure replaces it.
        window_.setSourceText(QStringLiteral("earlier text"));
        window_.recognizeImage(resultWindowPicture());
        waitForPanes();
        EXPECT_EQ(window_.message(), k.expected) << k.name;
        EXPECT_EQ(window_.sourceText(), QString()) << k.name << ": no failure as recognised text";
        EXPECT_EQ(window_.translationText(), QString()) << k.name;
        EXPECT_FALSE(window_.copyButton()->isEnabled()) << k.name;
    }
    EXPECT_EQ(documentOcr_.problems(), QStringList());
    EXPECT_EQ(imageOcr_.problems(), QStringList());
    // A dropped connection: the transport's reason, on both roads.
    for (bool mainland : { true, false }) {
        setRegion(mainland ? QStringLiteral("cn") : QStringLiteral("us"));
        // Twice: the network stack may send again on a fresh connection.
        for (int i = 0; i < 2; ++i)
            (mainland ? documentOcr_.server() : imageOcr_.server())
                .enqueue("POST",
                    mainland ? fakes::FakeDocumentOcrService::kPath : fakes::FakeImageOcrService::kPath,
                    FakeHttpServer::Reply::closeConnection());
        window_.setSourceText({});
        window_.recognizeImage(resultWindowPicture());
        waitForPanes();
        const QString lead = shownReason(XunfeiDocumentOcr::kTransportError);
        EXPECT_TRUE(window_.message().startsWith(lead)) << mainland << " " << window_.message().toStdString();
        EXPECT_GT(window_.message().size(), lead.size()) << "with a reason";
        EXPECT_EQ(window_.sourceText(), QString());
        (mainland ? documentOcr_.server() : imageOcr_.server()).clearRequests();
    }
    EXPECT_EQ(machineTranslation_.server().requestCount(), 0);
    EXPECT_EQ(textTranslation_.server().requestCount(), 0);
}

TEST(OcrReplyTest, TimeoutsAndWordSpacing)
{
    platform::HttpResponse timeout;
    timeout.error = platform::HttpResponse::Error::Timeout;
    timeout.errorString = QStringLiteral("timed out");
    EXPECT_EQ(XunfeiDocumentOcr::readFromResponseDic(timeout).text, XunfeiDocumentOcr::kTransportError);
    EXPECT_EQ(XunfeiDocumentOcr::readFromResponseDic(timeout).detail, QStringLiteral("timed out"));
    EXPECT_FALSE(MMMicrosoftOCRRecognition::readReply(timeout).ok);

    struct Case {
        QString language;
        QString text;
    };
    for (const Case& k : { Case { QStringLiteral("en"), QStringLiteral("a b \nc d \n") },
             Case { QStringLiteral("zh-Hans"), QStringLiteral("ab\ncd\n") },
             Case { QStringLiteral("ja"), QStringLiteral("a b \nc d \n") } }) {
        platform::HttpResponse reply;
        reply.status = 200;
        reply.body = fakes::FakeImageOcrService::recognised(k.language,
            { { { QStringLiteral("a"), QStringLiteral("b") },
                { QStringLiteral("c"), QStringLiteral("d") } } })
                         .body;
        const OcrResult result = MMMicrosoftOCRRecognition::readReply(reply);
        EXPECT_TRUE(result.ok);
        EXPECT_EQ(result.text, k.text) << k.language.toStdString();
    }
}

TEST_F(ResultWindowTest, TheBodyCarriesTheMainlandAppIdWhateverSetSigns)
{
    setRegion(QStringLiteral("us"));
    const XunfeiDocumentOcr::Credentials credentials = XunfeiDocumentOcr::credentialsFor(user_);
    EXPECT_EQ(credentials.appId, QStringLiteral("ocr-app"));
    EXPECT_EQ(credentials.apiKey, QStringLiteral("int-ocr-key"));
    const platform::HttpRequest request = XunfeiDocumentOcr::signedRequest(credentials, QByteArray("png"),
        QStringLiteral("https://ocr.example"), QStringLiteral("Thu, 10 Dec 2026 10:00:00 GMT"));
    EXPECT_TRUE(request.body.contains("\"app_id\":\"ocr-app\""));
    EXPECT_EQ(request.url.path(), XunfeiDocumentOcr::kPath);
    EXPECT_TRUE(request.url.query(QUrl::FullyEncoded).contains(QStringLiteral("date=Thu%2C%2010%20Dec")));
}

TEST_F(ResultWindowTest, SelectionIsTranslatedFromThePrimarySelection)
{
    pasteboard_.setText(QStringLiteral("selected words"), platform::PasteboardKind::Selection);
    textTranslation_.reply(
        fakes::FakeTextTranslationService::translation(QStringLiteral("ausgewählte Wörter")));
    window_.setIsSniping(false);
    window_.selectionTranslate();
    time_.runPending();
    waitForPanes();
    EXPECT_EQ(window_.sourceText(), QStringLiteral("selected words"));
    EXPECT_EQ(window_.translationText(), QStringLiteral("ausgewählte Wörter"));
    EXPECT_EQ(
        window_.windowTitle(), LGNLocalizedString::lgnAppLocalizedString(MMsnipTransWC::kSelectionFlowTitle));
    EXPECT_TRUE(keys_.presses().empty()) << "no copy needed";
}

TEST_F(ResultWindowTest, TranslationFailuresAndEmptyAnswersAreToldAndClearTheLastTranslation)
{
    struct Case {
        const char* name;
        bool mainland;
        FakeHttpServer::Reply reply;
        QString expected;
    };
    const Case cases[] = {
        { "overseas empty", false, fakes::FakeTextTranslationService::translation(QString()),
            shownReason(MMsnipTransWC::kEmptyTranslation) },
        { "overseas error", false,
            fakes::FakeTextTranslationService::error(401000, QStringLiteral("No."), 401),
            QStringLiteral("ErrorCode=401000,No.") },
        { "mainland empty", true, fakes::FakeMachineTranslationService::translation(QString()),
            shownReason(MMsnipTransWC::kEmptyTranslation) },
        { "mainland error", true, fakes::FakeMachineTranslationService::error(10700, QStringLiteral("bad")),
            LGNLocalizedString::lgnAppLocalizedString(HLMachineTranslationRequest::kServiceErrorFormat).arg(10700) },
    };
    for (const Case& k : cases) {
        setRegion(k.mainland ? QStringLiteral("cn") : QStringLiteral("us"));
        // A good translation first, which the failure must not leave standing.
        if (k.mainland) {
            machineTranslation_.reply(fakes::FakeMachineTranslationService::translation(QStringLiteral("good")));
            machineTranslation_.reply(k.reply);
        } else {
            textTranslation_.reply(fakes::FakeTextTranslationService::translation(QStringLiteral("good")));
            textTranslation_.reply(k.reply);
        }
        window_.setIsSniping(false);
        window_.translateSelectedText(QStringLiteral("first"));
        waitForPanes(window_.translationText());
        ASSERT_EQ(window_.translationText(), QStringLiteral("good")) << k.name;
        ASSERT_TRUE(window_.copyButton()->isEnabled()) << k.name;
        window_.translateSelectedText(QStringLiteral("text"));
        waitForPanes(window_.translationText());
        EXPECT_EQ(window_.message(), k.expected) << k.name;
        EXPECT_EQ(window_.translationText(), QString()) << k.name;
        EXPECT_FALSE(window_.copyButton()->isEnabled()) << k.name << ": nothing to copy";
    }
    EXPECT_EQ(machineTranslation_.problems(), QStringList());
    EXPECT_EQ(textTranslation_.problems(), QStringList());
}

TEST_F(ResultWindowTest, ALanguageChoiceIsStoredAndAnnounced)
{
    int announced = 0;
    platform::ObserverToken token = center_.addObserver(
        notifications::kHadUSBShutdownInfo, [&](const platform::Notification&) { ++announced; });
    window_.setIsSniping(false);
    window_.languageSelectionBtnAction(true, 4);
    EXPECT_EQ(languages_.indexHuaciFrom(), 4u);
    EXPECT_EQ(languages_.indexOcrFrom(), 0u);
    EXPECT_EQ(announced, 1);
    EXPECT_EQ(textTranslation_.server().requestCount(), 0) << "an empty source translates nothing";
    window_.setIsSniping(true);
    window_.languageSelectionBtnAction(false, 2);
    EXPECT_EQ(languages_.indexOcrTo(), 2u);
}

TEST_F(ResultWindowTest, ACaptureEndsInRecognitionThroughTheCallback)
{
    grabber_.setDesktop(resultWindowPicture().scaled(2000, 2000));
    window_.snipTranslate();
    ASSERT_TRUE(snip_.isWorking());
    ASSERT_TRUE(snip_.snipCallback());
    imageOcr_.reply(
        fakes::FakeImageOcrService::recognised(QStringLiteral("en"), { { { QStringLiteral("x") } } }));
    textTranslation_.reply(fakes::FakeTextTranslationService::translation(QStringLiteral("y")));
    snip_.endCapture({});
    snip_.snipCallback()(resultWindowPicture());
    waitForPanes();
    EXPECT_EQ(window_.translationText(), QStringLiteral("y"));
    EXPECT_EQ(
        window_.windowTitle(), LGNLocalizedString::lgnAppLocalizedString(MMsnipTransWC::kSnipFlowTitle));
    EXPECT_GT(window_.fromPopUp()->count(), 1);
}

TEST_F(ResultWindowTest, OnlyTheLatestPicturesRecognitionIsShown)
{
    setRegion(QStringLiteral("cn"));
    // The first picture's answer comes late, after the second's.
    documentOcr_.reply(fakes::FakeDocumentOcrService::recognised(QStringLiteral("old")).after(800));
    documentOcr_.reply(fakes::FakeDocumentOcrService::recognised(QStringLiteral("new")));
    machineTranslation_.reply(fakes::FakeMachineTranslationService::translation(QStringLiteral("neu")));
    window_.recognizeImage(resultWindowPicture());
    ASSERT_TRUE(documentOcr_.server().waitForRequests(1));
    window_.recognizeImage(resultWindowPicture());
    ASSERT_TRUE(documentOcr_.server().waitForRequests(2));
    waitForPanes();
    FakeHttpServer::waitUntil([] { return false; }, 1200); // the late answer arrives
    EXPECT_EQ(window_.sourceText(), QStringLiteral("new"));
    EXPECT_EQ(window_.translationText(), QStringLiteral("neu"));
    EXPECT_EQ(machineTranslation_.server().requestCount(), 1);
}

TEST_F(ResultWindowTest, CopyIsOffUntilThereIsATranslation)
{
    EXPECT_FALSE(window_.copyButton()->isEnabled());
    textTranslation_.reply(fakes::FakeTextTranslationService::translation(QStringLiteral("Hallo")));
    window_.setIsSniping(false);
    window_.translateSelectedText(QStringLiteral("Hello"));
    waitForPanes();
    EXPECT_TRUE(window_.copyButton()->isEnabled());
    window_.copyButton()->click();
    EXPECT_EQ(pasteboard_.text(), QStringLiteral("Hallo"));
}

TEST_F(ResultWindowTest, OpensCentredAndMovesWhenDraggedByItsBackground)
{
    window_.show();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((window_.frameGeometry().center() - screen.center()).manhattanLength(), 1);

    // A drag on the background between the panes and the buttons.
    const QPoint start = window_.copyButton()->geometry().topLeft() - QPoint(4, 4);
    ASSERT_EQ(window_.childAt(start), nullptr) << "the point must be background";
    const QPoint before = window_.pos();
    auto drag = [&](QWidget* target, const QPoint& local) {
        auto send = [&](QEvent::Type type, const QPoint& at, Qt::MouseButtons buttons) {
            QMouseEvent event(
                type, QPointF(at), QPointF(target->mapToGlobal(at)), Qt::LeftButton, buttons, Qt::NoModifier);
            QApplication::sendEvent(target, &event);
        };
        send(QEvent::MouseButtonPress, local, Qt::LeftButton);
        send(QEvent::MouseMove, local + QPoint(30, 20), Qt::LeftButton);
        send(QEvent::MouseButtonRelease, local + QPoint(30, 20), Qt::NoButton);
    };
    drag(&window_, start);
    EXPECT_EQ(window_.pos(), before + QPoint(30, 20));
    // A drag on a control leaves the window where it is.
    drag(window_.retryButton(), QPoint(5, 5));
    EXPECT_EQ(window_.pos(), before + QPoint(30, 20));
}

TEST_F(ResultWindowTest, TheTranslationIsSpokenInTheVoiceOfTheTargetLanguage)
{
    speech_.setVoices({ { QStringLiteral("Bob"), QStringLiteral("en-US") },
        { QStringLiteral("Mei"), QStringLiteral("zh-CN") } });
    textTranslation_.reply(fakes::FakeTextTranslationService::translation(QStringLiteral("Hello")));
    languages_.setIndexOcrTo(2); // English
    window_.setIsSniping(false);
    window_.translateSelectedText(QStringLiteral("你好"));
    waitForPanes();
    EXPECT_EQ(&window_.mytts(), &window_.mytts()) << "one speech output, kept";
    EXPECT_EQ(window_.speakTranslation(), MMTTS::Result::Spoken);
    ASSERT_EQ(speech_.utterances().size(), 1);
    EXPECT_EQ(speech_.utterances()[0].text, QStringLiteral("Hello"));
    ASSERT_TRUE(speech_.utterances()[0].voice);
    EXPECT_EQ(speech_.utterances()[0].voice->name, QStringLiteral("Bob"));
    EXPECT_EQ(window_.speakTranslation(), MMTTS::Result::Stopped);
}

TEST_F(ResultWindowTest, TheOlderRecognitionSendsPngAndAnswersPerRegion)
{
    imageOcr_.server().enqueue("POST", fakes::FakeImageOcrService::kPath31,
        fakes::FakeImageOcrService::recognised(QStringLiteral("en"),
            { { { QStringLiteral("Hello"), QStringLiteral("there") }, { QStringLiteral("again") } }, {},
                { { QStringLiteral("bye") } } }));
    QStringList texts;
    MMMicrosoftOCRRecognition(user_).performOCRWithImage222(resultWindowPicture(), [&](const OcrResult& result) {
        EXPECT_TRUE(result.ok);
        texts << result.text;
    });
    FakeHttpServer::waitUntil([&] { return texts.size() == 2; });
    FakeHttpServer::waitUntil([] { return false; }, 30);
    EXPECT_EQ(texts, (QStringList { QStringLiteral("Hello there again "), QStringLiteral("bye ") }));
    EXPECT_EQ(imageOcr_.problems(), QStringList());
    ASSERT_EQ(imageOcr_.received().size(), 1);
    EXPECT_EQ(imageOcr_.received()[0].convertToFormat(QImage::Format_RGB32), resultWindowPicture())
        << "lossless";

    // Failures are told once, never dropped.
    struct Case {
        const char* name;
        FakeHttpServer::Reply reply;
        QString reason;
    };
    const Case cases[] = {
        { "not JSON", FakeHttpServer::Reply::text("<html>"), MMMicrosoftOCRRecognition::kUnreadableReply },
        { "no words", fakes::FakeImageOcrService::recognised(QStringLiteral("en"), { {} }),
            MMMicrosoftOCRRecognition::kNoText },
        { "HTTP error", FakeHttpServer::Reply::json(R"({"error":{"code":"401"}})", 401),
            MMMicrosoftOCRRecognition::kHttpError },
    };
    for (const Case& k : cases) {
        imageOcr_.server().enqueue("POST", fakes::FakeImageOcrService::kPath31, k.reply);
        QList<OcrResult> results;
        MMMicrosoftOCRRecognition(user_).performOCRWithImage222(
            resultWindowPicture(), [&](const OcrResult& result) { results << result; });
        FakeHttpServer::waitUntil([&] { return !results.isEmpty(); });
        FakeHttpServer::waitUntil([] { return false; }, 30);
        ASSERT_EQ(results.size(), 1) << k.name;
        EXPECT_FALSE(results[0].ok) << k.name;
        EXPECT_EQ(results[0].text, k.reason) << k.name;
    }
}

TEST(OcrReplyTest, TheOlderReadingJoinsEachRegionsWords)
{
    struct Case {
        QString language;
        QStringList texts;
    };
    for (const Case& k : { Case { QStringLiteral("en"), { QStringLiteral("a b c d "), QStringLiteral("e ") } },
             Case { QStringLiteral("zh-Hans"), { QStringLiteral("abcd"), QStringLiteral("e") } },
             Case { QStringLiteral("ja"), { QStringLiteral("abcd"), QStringLiteral("e") } } }) {
        platform::HttpResponse reply;
        reply.status = 200;
        reply.body = fakes::FakeImageOcrService::recognised(k.language,
            { { { QStringLiteral("a"), QStringLiteral("b") }, { QStringLiteral("c"), QStringLiteral("d") } },
                { { QStringLiteral("e") } } })
                         .body;
        QStringList texts;
        for (const OcrResult& result : MMMicrosoftOCRRecognition::readReply222(reply))
            texts << result.text;
        EXPECT_EQ(texts, k.texts) << k.language.toStdString();
    }
}

// The interface language changes while the window is open with a result:
// its titles, buttons and language lists follow at once, in each flow.
TEST_F(ResultWindowTest, AnOpenWindowFollowsALanguageChange)
{
    struct RestoreLanguage {
        KWLangManager& shared = KWLangManager::sharedManager();
        const quint64 before = shared.indexOfUI();
        ~RestoreLanguage() { shared.setIndexOfUI(before); }
    } restore;
    restore.shared.setIndexOfUI(1);
    auto choose = [&](quint64 index) {
        restore.shared.setIndexOfUI(index);
        center_.post(notifications::kHadChangeUILanguage);
    };
    QComboBox* from = nullptr;
    QComboBox* to = nullptr;
    const auto popUps = window_.findChildren<QComboBox*>();
    ASSERT_EQ(popUps.size(), 2);
    from = popUps[0];
    to = popUps[1];

    struct Flow {
        const char* name;
        std::function<void()> open;
        bool sniping;
        QString title;
    };
    const Flow flows[] = {
        { "picture",
            [&] {
                imageOcr_.reply(fakes::FakeImageOcrService::recognised(
                    QStringLiteral("en"), { { { QStringLiteral("Hello") } } }));
                textTranslation_.reply(fakes::FakeTextTranslationService::translation(QStringLiteral("你好")));
                window_.recognizeImage(resultWindowPicture());
                waitForPanes();
            },
            true, MMsnipTransWC::kSnipFlowTitle },
        { "selection",
            [&] {
                textTranslation_.reply(fakes::FakeTextTranslationService::translation(QStringLiteral("你好")));
                window_.translateSelectedText(QStringLiteral("Hello"));
                waitForPanes();
            },
            false, MMsnipTransWC::kSelectionFlowTitle },
    };
    for (const Flow& flow : flows) {
        choose(1);
        window_.setIsSniping(flow.sniping);
        flow.open();
        window_.show();
        ASSERT_GT(to->count(), 0) << flow.name;
        const int fromIndex = from->currentIndex();
        const int toIndex = to->currentIndex();
        const QString englishTo = to->currentText();
        EXPECT_EQ(window_.windowTitle(), LGNLocalizedString::lookup(flow.title, QStringLiteral("en"))) << flow.name;

        choose(0);
        EXPECT_EQ(window_.windowTitle(), flow.title) << flow.name;
        EXPECT_EQ(window_.retryButton()->text(), QStringLiteral("刷新")) << flow.name;
        EXPECT_EQ(window_.copyButton()->text(), QStringLiteral("复制")) << flow.name;
        EXPECT_NE(to->currentText(), englishTo) << flow.name << ": the list of languages stays English";
        EXPECT_EQ(to->currentText(), LGNLocalizedString::lookup(to->currentText(), QStringLiteral("zh-Hans")));
        EXPECT_EQ(from->currentIndex(), fromIndex) << flow.name << ": the choice stays";
        EXPECT_EQ(to->currentIndex(), toIndex) << flow.name;
        EXPECT_EQ(window_.sourceText().isEmpty(), false) << flow.name << ": the result stays";

        choose(1);
        EXPECT_EQ(to->currentText(), englishTo) << flow.name;
        EXPECT_EQ(window_.windowTitle(), LGNLocalizedString::lookup(flow.title, QStringLiteral("en"))) << flow.name;
    }
}

// Pictures of the window for people to look at (scripts/window-shots.sh):
// a translation and a recognition failure, in the language asked for.
TEST_F(ResultWindowTest, PicturesOfTheWindow)
{
    if (!fakes::screenShotsWanted())
        GTEST_SKIP() << "PRAVIK_SHOT_DIR is not set";
    KWLangManager& shared = KWLangManager::sharedManager();
    const quint64 before = shared.indexOfUI();
    shared.setIndexOfUI(fakes::screenShotLanguage());
    center_.post(notifications::kHadChangeUILanguage);
    imageOcr_.reply(fakes::FakeImageOcrService::recognised(QStringLiteral("en"),
        { { { QStringLiteral("Meeting"), QStringLiteral("moved"), QStringLiteral("to"),
                QStringLiteral("Thursday") },
            { QStringLiteral("at"), QStringLiteral("10:30") } } }));
    textTranslation_.reply(
        fakes::FakeTextTranslationService::translation(QStringLiteral("会议改到周四 10:30")));
    window_.recognizeImage(resultWindowPicture());
    waitForPanes();
    FakeHttpServer::waitUntil([] { return false; }, 200);
    EXPECT_FALSE(fakes::saveScreenShot(QStringLiteral("result-window-success")).isEmpty());

    imageOcr_.reply(FakeHttpServer::Reply::json(R"({"error":"quota"})", 429));
    window_.recognizeImage(resultWindowPicture());
    waitForPanes();
    FakeHttpServer::waitUntil([] { return false; }, 200);
    EXPECT_FALSE(fakes::saveScreenShot(QStringLiteral("result-window-failure")).isEmpty());
    shared.setIndexOfUI(before);
}

} // namespace
