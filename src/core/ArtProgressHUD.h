#pragma once

#include "platform/Executor.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class ArtHUDView;
class QLabel;

// A small floating notice over the main window: a text with a status icon,
// a text alone, or a spinner while something loads. One notice at a time:
// the class-level show calls reuse the shown HUD (new text and kind replace
// the old) or make a new one after a dismissal.
//
// A shown notice is centred over its host window (or over a view of it),
// fades in from nothing to kAlpha, and, unless it is the loading kind, goes away after
// kDismissSeconds, on a click on it or on a click anywhere outside it (that
// click still reaches its target). The loading kind ends only through
// dismissLoading() or dismiss(). Dismissing also ends the HUD's timer and
// click watch, so a late timer of an old HUD never ends a newer one; the
// dismissed notice fades out and only then closes, while a new show
// already makes a new HUD.
//
// Main thread only.
class ArtProgressHUD : public QObject {
public:
    enum AlertType : quint64 {
        kInfo = 0,
        kWarning = 1,
        kError = 2,
        kSuccess = 3,
        kLoading = 4,
        kTextOnly = 5,
    };

    static constexpr double kDismissSeconds = 2.0;
    static constexpr double kAlpha = 0.86;
    static constexpr double kCornerRadius = 13;
    static constexpr int kWidth = 150;
    static constexpr int kHeight = 100;
    static constexpr int kTipTextMaxWidth = 120;

    // Where HUDs are centred and on which executor they time out. The
    // application leaves the defaults: the application delegate's main
    // window and the main queue.
    using HostWindow = std::function<QWidget*()>;
    static void configure(platform::Executor& executor, HostWindow hostWindow);

    static void showText(const QString& text, quint64 type, QWidget* inView);
    static void showText(const QString& text); // text only, no view
    static void showInfoText(const QString& text);
    static void showErrorText(const QString& text);
    static void showSuccessText(const QString& text);
    static void showLoading(QWidget* view = nullptr);
    // Ends the HUD shown, whatever its kind; nothing when none is shown.
    static void dismissLoading();

    // The HUD shown, null when none is.
    static ArtProgressHUD* shared();

    ~ArtProgressHUD() override;

    // Fades the notice out and lets it go; the next show makes a new one.
    void dismiss();

    quint64 alertType() const { return alertType_; }
    QWidget* popView() const { return popView_; }
    ArtHUDView* window() const { return window_.get(); }
    QLabel* iconImageView() const { return iconImageView_; }
    QLabel* tipTextField() const { return tipTextField_; }
    QLabel* onlyTipTextField() const { return onlyTipTextField_; }
    QWidget* loadingIndicator() const { return loadingIndicator_; }
    // The image shown by the icon, by its bundle name ("MLHudAlertInfo", ...);
    // empty for none.
    QString iconImageName() const { return iconImageName_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit ArtProgressHUD(platform::Executor& executor);
    static ArtProgressHUD& obtain();

    void configImageNameWithType(quint64 type);
    void showWindow();
    void updateWindowPosition();
    void stopTimerAndClickWatch();

    platform::Executor& executor_;
    quint64 alertType_ = kInfo;
    QPointer<QWidget> popView_;
    std::unique_ptr<ArtHUDView> window_;
    QLabel* iconImageView_ = nullptr;
    QLabel* tipTextField_ = nullptr;
    QLabel* onlyTipTextField_ = nullptr;
    QWidget* loadingIndicator_ = nullptr;
    QString iconImageName_;
    platform::TaskId dismissTimer_ = 0;
    bool clickWatch_ = false;
    bool dismissing_ = false;
};
