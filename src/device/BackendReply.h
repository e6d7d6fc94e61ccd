#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <optional>

// A JSON reply of the maker's back end, as far as the application reads it:
// the integers "code" and "errCode" and the payload "data". Integers are read
// from numbers or numeric text; a missing key reads as 0.
class BackendReply {
public:
    // "errCode" of a product-information reply for a serial the back end
    // knows but has no product record for: the first product's defaults apply.
    static constexpr qint64 kErrCodeDefaultProduct = 10002;
    // "errCode" of a product-information reply that must change nothing.
    static constexpr qint64 kErrCodeNoProduct = 10000;

    // Nothing when the reply is not a JSON object.
    static std::optional<BackendReply> fromJson(const QVariant& json);

    qint64 code() const { return code_; }
    qint64 errCode() const { return errCode_; }
    QVariant data() const { return data_; }
    // "data" when it is an object; an empty map otherwise.
    QVariantMap dataObject() const;
    // "data" as text: text as it is, numbers in decimal; null otherwise.
    QString dataText() const;

private:
    qint64 code_ = 0;
    qint64 errCode_ = 0;
    QVariant data_;
};
