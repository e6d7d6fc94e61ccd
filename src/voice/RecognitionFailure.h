#pragma once

#include <QString>

// Why a dictation stopped without the service: reported once, after which the
// client takes no more audio for that dictation.
enum class RecognitionFailure {
    // The service address or a credential of the region in use is missing.
    MissingCredentials,
    // The service could not be reached or kept answering with errors, after
    // the bounded number of reconnections.
    ConnectionFailed,
};

// The interface-string key (see LGNLocalizedString) of the text the speech
// window shows for a failure.
inline QString recognitionFailureMessageKey(RecognitionFailure failure)
{
    switch (failure) {
    case RecognitionFailure::MissingCredentials:
        return QStringLiteral(" apikey 不存在 ");
    case RecognitionFailure::ConnectionFailed:
        return QStringLiteral("请检查网络");
    }
    return {};
}
