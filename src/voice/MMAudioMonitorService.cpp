#include "voice/MMAudioMonitorService.h"

#include "core/KWLangManager.h"
#include "core/LGNLocalizedString.h"
#include "core/MMUserInfo.h"
#include "core/Notifications.h"
#include "device/MMHidManager.h"
#include "device/UWHidapiManager.h"
#include "device/mmUtilities.h"
#include "platform/MainQueue.h"
#include "platform/Preferences.h"
#include "voice/MMAudioMonitorServiceActions.h"
#include "voice/MMAudioObjectManager.h"
#include "voice/UWKeyboardEventManager.h"
#include "voice/UWTipsViewShow.h"
#include "voice/mmSpeechViewWC.h"
#include "voice/mmTypingHelper.h"
#include "voice/mmTypingManager.h"
#include "voice/mmXFYunHaiwaiWebApiDomestic.h"
#include "voice/mmXFYunWebApiDomestic.h"

#include <QVariantMap>

#include <utility>

const QString MMAudioMonitorService::kRecordingTitle = QStringLiteral("PravikREC");

namespace {

const QString kDictationLanguageMark = QStringLiteral("cn"); // Chinese dictation languages ("zh_cn", ...)

bool isVoiceTypingPress(quint64 pressType)
{
    return pressType >= PressTypeVoiceTypingBegin && pressType <= PressTypeHandsFreeOff;
}

} // namespace

namespace audio_monitor {

QString tr(const QString& key)
{
    return LGNLocalizedString::lgnAppLocalizedString(key);
}

// A recognition language by name in the interface language. The stored name
// was written in the interface language of the day it was chosen, so the
// name of the code's entry in the recognition list is used where there is one.
QString spokenLanguageName(const KWLangManager& languages, const QString& code, const QString& storedName)
{
    if (const std::optional<LanguageList> list = languages.getTypingFromLangeArray()) {
        for (const QVariant& entry : *list) {
            const QVariantMap fields = entry.toMap();
            if (!code.isEmpty() && fields.value(QStringLiteral("value")).toString() == code)
                return tr(fields.value(QStringLiteral("name")).toString());
        }
    }
    return storedName;
}

} // namespace audio_monitor

MMAudioMonitorService& MMAudioMonitorService::sharedMMAudioMonitorService()
{
    static auto* service = [] {
        auto* created = new MMAudioMonitorService({ MMUserInfo::sharedMMUserInfo(), KWLangManager::sharedManager(),
            MMHidManager::sharedMMHidManager(),
            UWHidapiManager::sharedUWHidapiManager(), mmUtilities::shareInstance(),
            MMAudioObjectManager::sharedManager(), mmXFYunWebApiDomestic::sharedmmXFYunWebApiDomestic(),
            mmXFYunHaiwaiWebApiDomestic::sharedmmXFYunHaiwaiWebApiDomestic(), mmTypingManager::sharedManager(),
            UWKeyboardEventManager::sharedUWKeyboardEventManager(), UWTipsViewShow::sharedUWTipsViewShow(),
            platform::NotificationCenter::defaultCenter(), platform::MainQueue::shared(),
            platform::Preferences::standard(), {} });
        created->setActions(MMAudioMonitorService::Actions::shared());
        return created;
    }();
    return *service;
}

MMAudioMonitorService::MMAudioMonitorService(Environment environment)
    : env_(std::move(environment))
{
    connectionObserver_ = env_.center.addObserver(notifications::kHadReloadConnectImage,
        [this](const platform::Notification& notification) { reloadDeviceConnectionStatusNoti(notification); });
}

MMAudioMonitorService::~MMAudioMonitorService() = default;

void MMAudioMonitorService::setActions(std::shared_ptr<Actions> actions) { actions_ = std::move(actions); }

void MMAudioMonitorService::beginMouseMonitor()
{
    std::weak_ptr<int> alive = alive_;
    env_.classifier.mousebeginAudioCallback([this, alive](quint64 pressType) {
        if (!alive.expired())
            usePressType(pressType);
    });
}

