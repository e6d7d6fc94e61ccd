// The key-side actions of the voice-key orchestrator: the click functions of
// the keys, the voice key's double click, hands-free dictation, voice search
// and voice translation.
#include "voice/MMAudioMonitorServiceActions.h"

#include "core/AppDelegate.h"
#include "core/KWLangManager.h"
#include "core/LGNLocalizedString.h"
#include "core/MMUserInfo.h"
#include "core/Notifications.h"
#include "core/StringCoding.h"
#include "device/MMHidManager.h"
#include "voice/UWKeyboardEventManager.h"
#include "voice/UWTipsViewShow.h"
#include "voice/mmTypingManager.h"

#include <QUrl>

namespace {

const QString kFileTarget = QStringLiteral("file");
const QString kActionsFileScheme = QStringLiteral("file:///");
const QString kTranslationService = QStringLiteral("ify");

enum ClickFunction : quint64 {
    kReturn = 1,
    kDelete = 2,
    kCopy = 3,
    kPaste = 4,
    kScreenshotTranslation = 5,
    kMainWindow = 6,
    kAiChat = 7,
    kPageUp = 8,
    kPageDown = 9,
    kHandsFree = 10,
};

} // namespace

void MMAudioMonitorService::simulateKeyboardWithIndex(quint64 function)
{
    UWKeyboardEventManager& keys = env_.keys;
    switch (function) {
    case kReturn:
        keys.postKeyboardEvent(UWKeyboardEventManager::kVirtualKeyReturn, true);
        break;
    case kDelete:
        keys.postKeyboardEvent(UWKeyboardEventManager::kVirtualKeyDelete, true);
        break;
    case kCopy:
        keys.postKeyboardEventCombinationKeyDown(
            UWKeyboardEventManager::kVirtualKeyC, UWKeyboardEventManager::kCommandFlag, true);
        break;
    case kPaste:
        keys.postKeyboardEventCombinationKeyDown(
            UWKeyboardEventManager::kVirtualKeyV, UWKeyboardEventManager::kCommandFlag, true);
        break;
    case kScreenshotTranslation:
        env_.center.post(notifications::kHadSnipTrans);
        break;
    case kMainWindow:
        showMainWindow();
        break;
    case kAiChat:
        env_.center.post(notifications::kHadOpenGPT);
        break;
    case kPageUp:
        keys.postKeyboardEvent(UWKeyboardEventManager::kVirtualKeyPageUp, true);
        break;
    case kPageDown:
        keys.postKeyboardEvent(UWKeyboardEventManager::kVirtualKeyPageDown, true);
        break;
    case kHandsFree:
        toggleHandsFree();
        break;
    default:
        break;
    }
}

void MMAudioMonitorService::toggleHandsFree()
{
    if (!shortVoiceTyping_) {
        thePressType_ = PressTypeHandsFreeOn;
        // Without a device no dictation starts, and hands-free stays off so
        // that the next press is not taken to end a dictation that never ran.
        if (beginAsr()) {
            shortVoiceTyping_ = true;
            LongRecording_ = true;
        }
        return;
    }
    shortVoiceTyping_ = false;
    LongRecording_ = false;
    thePressType_ = PressTypeHandsFreeOff;
    endAsr();
}

void MMAudioMonitorService::showMainWindow()
{
    if (env_.showMainWindow) {
        env_.showMainWindow();
        return;
    }
    if (AppDelegate* delegate = AppDelegate::shared())
        delegate->openApp();
}

void MMAudioMonitorService::changeVoiceKeyFunction()
{
    MMwebconfig& config = env_.user.webConfig();
    const bool wasTyping = config.fir_voice_long() == 1;
    config.setFir_voice_long(wasTyping ? 2 : 1);
    env_.center.post(notifications::kHadProductConnected);
    env_.tips.showTextWithString(LocalizedText([wasTyping] {
        const auto tr = [](const char* key) {
            return LGNLocalizedString::lgnAppLocalizedString(QString::fromUtf8(key));
        };
        return QStringLiteral("%1: %2").arg(tr("语音键功能"), tr(wasTyping ? "语音翻译" : "语音打字"));
    }));
}

