#pragma once

#include <QTemporaryDir>

namespace fakes {

// Points PRAVIK_HOME at a fresh temporary folder for the life of the object,
// so Documents, Application Support and Preferences are private to a test.
class TempHome {
public:
    TempHome();
    ~TempHome();
    QString path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    QByteArray previous_;
    bool hadPrevious_;
};

} // namespace fakes