void MMAudioMonitorService::usePressType(quint64 pressType)
{
    // While hands-free dictation runs, any press but a voice-key click ends it.
    if (LongRecording_ && pressType != PressTypeVoiceClick) {
        shortVoiceTyping_ = false;
        LongRecording_ = false;
        endAsr();
        return;
    }
    thePressType_ = pressType;
    MMwebconfig& config = env_.user.webConfig();
    switch (pressType) {
    case PressTypeVoiceClick:
        simulateKeyboardWithIndex(config.fir_voice_short());
        break;
    case PressTypeTranslationClick:
        simulateKeyboardWithIndex(config.fir_trans_short());
        break;
    case PressTypeAiClick:
        simulateKeyboardWithIndex(config.fir_ai_short());
        break;
    case PressTypeVoiceDoubleClick:
        changeVoiceKeyFunction();
        break;
    case PressTypeVoiceTypingBegin:
    case PressTypeVoiceTranslationBegin:
    case PressTypeVoiceSearchBegin:
    case PressTypeAiVoiceBegin:
        beginAsr();
        break;
    case PressTypeVoiceTypingEnd:
    case PressTypeVoiceTranslationEnd:
    case PressTypeVoiceSearchEnd:
    case PressTypeAiVoiceEnd:
        endAsr();
        break;
    default:
        break;
    }
}

bool MMAudioMonitorService::usesMainlandServices() const
{
    return env_.user.ipCountry().contains(MMUserInfo::kMainlandRegion);
}

mmXFYunDictationClient& MMAudioMonitorService::clientForRegion() const
{
    return usesMainlandServices() ? env_.mainland : env_.overseas;
}

QString MMAudioMonitorService::recognitionLanguageForPressType(quint64 pressType, bool mainland) const
{
    switch (pressType) {
    case PressTypeVoiceTypingBegin:
    case PressTypeVoiceSearchBegin:
    case PressTypeAiVoiceBegin:
        return env_.languages.TypingFromCode();
    case PressTypeHandsFreeOn:
        // Overseas, hands-free dictation listens in the translation source language.
        return mainland ? env_.languages.TypingFromCode() : env_.languages.TransFromCode();
    case PressTypeVoiceTranslationBegin:
        return env_.languages.TransFromCode();
    default:
        return QString();
    }
}

bool MMAudioMonitorService::beginAsr()
{
    if (env_.user.deviceInfo().DeviceConnectionMode() == 0) {
        env_.usbLink.sendGetDeviceInfoFromMouseCallBack();
        return false;
    }
    // A dictation whose end step has not run yet (the key pressed again at
    // once) ends now: its last frame goes out and its last reply is still
    // handled, while the microphone and the audio pass to the new one.
    if (current_ && !speechEnd_)
        current_->client->endAsr();
    current_ = std::make_shared<Dictation>();
    current_->id = ++dictations_;
    current_->pressType = thePressType_;
    current_->client = &clientForRegion();
    showSpeechWindow();
    apiCheck();
    speechEnd_ = false;
    env_.utilities.setMicphoneOpen(true);
    env_.recorder.beginRecordWithRecordorZhiMu(kRecordingTitle);
    if (current_->client == &env_.mainland)
        cnAsr();
    else
        haiwaiasr();
    return true;
}

void MMAudioMonitorService::cnAsr() { startRecognition(env_.mainland, true); }

void MMAudioMonitorService::haiwaiasr() { startRecognition(env_.overseas, false); }

void MMAudioMonitorService::startRecognition(mmXFYunDictationClient& client, bool mainland)
{
    if (!current_)
        return; // only a dictation that began has a recogniser
    current_->lastPasteText = QString();
    if (current_->pressType == PressTypeAiVoiceBegin)
        simulateKeyboardWithIndex(7); // the chat window is open before its first sentence arrives
    theAsrLanguage_ = recognitionLanguageForPressType(current_->pressType, mainland);
    current_->language = theAsrLanguage_;
    current_->client = &client;

    // The client keeps the callbacks of a dictation until its last reply, so
    // a dictation replaced by a newer one still types its last sentence.
    std::shared_ptr<Dictation> dictation = current_;
    std::weak_ptr<int> alive = alive_;
    client.beginAsrWithRecognitionLanguage(
        theAsrLanguage_,
        [this, alive, dictation](bool, const QString& text, RecognitionResultType type) {
            // The success flag is not looked at: whatever text arrives is
            // handled by its type.
            if (!alive.expired())
                handleResult(*dictation, text, type);
        },
        [this, alive, dictation](RecognitionFailure failure) {
            if (!alive.expired())
                recognitionFailed(*dictation, failure);
        });
}

