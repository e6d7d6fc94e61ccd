#include "core/mmApiKeyItem.h"

template <typename F>
void mmApiKeyItem::forEachField(F&& f, auto& item)
{
    f("cn_urlstr", item.cn_urlstr);
    f("iat_appid", item.iat_appid);
    f("iat_appkey", item.iat_appkey);
    f("iat_appsecret", item.iat_appsecret);
    f("ots_appid", item.ots_appid);
    f("ots_appkey", item.ots_appkey);
    f("ots_appsecret", item.ots_appsecret);
    f("ocr_appid", item.ocr_appid);
    f("ocr_appkey", item.ocr_appkey);
    f("ocr_appsecret", item.ocr_appsecret);
    f("int_urlstr", item.int_urlstr);
    f("int_iat_appid", item.int_iat_appid);
    f("int_iat_appkey", item.int_iat_appkey);
    f("int_iat_appsecret", item.int_iat_appsecret);
    f("int_ocr_appid", item.int_ocr_appid);
    f("int_ocr_appkey", item.int_ocr_appkey);
    f("int_ocr_appsecret", item.int_ocr_appsecret);
    f("int_ots_appid", item.int_ots_appid);
    f("int_ots_appkey", item.int_ots_appkey);
    f("int_ots_appsecret", item.int_ots_appsecret);
    f("azure_ocr_key", item.azure_ocr_key);
    f("azure_ocr_url", item.azure_ocr_url);
    f("azure_translate_key", item.azure_translate_key);
    f("azure_translate_url", item.azure_translate_url);
}

mmApiKeyItem mmApiKeyItem::fromJson(const QJsonObject& json)
{
    mmApiKeyItem item;
    forEachField(
        [&json](const char* key, QString& field) {
            const QJsonValue v = json.value(QLatin1String(key));
            if (v.isString())
                field = v.toString();
        },
        item);
    return item;
}

QJsonObject mmApiKeyItem::toJson() const
{
    QJsonObject json;
    forEachField(
        [&json](const char* key, const QString& field) {
            if (!field.isNull())
                json.insert(QLatin1String(key), field);
        },
        *this);
    return json;
}
