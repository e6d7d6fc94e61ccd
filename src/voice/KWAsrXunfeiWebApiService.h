#pragma once

#include "voice/EarlierDictationClient.h"

// The earlier dictation client of either region: the mainland service (the
// back end's endpoint, or the minor-language one for languages other than
// Chinese and English, with the mainland credentials) when the region is
// "cn", the overseas service otherwise. Always asks for dynamic correction;
// sessions end after two seconds of silence.
class KWAsrXunfeiWebApiService final : public EarlierDictationClient {
public:
    static constexpr int kVadEos = 2000;

    static KWAsrXunfeiWebApiService& sharedKWAsrXunfeiWebApiService();

    explicit KWAsrXunfeiWebApiService(Environment environment, QObject* parent = nullptr);

    void setMinorLanguageEndpoint(const QString& endpoint) { minorLanguageEndpoint_ = endpoint; }

protected:
    Service serviceFor(const mmApiKeyItem& keys, const QString& language) const override;
    QJsonObject businessParameters(const QString& language, quint64 punctuation) const override;
    void appendReply(const QString& text, bool last) override;
    void replaceReply(const QString& text) override;

private:
    QString minorLanguageEndpoint_;
};
