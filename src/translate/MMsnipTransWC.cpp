#include "translate/MMsnipTransWC.h"

#include "core/AppStyle.h"
#include "core/HLParamTools.h"
#include "core/KWLangManager.h"
#include "core/LGNLocalizedString.h"
#include "core/MMUserInfo.h"
#include "core/MMViewGeometry.h"
#include "core/Notifications.h"
#include "core/StringCoding.h"
#include "platform/MainQueue.h"
#include "platform/Pasteboard.h"
#include "platform/SpeechSynthesizer.h"
#include "translate/HLMachineTranslationRequest.h"
#include "translate/MMMicrosoftOCRRecognition.h"
#include "translate/Selection.h"
#include "translate/SnipManager.h"
#include "translate/XunfeiDocumentOcr.h"
#include "translate/mmMicrosoftTextTrans.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QTextEdit>
#include <QWindow>

#include <utility>

const QString MMsnipTransWC::kFromTitle = QStringLiteral("原文");
const QString MMsnipTransWC::kToTitle = QStringLiteral("翻译");
const QString MMsnipTransWC::kSnipTitle = QStringLiteral("PraVik截屏翻译");
const QString MMsnipTransWC::kSelectionTitle = QStringLiteral("PraVik划词翻译");
const QString MMsnipTransWC::kSnipFlowTitle = QStringLiteral("PraVik 截屏翻译");
const QString MMsnipTransWC::kSelectionFlowTitle = QStringLiteral("PraVik 划词翻译");
const QString MMsnipTransWC::kRetryTitle = QStringLiteral("刷新");
const QString MMsnipTransWC::kCopyTitle = QStringLiteral("复制");
const QString MMsnipTransWC::kEmptyTranslation = QStringLiteral("翻译服务没有返回译文。");

namespace {

const QString kSnipTransOcrApi = QStringLiteral("ify");

QString snipTransLocalized(const QString& key)
{
    return LGNLocalizedString::lgnAppLocalizedString(key);
}

QTextEdit* snipTransTextView(QWidget* parent)
{
    auto* view = new QTextEdit(parent);
    view->setAcceptRichText(false);
    // The family is named: a style sheet's font size alone gives the
    // default family, not the window's.
    view->setStyleSheet(
        QStringLiteral("QTextEdit { border: 1px solid %1; border-radius: 10px; padding: 10px;"
                       " color: %2; font-family: \"%3\"; font-size: 16px;"
                       " background: transparent; }")
            .arg(AppStyle::kLine.darker(115).name(), AppStyle::kInk.name(), AppStyle::font().family()));
    return view;
}

} // namespace

MMsnipTransWC::MMsnipTransWC()
    : MMsnipTransWC(Services { SnipManager::sharedInstance(), Selection::shared(),
        MMUserInfo::sharedMMUserInfo(), KWLangManager::sharedManager(),
        platform::NotificationCenter::defaultCenter(), platform::Pasteboard::shared(),
        XunfeiDocumentOcr::configuredBaseUrl(), HLMachineTranslationRequest::configuredBaseUrl() })
{
}

MMsnipTransWC::MMsnipTransWC(Services services)
    : QWidget(nullptr, Qt::Window)
    , services_(std::move(services))
{
    loadSubviews();
    init_uidata();
    languageToken_ = services_.center.addObserver(
        notifications::kHadChangeUILanguage, [this](const platform::Notification&) { init_uidata(); });
}

