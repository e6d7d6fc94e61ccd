#pragma once

#include <QString>

// Names and values of analytics events are limited in characters as a person
// counts them: one Unicode code point each, whatever its UTF-16 length. A lone
// surrogate counts as one code point, so no text is ever measured as shorter
// than it is.
namespace CodePoints {

qsizetype length(const QString& text);

// The first `count` code points of the text; a surrogate pair is never split.
QString left(const QString& text, qsizetype count);

// The code point that starts at UTF-16 index `index` (a lone surrogate is
// returned as itself); `next` receives the index of the following code point.
char32_t at(const QString& text, qsizetype index, qsizetype* next);

} // namespace CodePoints
