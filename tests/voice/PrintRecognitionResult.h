#pragma once

#include "voice/RecognitionResult.h"

#include <ostream>

// How a failed expectation prints a result. Found by argument-dependent
// lookup: the type lives in the global namespace.
inline void PrintTo(const RecognitionResult& r, std::ostream* os)
{
    *os << "(" << r.text.toStdString() << ", " << qint64(r.type) << ")";
}
