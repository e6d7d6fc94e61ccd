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
class QWidget;

// A floating speech overlay: a prompt image, a line of text and a
// microphone level image, in a small white rounded panel near the lower
// right of the primary screen. It floats above every window and never takes the keyboard
// focus. It listens to the recorder's level reports from its creation.
//
// Every call may come from any thread; the display work is moved to the
// main thread. Timed dismissals run on the injected executor. A text given
// as LocalizedText is composed on the main thread and again whenever the
// interface language changes while it is the one shown.
class UWSpeechViewShow : public QObject {
public:
    static constexpr int kWidth = 250;
    static constexpr int kHeight = 60;
    static constexpr double kFinishDelay = 0.5;
    // Prompt kinds of changePromptImgByType().
    static constexpr int kPromptHeld = 135;
    static constexpr int kPromptIdle = 133;

    static UWSpeechViewShow& sharedUWSpeechViewShow();

    UWSpeechViewShow(platform::Executor& executor, MMAudioObjectManager& recorder,
        platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter());
    ~UWSpeechViewShow() override;
    UWSpeechViewShow(const UWSpeechViewShow&) = delete;
    UWSpeechViewShow& operator=(const UWSpeechViewShow&) = delete;

    void showSpeechView(const QString& text, int type = 0);
    void showSpeechView(LocalizedText text, int type = 0);
    void changePromptString(const QString& text);
    void changePromptString(LocalizedText text);
    void changePromptImgByType(int type);
    // Shows the text, then dismisses after the delay; an empty text dismisses at once.
    void dismissWithFinishString(const QString& text, double delay = kFinishDelay);
    void dismissWithFinishString(LocalizedText text, double delay = kFinishDelay);
    void dismiss();
    void dismissSpeechView();
    void dismissSpeechView(double seconds);
    // A level report of the recorder: shows the level image.
    void getAudioDecibelValue(int level);
    void hideMicrophoneLevel();
    // Above 30 shows level image level / 10 (at most 8), otherwise image 0.
    void changeVolumeLevel(int level);
    static QPoint getCurrentSystemCursorPoint();

    bool isLast() const { return isLast_; }
    bool isShow() const { return isShow_; }
    QWidget* speechWindow();
    QLabel* tipImageView();
    QLabel* tipTextView();
    QLabel* volumeView();
    QString promptImageName() const { return promptImageName_; }
    QString levelImageName() const { return levelImageName_; }

private:
    bool onMainThread(std::function<void()> work);
    void createWindow();
    void show(const QString& text, LocalizedText localized);
    void setText(const QString& text, LocalizedText localized);
    void finish(const QString& text, LocalizedText localized, double delay);
    void setPromptImage(const QString& name);
    void setLevelImage(int number);
    void cancelTimer();

    platform::Executor& executor_;
    std::shared_ptr<MMAudioObjectManagerDelegate> levelListener_;
    std::unique_ptr<QWidget> speechWindow_;
    QLabel* tipImageView_ = nullptr;
    QLabel* tipTextView_ = nullptr;
    QLabel* volumeView_ = nullptr;
    bool isLast_ = true;
    bool isShow_ = false;
    QString promptImageName_;
    QString levelImageName_;
    platform::TaskId timer_ = 0;
    LocalizedText shownText_; // empty while the text is a plain one
    platform::ObserverToken languageObserver_;
};
