#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <optional>

// The envelope of a service reply, {"code", "desc", "data", "sid"}, and the
// rules by which the HTTP wrappers and their callers read reply values.
// Replies are QVariant trees as QJsonDocument::toVariant() builds them
// (integers as qlonglong, other numbers as double).
class HLBaseResponse {
public:
    // Reads the envelope from a parsed reply; nullopt when the reply is not a
    // JSON object. Missing fields stay empty; "code", "desc" and "sid" are
    // read as text, so {"code": 0} gives the code "0".
    static std::optional<HLBaseResponse> fromJson(const QVariant& json);

    QString code() const { return code_; }
    void setCode(const QString& code) { code_ = code; }
    QString desc() const { return desc_; }
    void setDesc(const QString& desc) { desc_ = desc; }
    QVariant data() const { return data_; }
    void setData(const QVariant& data) { data_ = data; }
    QString sid() const { return sid_; }
    void setSid(const QString& sid) { sid_ = sid; }

    // The JSON text as a QVariant tree; nullopt for an empty body or one that
    // is not a JSON object or array.
    static std::optional<QVariant> parseJson(const QByteArray& body);

    // A reply value read as an integer, the way codes are read: integers as
    // they are, other numbers truncated toward zero (clamped to 64 bits, NaN
    // 0), booleans 1 and 0, text by its leading decimal number after blanks
    // ("12abc" 12, "abc" 0, clamped on overflow), anything else 0.
    static qint64 integerValue(const QVariant& value);
    // A reply value read as text: text as it is, numbers in decimal, booleans
    // "1" and "0"; anything else gives a null text.
    static QString textValue(const QVariant& value);

private:
    QString code_;
    QString desc_;
    QVariant data_;
    QString sid_;
};
