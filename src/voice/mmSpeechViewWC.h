#pragma once

#include "platform/Executor.h"
#include "platform/NotificationCenter.h"
#include "voice/LocalizedText.h"

#include <QObject>
#include <QPoint>
#include <QString>

#include <memory>

class MMAudioObjectManager;
class MMAudioObjectManagerDelegate;
class QLabel;
class QTextEdit;
class QWidget;

namespace platform {
class Preferences;
}

// The floating window shown while a dictation runs: a label with the mode
// and the language, the running recognised text, and a microphone level
// meter fed by the recorder. It floats above every window without taking the
// keyboard focus from the application that receives the typed text, can be
// dragged by its background, and remembers its position between runs. Texts
// given as LocalizedText follow a change of the interface language.
//
// Main thread only, except changeVolumeLevel() and getAudioDecibelValue(),
// which move themselves to the main thread when called from another.
class mmSpeechViewWC : public QObject {
public:
    // The frame is kept in the user defaults under this autosave name.
    static const QString kWindowFrameAutosaveName; // "mmSpeechWindow"

    // Builds the window (hidden), becomes the recorder's level listener and
    // hears language changes on the centre.
    mmSpeechViewWC(platform::Executor& executor, platform::Preferences& defaults,
        MMAudioObjectManager& recorder,
        platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter());
    ~mmSpeechViewWC() override;
    mmSpeechViewWC(const mmSpeechViewWC&) = delete;
    mmSpeechViewWC& operator=(const mmSpeechViewWC&) = delete;

    // Brings the window to the front without activating the application;
    // a close still pending from closeAfterDelay() is called off.
    void showWindow();
    // Hides the window now (a pending delayed close is dropped).
    void close();
    // Hides the window after the delay unless showWindow() or close() comes
    // first; a later call replaces an earlier pending one.
    void closeAfterDelay(double seconds);

    // Replaces the shown text and scrolls so that its last line is visible:
    // words as they are, or a message composed again at a language change.
    void windowText(const QString& text);
    void windowText(LocalizedText text);
    // Sets the mode and language label.
    void languageLabel(const QString& text);
    void languageLabel(LocalizedText text);
    // The recorder's level of one audio packet (0 for silence, 87 for full scale).
    void getAudioDecibelValue(int level);
    // Shows level image number level / 10 (0 to 8); any other number, such as
    // for a level of -10 or below, shows no image.
    void changeVolumeLevel(int level);

    QWidget* window() const { return window_.get(); }
    QLabel* languageLabel() const { return languageLabel_; }
    QTextEdit* fromTextView() const { return fromTextView_; }
    QLabel* audioLevelIV() const { return audioLevelIV_; }
    // The number of the level image shown, -1 when none is.
    int levelImageNumber() const { return levelImageNumber_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildWindow();
    void placeWindowByDefault();
    void cancelPendingClose();
    void showText(const QString& text);
    void languageChanged();

    platform::Executor& executor_;
    std::unique_ptr<QWidget> window_;
    QLabel* languageLabel_ = nullptr;
    QTextEdit* fromTextView_ = nullptr;
    QLabel* audioLevelIV_ = nullptr;
    std::shared_ptr<MMAudioObjectManagerDelegate> levelListener_;
    int levelImageNumber_ = -1;
    platform::TaskId pendingClose_ = 0;
    bool dragging_ = false;
    QPoint dragOffset_;
    LocalizedText labelText_; // empty while the label is a plain text
    LocalizedText shownText_; // empty while the words shown are plain text
    platform::ObserverToken languageObserver_;
};
