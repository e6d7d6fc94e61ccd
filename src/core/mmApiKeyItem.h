#pragma once

#include <QJsonObject>
#include <QString>

// The per-device cloud credentials, one text per JSON key of the back end's
// credential document. Unknown keys are ignored; a missing key (or one that
// does not hold a text) leaves its property null.
class mmApiKeyItem {
public:
    static mmApiKeyItem fromJson(const QJsonObject& json);
    QJsonObject toJson() const; // the keys that have a value

    QString cn_urlstr;
    QString iat_appid, iat_appkey, iat_appsecret;
    QString ots_appid, ots_appkey, ots_appsecret;
    QString ocr_appid, ocr_appkey, ocr_appsecret;
    QString int_urlstr;
    QString int_iat_appid, int_iat_appkey, int_iat_appsecret;
    QString int_ocr_appid, int_ocr_appkey, int_ocr_appsecret;
    QString int_ots_appid, int_ots_appkey, int_ots_appsecret;
    QString azure_ocr_key, azure_ocr_url;
    QString azure_translate_key, azure_translate_url;

    bool operator==(const mmApiKeyItem&) const = default;

private:
    template <typename F>
    static void forEachField(F&& f, auto& item);
};
