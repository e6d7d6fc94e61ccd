#pragma once

#include <QString>

// What recognising a picture came to: the text, or a failure with what went
// wrong (shown to the user as such, never as an empty text).
struct OcrResult {
    bool ok = false;
    QString text;

    static OcrResult success(const QString& text) { return { true, text }; }
    static OcrResult failure(const QString& reason) { return { false, reason }; }
};
