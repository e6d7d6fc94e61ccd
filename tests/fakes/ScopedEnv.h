#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace fakes {

// Sets (or, with a null value, unsets) an environment variable for the life
// of the object, and puts back what was there before, also when a test's
// assertion returns early.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QString& value)
        : name_(name)
        , had_(qEnvironmentVariableIsSet(name))
        , previous_(qgetenv(name))
    {
        set(value);
    }
    ~ScopedEnv()
    {
        if (had_)
            qputenv(name_, previous_);
        else
            qunsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

    // A new value for the rest of the object's life; null unsets.
    void set(const QString& value)
    {
        if (value.isNull())
            qunsetenv(name_);
        else
            qputenv(name_, value.toLocal8Bit());
    }

private:
    const char* name_;
    bool had_;
    QByteArray previous_;
};

} // namespace fakes
