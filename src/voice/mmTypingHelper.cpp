#include "voice/mmTypingHelper.h"

#include <QTextBoundaryFinder>

namespace {

// Boundaries from position `from` (itself a boundary) to the end of the text.
qsizetype graphemesFrom(QTextBoundaryFinder& finder, qsizetype from)
{
    finder.setPosition(from);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

} // namespace

QStringList mmTypingHelper::graphemes(const QString& text)
{
    QStringList parts;
    if (text.isEmpty())
        return parts;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    while (finder.toNextBoundary() != -1) {
        const qsizetype end = finder.position();
        parts.append(text.mid(start, end - start));
        start = end;
    }
    return parts;
}

qsizetype mmTypingHelper::graphemeCount(const QString& text)
{
    if (text.isEmpty())
        return 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    return graphemesFrom(finder, 0);
}

mmTypingHelper::Difference mmTypingHelper::compareTextWithString1(
    const QString& oldText, const QString& newText)
{
    Difference difference;
    if (oldText.isEmpty()) {
        difference.inserted = newText;
        return difference;
    }
    const qsizetype shared = std::min(oldText.size(), newText.size());
    qsizetype same = 0;
    while (same < shared && oldText[same] == newText[same])
        ++same;
    // Texts that differ in the low half of a surrogate pair differ from the
    // whole code point on.
    if (same > 0 && oldText[same - 1].isHighSurrogate())
        --same;

    // The edit must start where a character starts in both texts. Whether a
    // position is a boundary depends only on the code points up to the one
    // after it, so boundaries before `same` are the same in both texts; at
    // `same` itself the following code points differ and both texts have to
    // agree.
    QTextBoundaryFinder before(QTextBoundaryFinder::Grapheme, oldText);
    before.setPosition(same);
    bool sharedBoundary = before.isAtBoundary();
    if (sharedBoundary && !newText.isEmpty()) {
        QTextBoundaryFinder after(QTextBoundaryFinder::Grapheme, newText);
        after.setPosition(same);
        sharedBoundary = after.isAtBoundary();
    }
    // Position 0 is a boundary of every text, so a previous one exists here.
    const qsizetype start = sharedBoundary ? same : before.toPreviousBoundary();
    difference.removed = oldText.mid(start);
    difference.inserted = newText.mid(start);
    difference.deleteCount = graphemesFrom(before, start);
    return difference;
}
