#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>

class NoticeArea;
class QLabel;
class QListWidget;
class QPushButton;

// The main window's content: the left column (title, menu, the mouse's link
// and battery, version line), the window buttons, the notices, the
// permission tip bar and the page area with its loading overlay. It shows
// what it is told, in the interface language, and hands the user's clicks to
// its actions; what they mean is its controller's. Main thread.
class UWHomeView : public QWidget {
public:
    struct Actions {
        std::function<void(int row)> menuRowChosen; // a row of the menu became current
        std::function<void()> manual; // the "?" button
        std::function<void()> tipButton; // the tip bar's button
    };

    static constexpr int kMenuRows = 5;
    // The smallest window the page still works in, and the size it opens with.
    static constexpr QSize kMinimumSize { 600, 420 };
    static constexpr QSize kStartSize { 1080, 700 };

    // The application's notices, those waiting and those posted later, are
    // shown while the view lives.
    explicit UWHomeView(Actions actions, QWidget* parent = nullptr);
    ~UWHomeView() override;

    // Every text again in the current interface language.
    void retranslate();

    // The menu's marked row: made current without telling the actions; a
    // click on the empty space below the entries leaves it marked.
    void markRow(int row);
    int markedRow() const { return markedRow_; }

    // The mouse's link: 0 none, 2 and 3 the two Bluetooth links, 4 the receiver.
    void showLink(qlonglong mode);
    // The battery: its charge in percent for the picture and the text the
    // mouse reported for the words.
    void showBattery(float percent, const QString& percentage);
    // No mouse, so no battery: the "disconnected" picture and no words.
    void showNoBattery();

    // The tip bar with the text of an interface-string key; hidden for none.
    void showTip(const QString& key);
    const QString& tipKey() const { return tipKey_; }

    // The overlay over the page while the applications are searched, with
    // how many were found so far.
    void showLoading();
    void hideLoading();
    void showSearchProgress(qlonglong found);

    // Where the page goes: stacked under the overlay, which stays on top.
    QWidget* pageArea() const;
    void addPage(QWidget* page);
    NoticeArea* notices() const { return notices_; }

    // What the window shows, for tests and diagnostics.
    QString connectImageName() const { return connectImage_; }
    QString batteryImageName() const { return batteryImage_; }
    QString connectText() const;
    QString batteryText() const;
    QString statusToolTip() const;
    QString versionText() const;
    QStringList menuTitles() const;
    QString tipText() const;
    bool tipBarVisible() const;
    bool loadingViewVisible() const;
    QString loadingText() const;

private:
    QWidget* buildLeftColumn();
    void showUserNotices();
    QPushButton* windowButton(const QString& text, const QString& tipKey);
    void setIndicator(QLabel* label, QString* nameField, const QString& name);
    void retranslateStatus();

    Actions actions_;
    int markedRow_ = 0;
    qlonglong linkMode_ = 0;
    QString batteryPercentage_; // the words' value; empty while none is shown
    QString tipKey_;
    QString connectImage_;
    QString batteryImage_;

    // Children of the view, which live as long as it does.
    QListWidget* menu_ = nullptr;
    QWidget* statusBox_ = nullptr;
    QLabel* connectImageLabel_ = nullptr;
    QLabel* connectLabel_ = nullptr;
    QLabel* batteryImageLabel_ = nullptr;
    QLabel* batteryLabel_ = nullptr;
    QLabel* versionLabel_ = nullptr;
    NoticeArea* notices_ = nullptr;
    QWidget* tipBar_ = nullptr;
    QLabel* tipLabel_ = nullptr;
    QPushButton* tipButton_ = nullptr;
    QWidget* pageArea_ = nullptr;
    QWidget* loadingView_ = nullptr;
    QLabel* loadingText_ = nullptr;
};
