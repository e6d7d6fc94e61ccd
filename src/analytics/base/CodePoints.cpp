#include "analytics/base/CodePoints.h"

namespace CodePoints {

char32_t at(const QString& text, qsizetype index, qsizetype* next)
{
    const QChar first = text.at(index);
    if (first.isHighSurrogate() && index + 1 < text.size() && text.at(index + 1).isLowSurrogate()) {
        *next = index + 2;
        return QChar::surrogateToUcs4(first, text.at(index + 1));
    }
    *next = index + 1;
    return first.unicode();
}

qsizetype length(const QString& text)
{
    qsizetype count = 0;
    for (qsizetype i = 0; i < text.size(); ++count)
        at(text, i, &i);
    return count;
}

QString left(const QString& text, qsizetype count)
{
    if (count <= 0)
        return QString();
    qsizetype i = 0;
    for (qsizetype taken = 0; i < text.size() && taken < count; ++taken)
        at(text, i, &i);
    return text.left(i);
}

} // namespace CodePoints
