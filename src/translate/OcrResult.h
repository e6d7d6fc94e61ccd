#pragma once

#include <QString>

// What recognising a picture came to: the text, or a failure with what went
// wrong (shown to the user as such, never as an empty text). A failure's
// reason is an interface-string key; its "%@", when it has one, stands for
// the detail (a service's code, an HTTP status, the transport's own words).
struct OcrResult {
    bool ok = false;
    QString text; // the recognised text, or the reason of a failure
    QString detail;

    static OcrResult success(const QString& text) { return { true, text, QString() }; }
    static OcrResult failure(const QString& reason, const QString& detail = QString())
    {
        return { false, reason, detail };
    }
};
