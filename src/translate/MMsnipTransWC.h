#pragma once

#include "platform/NotificationCenter.h"
#include "translate/MMTTS.h"
#include "translate/OcrResult.h"

#include <QImage>
#include <QPoint>
#include <QString>
#include <QWidget>

#include <memory>
#include <optional>

class KWLangManager;
class MMUserInfo;
class QComboBox;
class QLabel;
class QPushButton;
class QTextEdit;
class Selection;
class SnipManager;

namespace platform {
class Executor;
class Pasteboard;
class SpeechSynthesizer;
}

// The translation result window: the source text and its translation, each
// with a language pop-up, a refresh button and a copy button. Serves
// screenshot translation (capture, recognise, translate) and selection
// translation (the selected text, translated). Main thread.
class MMsnipTransWC : public QWidget {
    Q_OBJECT
public:
    struct Services {
        SnipManager& snip;
        Selection& selection;
        MMUserInfo& user;
        KWLangManager& languages;
        platform::NotificationCenter& center;
        platform::Pasteboard& pasteboard;
        // Addresses of the mainland services (recognition and translation).
        QString documentOcrBaseUrl;
        QString machineTranslationBaseUrl;
        // Speech output and the queue that times its pauses; null: the
        // session's speech engine and the main queue.
        platform::SpeechSynthesizer* speech = nullptr;
        platform::Executor* speechQueue = nullptr;
    };

    static const QString kFromTitle, kToTitle, kSnipTitle, kSelectionTitle, kSnipFlowTitle,
        kSelectionFlowTitle, kRetryTitle, kCopyTitle;
    // Shown when a translation service answers without a translation.
    static const QString kEmptyTranslation;

    explicit MMsnipTransWC(Services services);
    // Over the shared services.
    MMsnipTransWC();

    bool isSniping() const { return isSniping_; }
    void setIsSniping(bool sniping) { isSniping_ = sniping; }

    // Starts a capture whose picture is recognised and translated here.
    void snipTranslate();
    // Translates the text selected in another application.
    void selectionTranslate();
    // Shows a selected text and translates it; an empty text does nothing.
    void translateSelectedText(const QString& text);
    // The picture of a capture: recognised by the region's service.
    void recognizeImage(const QImage& image);
    // Translates the source text (also the refresh button).
    void transRetry();
    // A language chosen in the source (from) or target pop-up.
    void languageSelectionBtnAction(bool from, int index);
    // Copies the translation to the clipboard.
    void tts();
    // The speech output, made on first use.
    MMTTS& mytts();
    // Reads the translation aloud through mytts(): a second call stops it.
    MMTTS::Result speakTranslation();

    QString sourceText() const;
    QString translationText() const;
    void setSourceText(const QString& text);
    QComboBox* fromPopUp() const { return langListBtnFrom_; }
    QComboBox* toPopUp() const { return langListBtnTo_; }
    QPushButton* retryButton() const { return retryButton_; }
    QPushButton* copyButton() const { return playButton_; }
    // What went wrong with the last recognition or translation, shown beside
    // the panes; empty when nothing did.
    QString message() const;

protected:
    // Centred on its screen the first time it opens; where the user put it
    // after that.
    void showEvent(QShowEvent* event) override;
    // The window moves when dragged by its background.
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void loadSubviews();
    void init_uidata();
    void ini_snipLangs();
    void ini_selectionLangs();
    void showOcrResult(const OcrResult& result);
    void showTranslation(bool ok, const QString& text);
    // A failure beside the panes: an interface-string key (or a service's own
    // words) with what fills its "%@"; an empty reason hides it.
    void showMessage(const QString& reason, const QString& detail = QString());
    void centreOnScreen();
    void transWithFrom(const QString& from, const QString& to, const QString& text);
    void microsoftTransWithFrom(const QString& from, const QString& to, const QString& text);
    void bringToFront();

    Services services_;
    bool isSniping_ = true;
    QLabel* fromTitleLb_ = nullptr;
    QLabel* toTitleLb_ = nullptr;
    QComboBox* langListBtnFrom_ = nullptr;
    QComboBox* langListBtnTo_ = nullptr;
    QTextEdit* fromTextView_ = nullptr;
    QTextEdit* toTextView_ = nullptr;
    QPushButton* retryButton_ = nullptr;
    QPushButton* playButton_ = nullptr;
    QLabel* messageLb_ = nullptr;
    QString messageReason_, messageDetail_;
    QString ocrText_;
    // Counts recognitions: only the answer to the latest is shown.
    quint64 recognition_ = 0;
    std::optional<QPoint> dragOffset_;
    bool centred_ = false;
    std::unique_ptr<MMTTS> mytts_;
    platform::ObserverToken languageToken_;
};
