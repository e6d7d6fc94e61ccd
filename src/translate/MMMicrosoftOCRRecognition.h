#pragma once

#include "platform/HttpClient.h"
#include "translate/OcrResult.h"

#include <QImage>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

class MMUserInfo;
class mmApiKeyItem;

// The overseas OCR client: one POST of the picture to the credentials' OCR
// address; the reply's regions, lines and words make the text. No state:
// create one per picture. Pictures are encoded and requests built on a
// worker (a large screen takes seconds); every callback runs on the main
// thread.
class MMMicrosoftOCRRecognition {
public:
    using Callback = std::function<void(const OcrResult& result)>;

    static const QString kAddressFormat;
    static const QString kAddressFormat222;
    // Failure reasons (interface-string keys; see OcrResult).
    static const QString& kHttpError;
    static const QString& kTransportError;
    static const QString& kNoText;
    static const QString kNoAddress;
    static const QString& kUnreadableReply;
    static constexpr double kTimeoutSeconds = 30;

    explicit MMMicrosoftOCRRecognition(const MMUserInfo& user);

    // The picture as JPEG to the v3.2 address; calls back once, with the
    // whole text or the failure.
    void performOCRWithImage(const QImage& image, Callback callback) const;
    // The picture as PNG to the v3.1 address; calls back once per region
    // that holds text, in order, with that region's words, or once with the
    // failure when no region does.
    void performOCRWithImage222(const QImage& image, Callback callback) const;

    // The requests, or nullopt when the credentials' address is missing or
    // not allowed.
    static std::optional<platform::HttpRequest> request(const mmApiKeyItem& keys, const QImage& image);
    static std::optional<platform::HttpRequest> request222(const mmApiKeyItem& keys, const QImage& image);
    // What a reply comes to. Words are followed by a blank unless the
    // reply's language contains "zh"; every line ends with a line feed. A
    // reply without words, a status other than 200 and a transport error are
    // failures with their reason.
    static OcrResult readReply(const platform::HttpResponse& response);
    // The same per region: the words of all its lines run on, each followed
    // by a blank unless the language contains "zh" or "ja"; regions without
    // words are left out. A reply without any words is one failure.
    static QList<OcrResult> readReply222(const platform::HttpResponse& response);

private:
    using Builder = std::optional<platform::HttpRequest> (*)(const mmApiKeyItem&, const QImage&);
    using Reader = QList<OcrResult> (*)(const platform::HttpResponse&);
    void perform(const QImage& image, Builder build, Reader read, Callback callback) const;

    const MMUserInfo& user_;
};
