#pragma once

#include <QString>

namespace fakes {

// Pictures for people to look at: when PRAVIK_SHOT_DIR names a folder, the
// whole screen is saved there as "<name>.png" (scripts/window-shots.sh runs
// the picture tests under Xvfb). Returns the file written, empty when no
// folder is named or the picture could not be taken.
QString saveScreenShot(const QString& name);
// Whether pictures are asked for at all.
bool screenShotsWanted();

} // namespace fakes
