#pragma once

#include <QString>

// One step of the typing queue: paste a text grapheme by grapheme, paste a
// text at once, or press Backspace a number of times.
class TypingTask {
public:
    enum class Type : unsigned {
        Paste = 0, // the text, one user-perceived character per paste
        Delete = 1, // one Backspace per character of the text ("\b" each)
        PasteWhole = 2, // the whole text in one paste
    };

    static const QChar kBackspace; // '\b'

    TypingTask(Type type, const QString& text)
        : type_(type)
        , text_(text)
    {
    }

    // A delete step of count Backspace presses.
    static TypingTask backspaces(qsizetype count);

    Type type() const { return type_; }
    const QString& text() const { return text_; }

private:
    Type type_;
    QString text_;
};