QString MMAudioMonitorService::searchPrefixForEngine(quint64 engine)
{
    switch (engine) {
    case 0:
        return QStringLiteral("https://www.baidu.com/s?ie=utf-8&wd=");
    case 1:
        return QStringLiteral("https://www.google.com/search?ei=UTF-8&q=");
    case 2:
        return QStringLiteral("https://www.bing.com/search?q=");
    default:
        return QString();
    }
}

void MMAudioMonitorService::voiceSearching(const QString& text)
{
    if (text.isEmpty() || !actions_)
        return;
    const QString query = StringCoding::deleteCharacters(text);
    if (query.isEmpty())
        return;

    if (actions_->customCommands) {
        const QString word = StringCoding::deleteCharacters(query);
        for (const MMCustomCmdItem& command : actions_->customCommands()) {
            if (command.word().compare(word, Qt::CaseInsensitive) == 0) {
                if (actions_->openTarget)
                    actions_->openTarget(
                        command.todo(), command.todo().startsWith(kActionsFileScheme) ? kFileTarget : QString());
                return;
            }
        }
    }
    if (actions_->applications) {
        const QString name = StringCoding::deleteCharacters(query).remove(QLatin1Char(' '));
        for (const MMAppdataItem& application : actions_->applications()) {
            // Blanks count on neither side: an application whose name has
            // one could otherwise never be opened by voice.
            if (QString(application.cmdword()).remove(QLatin1Char(' ')).compare(name, Qt::CaseInsensitive) == 0) {
                if (actions_->openTarget)
                    actions_->openTarget(application.path(), kFileTarget);
                return;
            }
        }
    }
    const QString prefix = searchPrefixForEngine(env_.user.webConfig().sec_searchEngine());
    if (actions_->openTarget) {
        // The query is encoded, so "&", "#" or "+" in what was said stay part of it.
        const QString address = prefix.isEmpty()
            ? query
            : prefix + QString::fromLatin1(QUrl::toPercentEncoding(query));
        actions_->openTarget(address, QString());
    }
}

void MMAudioMonitorService::transWrokWithText(const QString& text, const QString& recognitionLanguage)
{
    if (text.isEmpty())
        return;
    const QString to = KWLangManager::getLanguageCodeWithLanguageList(
        env_.languages.getTransLangeArray(), env_.languages.indexTransTo());
    // The language the sentence was said in, not that of a dictation begun since.
    const QString from = StringCoding::conversionlanguagecodeToTranslationLanguagecodeWithLanguage(
        recognitionLanguage, kTranslationService);
    if (env_.user.ipCountry() == MMUserInfo::kMainlandRegion)
        transWithFrom(from, to, text);
    else
        microsoftTransWithFrom(from, to, text);
}

void MMAudioMonitorService::typeTranslation(const QString& text)
{
    if (env_.user.webConfig().sec_dynamic_typing() != 0)
        env_.typing.addPasteTask(text);
    else
        pasteWithText(text);
}

void MMAudioMonitorService::transWithFrom(const QString& from, const QString& to, const QString& text)
{
    if (!actions_ || !actions_->mainlandTranslation)
        return;
    std::weak_ptr<int> alive = alive_;
    actions_->mainlandTranslation(from, to, text, [this, alive](const QString& translation) {
        if (!alive.expired() && !translation.isEmpty())
            typeTranslation(translation);
    });
}

void MMAudioMonitorService::microsoftTransWithFrom(const QString& from, const QString& to, const QString& text)
{
    if (!actions_ || !actions_->overseasTranslation)
        return;
    std::weak_ptr<int> alive = alive_;
    actions_->overseasTranslation(from, StringCoding::translatorTargetCode(to), text, [this, alive](bool success, const QString& translation) {
        if (alive.expired())
            return;
        if (!success) {
            pasteWithText(translation);
            return;
        }
        if (!translation.isEmpty())
            typeTranslation(translation);
    });
}