void MMsnipTransWC::loadSubviews()
{
    resize(720, 420);
    AppStyle::applyTo(this);
    fromTitleLb_ = new QLabel(this);
    toTitleLb_ = new QLabel(this);
    langListBtnFrom_ = new QComboBox(this);
    langListBtnTo_ = new QComboBox(this);
    fromTextView_ = snipTransTextView(this);
    toTextView_ = snipTransTextView(this);
    retryButton_ = new QPushButton(this);
    playButton_ = new QPushButton(this);
    messageLb_ = new QLabel(this);
    messageLb_->setWordWrap(true);
    messageLb_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    messageLb_->setProperty("role", QStringLiteral("error"));
    messageLb_->hide();
    playButton_->setEnabled(false);

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setHorizontalSpacing(16);
    auto header = [](QLabel* title, QComboBox* popUp) {
        auto* row = new QHBoxLayout;
        row->addWidget(title);
        row->addStretch();
        row->addWidget(popUp);
        return row;
    };
    layout->addLayout(header(fromTitleLb_, langListBtnFrom_), 0, 0);
    layout->addLayout(header(toTitleLb_, langListBtnTo_), 0, 1);
    layout->addWidget(fromTextView_, 1, 0);
    layout->addWidget(toTextView_, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    buttons->addWidget(messageLb_, 1);
    buttons->addStretch();
    buttons->addWidget(retryButton_);
    buttons->addWidget(playButton_);
    layout->addLayout(buttons, 2, 0, 1, 2);

    connect(retryButton_, &QPushButton::clicked, this, [this] { transRetry(); });
    connect(playButton_, &QPushButton::clicked, this, [this] { tts(); });
    // Nothing to copy, nothing to press.
    connect(toTextView_, &QTextEdit::textChanged, this,
        [this] { playButton_->setEnabled(!toTextView_->toPlainText().isEmpty()); });
    connect(langListBtnFrom_, &QComboBox::activated, this,
        [this](int index) { languageSelectionBtnAction(true, index); });
    connect(langListBtnTo_, &QComboBox::activated, this,
        [this](int index) { languageSelectionBtnAction(false, index); });
}

void MMsnipTransWC::init_uidata()
{
    fromTitleLb_->setText(snipTransLocalized(kFromTitle));
    toTitleLb_->setText(snipTransLocalized(kToTitle));
    setWindowTitle(snipTransLocalized(isSniping_ ? kSnipTitle : kSelectionTitle));
    retryButton_->setText(snipTransLocalized(kRetryTitle));
    playButton_->setText(snipTransLocalized(kCopyTitle));
    // Once a flow has filled the language lists, their names and the flow's
    // title follow the interface language too.
    if (langListBtnTo_->count() > 0) {
        if (isSniping_)
            ini_snipLangs();
        else
            ini_selectionLangs();
    }
    showMessage(messageReason_, messageDetail_);
}

void MMsnipTransWC::showEvent(QShowEvent* event)
{
    if (!std::exchange(centred_, true))
        centreOnScreen();
    QWidget::showEvent(event);
}

void MMsnipTransWC::centreOnScreen()
{
    MMViewGeometry::centreOnScreen(*this);
}

void MMsnipTransWC::ini_snipLangs()
{
    const KWLangManager& languages = services_.languages;
    QSignalBlocker fromBlocker(langListBtnFrom_), toBlocker(langListBtnTo_);
    langListBtnFrom_->clear();
    for (const QString& name : KWLangManager::getAllNamesWithLanguageList(languages.getOcrLangeArray()))
        langListBtnFrom_->addItem(snipTransLocalized(name));
    langListBtnFrom_->setCurrentIndex(int(languages.indexOcrFrom()));
    langListBtnTo_->clear();
    for (const QString& name : KWLangManager::getAllNamesWithLanguageList(languages.getTransLangeArray()))
        langListBtnTo_->addItem(snipTransLocalized(name));
    langListBtnTo_->setCurrentIndex(int(languages.indexOcrTo()));
    setWindowTitle(snipTransLocalized(kSnipFlowTitle));
}

void MMsnipTransWC::ini_selectionLangs()
{
    const KWLangManager& languages = services_.languages;
    QSignalBlocker fromBlocker(langListBtnFrom_), toBlocker(langListBtnTo_);
    langListBtnFrom_->clear();
    for (const QString& name : KWLangManager::getAllNamesWithLanguageList(languages.getHuaciLangeArray()))
        langListBtnFrom_->addItem(snipTransLocalized(name));
    langListBtnFrom_->setCurrentIndex(int(languages.indexHuaciFrom()));
    langListBtnTo_->clear();
    for (const QString& name : KWLangManager::getAllNamesWithLanguageList(languages.getTransLangeArray()))
        langListBtnTo_->addItem(snipTransLocalized(name));
    langListBtnTo_->setCurrentIndex(int(languages.indexHuaciTo()));
    setWindowTitle(snipTransLocalized(kSelectionFlowTitle));
}

void MMsnipTransWC::bringToFront()
{
    show();
    raise();
    activateWindow();
}

void MMsnipTransWC::snipTranslate()
{
    services_.snip.startCapture();
    QPointer<MMsnipTransWC> self(this);
    services_.snip.setSnipCallback([self](const QImage& image) {
        if (self && !image.isNull())
            self->recognizeImage(image);
    });
}

void MMsnipTransWC::recognizeImage(const QImage& image)
{
    bringToFront();
    ini_snipLangs();
    showMessage(QString());
    // A slow answer to an earlier picture must not replace this one's.
    const quint64 recognition = ++recognition_;
    QPointer<MMsnipTransWC> self(this);
    auto deliver = [self, recognition](const OcrResult& result) {
        if (self && self->recognition_ == recognition)
            self->showOcrResult(result);
    };
    if (services_.user.ipCountry() == MMUserInfo::kMainlandRegion)
        XunfeiDocumentOcr::recognize(image, services_.user, services_.documentOcrBaseUrl, deliver);
    else
        MMMicrosoftOCRRecognition(services_.user).performOCRWithImage(image, deliver);
}

void MMsnipTransWC::showOcrResult(const OcrResult& result)
{
    if (!result.ok) {
        // A failure is no recognised text: it stands beside the panes, and
        // neither an earlier text nor its translation stays as if it were
        // this picture's.
        fromTextView_->clear();
        toTextView_->clear();
        showMessage(result.text, result.detail);
        return;
    }
    showMessage(QString());
    setSourceText(result.text);
    ocrText_ = result.text;
    transRetry();
}

void MMsnipTransWC::showMessage(const QString& reason, const QString& detail)
{
    messageReason_ = reason;
    messageDetail_ = detail;
    QString text = reason.isEmpty() ? QString() : snipTransLocalized(reason);
    text.replace(QLatin1StringView("%@"), detail);
    messageLb_->setText(text);
    messageLb_->setVisible(!text.isEmpty());
}

QString MMsnipTransWC::message() const
{
    return messageLb_->text();
}

void MMsnipTransWC::selectionTranslate()
{
    QPointer<MMsnipTransWC> self(this);
    services_.selection.getText([self](const QString& text) {
        if (self)
            self->translateSelectedText(text);
    });
}

void MMsnipTransWC::translateSelectedText(const QString& text)
{
    if (text.isEmpty())
        return;
    // In front, but the application the text came from keeps the focus.
    setAttribute(Qt::WA_ShowWithoutActivating);
    show();
    raise();
    setAttribute(Qt::WA_ShowWithoutActivating, false);
    ini_selectionLangs();
    showMessage(QString());
    setSourceText(text);
    transRetry();
}

void MMsnipTransWC::transRetry()
{
    const QString text = sourceText();
    if (text.isEmpty())
        return;
    const KWLangManager& languages = services_.languages;
    QString from, to;
    if (isSniping_) {
        from = StringCoding::conversionlanguagecodeToTranslationLanguagecodeWithLanguage(
            KWLangManager::getLanguageCodeWithLanguageList(
                languages.getOcrLangeArray(), languages.indexOcrFrom()),
            kSnipTransOcrApi);
        to = KWLangManager::getLanguageCodeWithLanguageList(
            languages.getTransLangeArray(), languages.indexOcrTo());
    } else {
        from = KWLangManager::getLanguageCodeWithLanguageList(
            languages.getHuaciLangeArray(), languages.indexHuaciFrom());
        to = KWLangManager::getLanguageCodeWithLanguageList(
            languages.getTransLangeArray(), languages.indexHuaciTo());
    }
    if (services_.user.ipCountry() == MMUserInfo::kMainlandRegion)
        transWithFrom(from, to, text);
    else
        microsoftTransWithFrom(from, to, text);
}

void MMsnipTransWC::transWithFrom(const QString& from, const QString& to, const QString& text)
{
    HLMachineTranslationParam param;
    param.business.from = from;
    param.business.to = to;
    param.data.text = HLParamTools::base64EncodeString(text);
    QPointer<MMsnipTransWC> self(this);
    HLMachineTranslationRequest::getMachineTranslationWithParam(std::move(param), services_.user,
        services_.machineTranslationBaseUrl, [self](bool failed, const QString& result) {
            if (self)
                self->showTranslation(!failed, result);
        });
}

void MMsnipTransWC::microsoftTransWithFrom(const QString& from, const QString& to, const QString& text)
{
    QPointer<MMsnipTransWC> self(this);
    mmMicrosoftTextTrans(services_.user)
        .textTranslationWithFromLang(from, mmMicrosoftTextTrans::translatorTargetCode(to), text,
            [self](bool success, const QString& result) {
                if (self)
                    self->showTranslation(success, result);
            });
}

void MMsnipTransWC::showTranslation(bool ok, const QString& text)
{
    if (ok && !text.isEmpty()) {
        showMessage(QString());
        toTextView_->setPlainText(text);
        return;
    }
    // A failure, or an answer without a translation (which must not leave
    // the last translation standing beside a new source text), is told
    // beside the panes; the translation pane holds only translations, so
    // Copy never copies an error.
    toTextView_->clear();
    showMessage(ok ? kEmptyTranslation : text);
}

void MMsnipTransWC::languageSelectionBtnAction(bool from, int index)
{
    if (index < 0)
        return;
    KWLangManager& languages = services_.languages;
    const auto value = quint64(index);
    if (isSniping_)
        from ? languages.setIndexOcrFrom(value) : languages.setIndexOcrTo(value);
    else
        from ? languages.setIndexHuaciFrom(value) : languages.setIndexHuaciTo(value);
    services_.center.post(notifications::kHadUSBShutdownInfo);
    transRetry();
}

void MMsnipTransWC::tts()
{
    services_.pasteboard.setText(toTextView_->toPlainText());
}

MMTTS& MMsnipTransWC::mytts()
{
    if (!mytts_) {
        mytts_ = std::make_unique<MMTTS>(
            services_.speech ? *services_.speech : platform::SpeechSynthesizer::shared(), services_.languages,
            services_.speechQueue ? *services_.speechQueue : static_cast<platform::Executor&>(platform::MainQueue::shared()));
    }
    return *mytts_;
}

MMTTS::Result MMsnipTransWC::speakTranslation()
{
    return mytts().ttsWithText(toTextView_->toPlainText());
}

void MMsnipTransWC::mousePressEvent(QMouseEvent* event)
{
    // Presses on the controls never get here: only the background moves the
    // window. The window manager moves it where it can; elsewhere the window
    // follows the pointer itself.
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    if (windowHandle() && windowHandle()->startSystemMove()) {
        event->accept();
        return;
    }
    dragOffset_ = event->globalPosition().toPoint() - pos();
    event->accept();
}

void MMsnipTransWC::mouseMoveEvent(QMouseEvent* event)
{
    if (!dragOffset_ || !(event->buttons() & Qt::LeftButton)) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    move(event->globalPosition().toPoint() - *dragOffset_);
    event->accept();
}

void MMsnipTransWC::mouseReleaseEvent(QMouseEvent* event)
{
    dragOffset_.reset();
    QWidget::mouseReleaseEvent(event);
}

QString MMsnipTransWC::sourceText() const
{
    return fromTextView_->toPlainText();
}

QString MMsnipTransWC::translationText() const
{
    return toTextView_->toPlainText();
}

void MMsnipTransWC::setSourceText(const QString& text)
{
    fromTextView_->setPlainText(text);
}