void MMAudioMonitorService::recognitionFailed(const Dictation& dictation, RecognitionFailure failure)
{
    if (!isCurrent(dictation) || speechEnd_)
        return;
    speechWindowText([failure] { return audio_monitor::tr(recognitionFailureMessageKey(failure)); });
}

void MMAudioMonitorService::endAsr()
{
    if (env_.user.deviceInfo().DeviceConnectionMode() == 0 && speechEnd_)
        return;
    std::weak_ptr<Dictation> requested = current_;
    std::weak_ptr<int> alive = alive_;
    env_.executor.asyncAfter(kEndDelay, [this, alive, requested] {
        // A dictation that began after this end was asked for is not ended by it.
        if (alive.expired() || current_ != requested.lock())
            return;
        speechEnd_ = true;
        env_.utilities.setMicphoneOpen(false);
        env_.recorder.endRecord();
        (current_ ? *current_->client : clientForRegion()).endAsr();
        env_.executor.asyncAfter(kCloseDelay, [this, alive, requested] {
            if (!alive.expired() && speechEnd_ && current_ == requested.lock())
                closeSpeechWindow();
        });
    });
}

void MMAudioMonitorService::reloadDeviceConnectionStatusNoti(const platform::Notification& notification)
{
    if (speechEnd_)
        return;
    const QVariantMap object = notification.object.toMap();
    bool ok = false;
    const qlonglong mode = object.value(QStringLiteral("mode")).toLongLong(&ok);
    if (ok && mode == 0)
        endAsr();
}

void MMAudioMonitorService::processingRecognitionResults(const QString& text, RecognitionResultType type)
{
    if (current_)
        handleResult(*current_, text, type);
}

void MMAudioMonitorService::handleResult(Dictation& dictation, const QString& text, RecognitionResultType type)
{
    // The window shows the latest dictation only; an earlier one that still
    // delivers its last sentence is typed without being shown.
    if (isCurrent(dictation)
        && (env_.user.ipCountry() != MMUserInfo::kMainlandRegion
            || (type == RecognitionResultType::RunningText && !text.isEmpty())))
        speechWindowText(text);

    const quint64 pressType = dictation.pressType;
    if (isVoiceTypingPress(pressType)) {
        if (env_.user.webConfig().sec_dynamic_typing() != 0) {
            typeDynamically(dictation, text, type);
            return;
        }
        const bool segmentsAreTyped
            = dictation.language.contains(kDictationLanguageMark) && env_.user.ipCountry() != MMUserInfo::kMainlandRegion;
        const RecognitionResultType typed
            = segmentsAreTyped ? RecognitionResultType::NewSegment : RecognitionResultType::SessionFinished;
        if (type == typed)
            pasteWithText(text);
        return;
    }
    if (type != RecognitionResultType::SessionFinished)
        return;
    switch (pressType) {
    case PressTypeVoiceTranslationBegin:
    case PressTypeVoiceTranslationEnd:
        transWrokWithText(text, dictation.language);
        break;
    case PressTypeVoiceSearchBegin:
    case PressTypeVoiceSearchEnd:
        voiceSearching(text);
        break;
    case PressTypeAiVoiceBegin:
    case PressTypeAiVoiceEnd:
        env_.center.post(notifications::kHadGPTSpeechText, QVariantMap { { QStringLiteral("text"), text } });
        break;
    default:
        break;
    }
}

void MMAudioMonitorService::TypingTextResult(const QString& text, RecognitionResultType type)
{
    if (current_)
        typeDynamically(*current_, text, type);
}

