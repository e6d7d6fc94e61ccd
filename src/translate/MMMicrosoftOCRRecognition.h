#pragma once

#include "platform/HttpClient.h"
#include "translate/OcrResult.h"

#include <QImage>
#include <QString>

#include <functional>
#include <optional>

class MMUserInfo;
class mmApiKeyItem;

// The overseas OCR client: one POST of the picture as JPEG to the
// credentials' OCR address; the reply's regions, lines and words make the
// text, one line per line. No state: create one per picture.
class MMMicrosoftOCRRecognition {
public:
    using Callback = std::function<void(const OcrResult& result)>;

    static const QString kAddressFormat;
    static const QString kHttpErrorFormat;
    static const QString kTransportErrorFormat;
    static const QString kNoText;
    static const QString kNoAddress;
    static const QString kUnreadableReply;
    static constexpr double kTimeoutSeconds = 30;

    explicit MMMicrosoftOCRRecognition(const MMUserInfo& user);

    // Calls back once, on the main thread.
    void performOCRWithImage(const QImage& image, Callback callback) const;

    // The request, or nullopt when the credentials' address is missing or
    // not allowed.
    static std::optional<platform::HttpRequest> request(const mmApiKeyItem& keys, const QImage& image);
    // What a reply comes to. Words are followed by a blank unless the
    // reply's language contains "zh"; every line ends with a line feed. A
    // reply without words, a status other than 200 and a transport error are
    // failures with their reason.
    static OcrResult readReply(const platform::HttpResponse& response);

private:
    const MMUserInfo& user_;
};
