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

    // The reasons every recognition service can give.
    static inline const QString kHttpError = QStringLiteral("识别服务返回 HTTP 状态 %@。"); // detail: the status
    static inline const QString kTransportError = QStringLiteral("无法连接识别服务：%@"); // detail: the transport's text
    static inline const QString kNoText = QStringLiteral("图片中没有识别到文字。");
    static inline const QString kUnreadableReply = QStringLiteral("识别服务的回复无法读取。");

    static OcrResult success(const QString& text) { return { true, text, QString() }; }
    static OcrResult failure(const QString& reason, const QString& detail = QString())
    {
        return { false, reason, detail };
    }
};
