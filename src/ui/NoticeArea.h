#pragma once

#include <QStringList>
#include <QWidget>

class QScrollArea;
class QVBoxLayout;

// The strip at the top of the main window that lists what the user must
// know: a damaged file kept aside, a back end that is not configured, a
// folder that cannot be written. Each notice is a wrapping, selectable line
// (a path can be copied) with a button that dismisses it for this start;
// the strip is hidden while it holds none.
//
// The strip lines up with the tip bar below it and takes at most a quarter
// of the window's height: more notices scroll inside it, so the page under
// them always keeps its room.
class NoticeArea : public QWidget {
    Q_OBJECT
public:
    explicit NoticeArea(QWidget* parent = nullptr);

    // Adds a notice unless one with the same key was shown in this start
    // (also when it was dismissed). Main thread only.
    void addNotice(const QString& key, const QString& text);
    // Removes the notice of key until the next start.
    void dismissNotice(const QString& key);
    // The texts of the notices on show, oldest first.
    QStringList texts() const;
    // Sets the interface texts (the dismiss buttons' tips) in the current language.
    void retranslate();

    static const QString kDismissKey; // the dismiss button's tip (lookup key)

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateHeight();

    QScrollArea* scroll_;
    QWidget* content_;
    QVBoxLayout* list_;
    QStringList keys_; // every key shown in this start, dismissed ones included
    QStringList shownKeys_;
    QStringList texts_;
};
