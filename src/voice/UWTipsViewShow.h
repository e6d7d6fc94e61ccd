#pragma once

#include "platform/Executor.h"
#include "platform/NotificationCenter.h"
#include "voice/LocalizedText.h"

#include <QObject>
#include <QString>

#include <memory>

class QLabel;
class QWidget;

// A one-line message that floats at the lower right of the screen for two
// seconds, for example after the voice key's function was switched. It never
// takes the keyboard focus. A new message replaces the one shown and gets the
// full two seconds again. A message given as LocalizedText follows a change
// of the interface language while it is shown.
//
// Main thread only, except showTextWithString(), which moves itself to the
// main thread when called from another (a LocalizedText is then composed on
// the main thread).
class UWTipsViewShow : public QObject {
public:
    static constexpr double kShowSeconds = 2.0;

    // The process-wide instance, on the main queue.
    static UWTipsViewShow& sharedUWTipsViewShow();

    // An instance whose dismissals run on the given executor and that hears
    // language changes on the centre.
    explicit UWTipsViewShow(platform::Executor& executor,
        platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter());
    ~UWTipsViewShow() override;
    UWTipsViewShow(const UWTipsViewShow&) = delete;
    UWTipsViewShow& operator=(const UWTipsViewShow&) = delete;

    // Shows the text in front of every window without activating the
    // application, and hides it kShowSeconds later.
    void showTextWithString(const QString& text);
    void showTextWithString(LocalizedText text);
    // Hides the window now.
    void dismissSpeechView();
    // Hides the window after the delay (seconds), replacing a pending dismissal.
    void dismissSpeechView(double seconds);

    // The window and its text field, created by the first message.
    QWidget* speechWindow() const { return speechWindow_.get(); }
    QLabel* tipTextView() const { return tipTextView_; }

private:
    void createWindow();
    void cancelTimer();
    void show(const QString& text, LocalizedText localized);

    platform::Executor& executor_;
    std::unique_ptr<QWidget> speechWindow_;
    QLabel* tipTextView_ = nullptr;
    platform::TaskId timer_ = 0;
    LocalizedText shownText_; // empty while the message is a plain text
    platform::ObserverToken languageObserver_;
};
