#pragma once

#include <QString>
#include <QtGlobal>

namespace fakes {

// Pictures for people to look at: when PRAVIK_SHOT_DIR names a folder, the
// whole screen is saved there as "<name>.png" (scripts/window-shots.sh runs
// the picture tests under Xvfb). Returns the file written, empty when no
// folder is named or the picture could not be taken.
QString saveScreenShot(const QString& name);
// Whether pictures are asked for at all.
bool screenShotsWanted();
// The interface language pictures are taken in, as an interface-language
// index: PRAVIK_SHOT_LANG names it ("zh", "en", "id", "vi", "ko") or gives
// its index; Chinese when it is unset or unknown.
quint64 screenShotLanguage();
// Its short name ("zh", "en", ...), for the names of the pictures.
QString screenShotLanguageName();

} // namespace fakes
