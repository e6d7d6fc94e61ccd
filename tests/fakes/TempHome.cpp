#include "fakes/TempHome.h"

namespace fakes {

TempHome::TempHome()
    : previous_(qgetenv("PRAVIK_HOME"))
    , hadPrevious_(qEnvironmentVariableIsSet("PRAVIK_HOME"))
{
    qputenv("PRAVIK_HOME", dir_.path().toLocal8Bit());
}

TempHome::~TempHome()
{
    if (hadPrevious_)
        qputenv("PRAVIK_HOME", previous_);
    else
        qunsetenv("PRAVIK_HOME");
}

} // namespace fakes
