// The result window's roads against the fake recognition and translation
// services of both regions, failures included.
#include "translate/MMsnipTransWC.h"

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
#include "fakes/FakeTextTranslationService.h"
#include "fakes/FakeWindowList.h"
#include "fakes/VirtualTime.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"
#include "translate/MMMicrosoftOCRRecognition.h"
#include "translate/Selection.h"
#include "translate/SnipManager.h"
#include "translate/XunfeiDocumentOcr.h"

#include <QComboBox>
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
                return window_.translationText() != translationBefore
                    || window_.sourceText().startsWith(QStringLiteral("Error"))
                    || window_.sourceText().startsWith(QStringLiteral("HTTP"));
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
    MMsnipTransWC window_ { { snip_, selection_, user_, languages_, center_, pasteboard_,
        documentOcr_.baseUrl(), machineTranslation_.baseUrl() } };
};

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

TEST_F(ResultWindowTest, RecognitionFailuresAreShownWithTheirReasonAndNotTranslated)
{
    struct Case {
        const char* name;
        bool mainland;
        FakeHttpServer::Reply reply;
        QString expected;
    };
    const Case cases[] = {
        { "service error", true, fakes::FakeDocumentOcrService::error(10163, QStringLiteral("bad image")),
            QStringLiteral("Error: 10163") },
        { "no header", true, FakeHttpServer::Reply::json(R"({"payload":{}})"),
            XunfeiDocumentOcr::kUnreadableReply },
        { "text not Base64", true,
            FakeHttpServer::Reply::json(
                R"({"header":{"code":0},"payload":{"recognizeDocumentRes":{"text":"%%"}}})"),
            XunfeiDocumentOcr::kUnreadableReply },
        { "mainland HTTP error", true, FakeHttpServer::Reply::text("down", 502),
            QStringLiteral("Error: HTTP status 502") },
        { "no words", false, fakes::FakeImageOcrService::recognised(QStringLiteral("en"), {}),
            MMMicrosoftOCRRecognition::kNoText },
        { "not JSON", false, FakeHttpServer::Reply::json("{"), MMMicrosoftOCRRecognition::kUnreadableReply },
        { "overseas HTTP error", false, FakeHttpServer::Reply::json(R"({"error":"quota"})", 429),
            QStringLiteral("HTTP Response Code:429\nError Response:{\"error\":\"quota\"}") },
    };
    for (const Case& k : cases) {
        setRegion(k.mainland ? QStringLiteral("cn") : QStringLiteral("us"));
        (k.mainland ? documentOcr_.server() : imageOcr_.server())
            .enqueue("POST",
                k.mainland ? fakes::FakeDocumentOcrService::kPath : fakes::FakeImageOcrService::kPath,
                k.reply);
        window_.setSourceText({});
        window_.recognizeImage(resultWindowPicture());
        waitForPanes();
        EXPECT_EQ(window_.sourceText(), k.expected) << k.name;
        EXPECT_EQ(window_.translationText(), QString()) << k.name;
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
        EXPECT_TRUE(window_.sourceText().startsWith(QStringLiteral("Error: ")))
            << mainland << " " << window_.sourceText().toStdString();
        EXPECT_GT(window_.sourceText().size(), 7) << "with a reason";
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
    EXPECT_EQ(XunfeiDocumentOcr::readFromResponseDic(timeout).text, QStringLiteral("Error: timed out"));
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

TEST_F(ResultWindowTest, TranslationFailuresAndEmptyAnswersReplaceTheLastTranslation)
{
    struct Case {
        const char* name;
        bool mainland;
        FakeHttpServer::Reply reply;
        QString expected;
    };
    const Case cases[] = {
        { "overseas empty", false, fakes::FakeTextTranslationService::translation(QString()),
            MMsnipTransWC::kEmptyTranslation },
        { "overseas error", false,
            fakes::FakeTextTranslationService::error(401000, QStringLiteral("No."), 401),
            QStringLiteral("ErrorCode=401000,No.") },
        { "mainland empty", true, fakes::FakeMachineTranslationService::translation(QString()),
            MMsnipTransWC::kEmptyTranslation },
        { "mainland error", true, fakes::FakeMachineTranslationService::error(10700, QStringLiteral("bad")),
            QStringLiteral("翻译错误，错误码：10700。") },
    };
    for (const Case& k : cases) {
        setRegion(k.mainland ? QStringLiteral("cn") : QStringLiteral("us"));
        if (k.mainland)
            machineTranslation_.reply(k.reply);
        else
            textTranslation_.reply(k.reply);
        window_.setIsSniping(false);
        window_.translateSelectedText(QStringLiteral("text"));
        waitForPanes(window_.translationText()); // each case's answer differs from the one before
        EXPECT_EQ(window_.translationText(), k.expected) << k.name;
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

} // namespace
