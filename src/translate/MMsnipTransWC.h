#pragma once

#include "platform/NotificationCenter.h"
#include "translate/OcrResult.h"

#include <QImage>
#include <QString>
#include <QWidget>

class KWLangManager;
class MMUserInfo;
class QComboBox;
class QLabel;
class QPushButton;
class QTextEdit;
class Selection;
class SnipManager;

namespace platform {
class Pasteboard;
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

    QString sourceText() const;
    QString translationText() const;
    void setSourceText(const QString& text);
    QComboBox* fromPopUp() const { return langListBtnFrom_; }
    QComboBox* toPopUp() const { return langListBtnTo_; }

private:
    void loadSubviews();
    void init_uidata();
    void ini_snipLangs();
    void ini_selectionLangs();
    void showOcrResult(const OcrResult& result);
    void showTranslation(const QString& text);
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
    QString ocrText_;
    platform::ObserverToken languageToken_;
};
