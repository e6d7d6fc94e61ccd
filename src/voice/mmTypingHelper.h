#pragma once

#include <QString>
#include <QStringList>

// Text comparison for dynamic typing: turns a corrected partial result into
// the Backspace presses and the text that make the typed text match it.
// Everything counts user-perceived characters (grapheme clusters), because
// one Backspace in the focused application removes one such character; a
// surrogate pair or a letter with its combining marks is never split.
class mmTypingHelper {
public:
    // What turns the old text into the new one: remove `removed` from the end
    // of the old text (deleteCount Backspace presses), then type `inserted`.
    struct Difference {
        QString removed;
        QString inserted;
        qsizetype deleteCount = 0;

        bool isEmpty() const { return removed.isEmpty() && inserted.isEmpty(); }
        bool operator==(const Difference&) const = default;
    };

    // Old text, new text: the two differ from their first differing
    // character on; the common beginning stays as it is.
    static Difference compareTextWithString1(const QString& oldText, const QString& newText);

    // The text cut into user-perceived characters, in order.
    static QStringList graphemes(const QString& text);
    static qsizetype graphemeCount(const QString& text);
};