void MMAudioMonitorService::typeDynamically(Dictation& dictation, const QString& text, RecognitionResultType type)
{
    // A segment or a correction is followed by the running text of the
    // session, which says what the session reads now: a correction may
    // replace several earlier segments, not only the last. The typed text
    // follows the running text, so it never holds a segment twice.
    switch (type) {
    case RecognitionResultType::NewSegment:
    case RecognitionResultType::Corrected:
        dictation.runningTextDue = true;
        break;
    case RecognitionResultType::RunningText:
        if (std::exchange(dictation.runningTextDue, false))
            typeToward(dictation, text);
        break;
    case RecognitionResultType::SessionFinished:
        // The next session's text follows this one's.
        dictation.runningTextDue = false;
        typeToward(dictation, text);
        dictation.lastPasteText.clear();
        break;
    }
}

void MMAudioMonitorService::typeToward(Dictation& dictation, const QString& text)
{
    env_.typing.addEditTasks(mmTypingHelper::compareTextWithString1(dictation.lastPasteText, text));
    dictation.lastPasteText = text;
}

void MMAudioMonitorService::pasteWithText(const QString& text)
{
    // Through the typing queue, so a whole text never lands in the middle of
    // typing still in progress.
    env_.typing.addWholePasteTask(text);
}

QString MMAudioMonitorService::speechWindowLabel(quint64 pressType) const
{
    using audio_monitor::tr;
    const KWLangManager& languages = env_.languages;
    if (pressType == PressTypeVoiceTranslationBegin) {
        const QString target = KWLangManager::getLanguageNameWithLanguageList(
            languages.getTransLangeArray(), languages.indexTransTo());
        return QStringLiteral("%1: %2 - %3")
            .arg(tr(QStringLiteral("语音翻译")),
                audio_monitor::spokenLanguageName(
                    languages, languages.TransFromCode(), languages.TransFromName()),
                tr(target));
    }
    QString mode = QStringLiteral("长语音打字");
    if (pressType == PressTypeVoiceTypingBegin)
        mode = QStringLiteral("语音打字");
    else if (pressType == PressTypeVoiceSearchBegin)
        mode = QStringLiteral("语音搜索");
    else if (pressType == PressTypeAiVoiceBegin)
        mode = QStringLiteral("Ai助手");
    return QStringLiteral("%1: %2").arg(tr(mode),
        audio_monitor::spokenLanguageName(languages, languages.TypingFromCode(), languages.TypingFromName()));
}

void MMAudioMonitorService::showSpeechWindow()
{
    if (!speechWC_)
        speechWC_
            = std::make_unique<mmSpeechViewWC>(env_.executor, env_.defaults, env_.recorder, env_.center);
    speechWC_->showWindow();
    // Composed again when the interface language changes during the dictation.
    const quint64 pressType = current_ ? current_->pressType : thePressType_;
    speechWC_->languageLabel([this, pressType] { return speechWindowLabel(pressType); });
    speechWC_->windowText(QStringLiteral("..."));
}

void MMAudioMonitorService::closeSpeechWindow()
{
    if (speechWC_)
        speechWC_->close();
}

void MMAudioMonitorService::speechWindowText(const QString& text)
{
    if (speechWC_)
        speechWC_->windowText(text);
}

void MMAudioMonitorService::speechWindowText(LocalizedText text)
{
    if (speechWC_)
        speechWC_->windowText(std::move(text));
}

void MMAudioMonitorService::apiCheck()
{
    // The credentials of the region and language the dictation will use.
    const bool mainland = current_ ? current_->client == &env_.mainland : usesMainlandServices();
    mmXFYunDictationClient& client = mainland ? env_.mainland : env_.overseas;
    const quint64 pressType = current_ ? current_->pressType : thePressType_;
    if (client.hasCredentials(recognitionLanguageForPressType(pressType, mainland)))
        return;
    speechWindowText([] {
        return audio_monitor::tr(recognitionFailureMessageKey(RecognitionFailure::MissingCredentials));
    });
    std::weak_ptr<Dictation> checked = current_;
    std::weak_ptr<int> alive = alive_;
    env_.executor.asyncAfter(kCredentialsMessageSeconds, [this, alive, checked] {
        // Only a dictation that still runs gets its window back.
        if (!alive.expired() && current_ && current_ == checked.lock() && !speechEnd_)
            showSpeechWindow();
    });
}
