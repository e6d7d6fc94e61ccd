#include "device/BackendReply.h"

#include "core/HLBaseResponse.h"

namespace {
const QString kCode = QStringLiteral("code");
const QString kErrCode = QStringLiteral("errCode");
const QString kData = QStringLiteral("data");
} // namespace

std::optional<BackendReply> BackendReply::fromJson(const QVariant& json)
{
    if (json.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap object = json.toMap();
    BackendReply reply;
    reply.code_ = HLBaseResponse::integerValue(object.value(kCode));
    reply.errCode_ = HLBaseResponse::integerValue(object.value(kErrCode));
    reply.data_ = object.value(kData);
    return reply;
}

QVariantMap BackendReply::dataObject() const
{
    return data_.typeId() == QMetaType::QVariantMap ? data_.toMap() : QVariantMap();
}

QString BackendReply::dataText() const
{
    return HLBaseResponse::textValue(data_);
}
