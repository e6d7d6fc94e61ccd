#pragma once

#include <QString>
#include <QUrl>

// What the system hands the application when it continues an activity the
// user started elsewhere; a browsing activity carries the page address.
struct APMUserActivity {
    static inline const QString kBrowsingWebActivityType = QStringLiteral("NSUserActivityTypeBrowsingWeb");

    QString activityType;
    QUrl webpageURL;
};
