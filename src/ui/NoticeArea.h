#pragma once

#include <QStringList>
#include <QWidget>

class QVBoxLayout;

// The strip at the top of the main window that lists what the user must
// know: a damaged file kept aside, a back end that is not configured, a
// folder that cannot be written. Each notice is a wrapping, selectable line
// (a path can be copied); the strip is hidden while it holds none.
class NoticeArea : public QWidget {
    Q_OBJECT
public:
    explicit NoticeArea(QWidget* parent = nullptr);

    // Adds a notice unless one with the same key is shown. Main thread only.
    void addNotice(const QString& key, const QString& text);
    QStringList texts() const { return texts_; }

private:
    QVBoxLayout* list_;
    QStringList keys_;
    QStringList texts_;
};
