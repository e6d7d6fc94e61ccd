#pragma once

#include "FuzzTarget.h"
#include "platform/Preferences.h"

#include <QFile>

#include <functional>

// Settings as they stand after the application's first launch, put back
// before every input. Writing the first-launch settings through to their
// file, one value at a time, costs far more than most inputs do.
class SettledPreferences {
public:
    // `settle` makes, once, the objects that write the first-launch settings.
    SettledPreferences(const QString& name, const std::function<void(platform::Preferences&)>& settle)
        : path_(fuzz::scratchDir() + QLatin1Char('/') + name + QStringLiteral(".plist"))
        , prefs_(path_)
    {
        settle(prefs_);
        if (!prefs_.synchronize())
            fuzz::fail("cannot write %s", qPrintable(path_));
        QFile file(path_);
        if (!file.open(QIODevice::ReadOnly))
            fuzz::fail("cannot read %s", qPrintable(path_));
        settled_ = file.readAll();
    }

    platform::Preferences& restore()
    {
        QFile file(path_);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(settled_) != settled_.size())
            fuzz::fail("cannot write %s", qPrintable(path_));
        file.close();
        prefs_.reload();
        return prefs_;
    }

private:
    QString path_;
    platform::Preferences prefs_;
    QByteArray settled_;
};
