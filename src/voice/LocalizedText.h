#pragma once

#include <QString>

#include <functional>

// A text a speech window shows that is made of interface strings: the window
// composes it when it is shown and again whenever the interface language
// changes, so an open window never keeps the old language. Words the user
// spoke are handed over as a plain QString instead and stay as they are.
using LocalizedText = std::function<QString()>;
